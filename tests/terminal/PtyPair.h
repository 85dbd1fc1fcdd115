#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair standing in for a meter's serial line: the test plays the meter on the
// master side, the link under test opens the slave by its path.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool IsOpen() const { return m_master >= 0; }
    QString SlavePath() const { return m_slavePath; }
    // What the meter sends: all of bytes, or false.
    bool Send(const QByteArray &bytes);
    // What the program sent: reads until count bytes came or timeoutMs passed without them.
    QByteArray Receive(int count, int timeoutMs);

private:
    int m_master = -1;
    QString m_slavePath;
};
