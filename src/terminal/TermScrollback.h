#pragma once

#include <QByteArray>

#include <deque>

// The rows that left a terminal screen, oldest first, bounded: when full the oldest row goes, so
// a meter streaming for days keeps the memory of the last Capacity() rows (10,000 rows of 77
// bytes by default, under 2 MB). Pushed() counts every row ever pushed, so a view scrolled back
// can stay on the rows it shows while new ones arrive. GUI-free; owned by TermScreen.
class TermScrollback
{
public:
    static constexpr int kDefaultCapacity = 10000;

    explicit TermScrollback(int capacity = kDefaultCapacity);

    void Push(const QByteArray &row);
    void Clear();
    int Size() const { return int(m_rows.size()); }
    int Capacity() const { return m_capacity; }
    // The i-th row, 0 the oldest held; empty outside 0..Size()-1.
    QByteArray Row(int i) const;
    qint64 Pushed() const { return m_pushed; }

private:
    std::deque<QByteArray> m_rows;
    int m_capacity = kDefaultCapacity;
    qint64 m_pushed = 0;
};
