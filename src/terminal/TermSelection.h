#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>

#include <functional>

class TermScreen;

// A stretch of the terminal screen marked with the mouse, from one cell to another in reading
// order (x = column, y = row), and the text it covers for the clipboard. GUI-free.
class TermSelection
{
public:
    void Begin(const QPoint &cell);
    void Extend(const QPoint &cell);
    void Clear();
    // True when nothing, or a single cell that was only clicked, is marked.
    bool IsEmpty() const { return !m_on || m_anchor == m_end; }
    bool Contains(int row, int column) const;
    // The marked characters row by row, blanks at a row's end left out, rows joined by "\n".
    QString Text(const TermScreen &screen) const;
    // The same over rows given one by one (the rows a view shows, scrolled back or not).
    QString Text(const std::function<QByteArray(int row)> &rowText) const;

private:
    QPoint First() const;
    QPoint Last() const;

    bool m_on = false;
    QPoint m_anchor;
    QPoint m_end;
};
