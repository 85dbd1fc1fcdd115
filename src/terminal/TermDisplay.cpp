#include "terminal/TermDisplay.h"

TermDisplay::TermDisplay() = default;

void TermDisplay::SetTimestamps(bool on)
{
    if (on != m_timestamps) {
        m_timestamps = on;
        Restart();
    }
}

void TermDisplay::SetHex(bool on)
{
    if (on != m_hex) {
        m_hex = on;
        Restart();
    }
}

void TermDisplay::Restart()
{
    m_screen.Reset();
    m_lineStart = true;
    m_hexCount = 0;
}

QByteArray TermDisplay::Put(unsigned char byte, const QTime &now)
{
    if (!Active())
        return QByteArray();
    QByteArray shown;
    if (m_hex) {
        // Rows of sixteen bytes; a line feed from the meter also ends its row, so the rows
        // follow the meter's lines.
        if (m_hexCount == 0 && m_timestamps)
            shown += Stamp(now);
        shown += QByteArray::number(byte, 16).rightJustified(2, '0').toUpper() + ' ';
        if (++m_hexCount == kHexPerRow || byte == TermScreen::kLineFeed) {
            shown += "\r\n";
            m_hexCount = 0;
        }
    } else {
        // The stamp is the time the line's first byte arrived, so it goes in with that byte, at
        // the start of the row whatever column the meter left the cursor in.
        if (m_lineStart)
            shown += '\r' + Stamp(now);
        m_lineStart = byte == TermScreen::kLineFeed;
        shown += char(byte);
    }
    for (const char c : std::as_const(shown))
        m_screen.Put(static_cast<unsigned char>(c));
    return shown;
}

QByteArray TermDisplay::Stamp(const QTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss.zzz ")).toLatin1();
}
