#pragma once

#include <QByteArray>
#include <QString>

// Text pasted into the terminal, sent to the meter one byte per receive tick, as typed
// characters reach it (the meter echoes each one and would lose a burst); line ends go as the
// Enter key's carriage return. A paste can be stopped at any byte. Above kMaxBytes (about eleven
// minutes of sending) it is refused whole. GUI-free; the terminal view drives it.
class TermPaste
{
public:
    static constexpr qsizetype kMaxBytes = 16384;

    // Queues text; false (nothing queued) when it is empty or longer than kMaxBytes.
    bool Start(const QString &text);
    void Cancel();
    bool Active() const { return m_next < m_bytes.size(); }
    // The next byte to send, or -1 when nothing is left.
    int Next();
    qsizetype Sent() const { return m_next; }
    qsizetype Total() const { return m_bytes.size(); }

    // The bytes a text is sent as: CR LF, LF and CR each become one carriage return, every other
    // character its low eight bits (as a typed character is sent).
    static QByteArray Bytes(const QString &text);

private:
    QByteArray m_bytes;
    qsizetype m_next = 0;
};
