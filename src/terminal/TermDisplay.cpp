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
    m_screen.ClearHistory();
    m_lineStart = true;
    m_hexRow.clear();
    if (!Active())
        return;
    // What came before the toggle, drawn as it would have been, tick by tick.
    for (const Chunk &chunk : m_chunks) {
        m_screen.StartTick();
        for (const char c : chunk.bytes)
            Put(static_cast<unsigned char>(c), chunk.time);
    }
}

void TermDisplay::Record(const QByteArray &bytes, const QTime &now)
{
    if (bytes.isEmpty())
        return;
    // Input arrives in small pieces as it comes; pieces within one tick share the first one's
    // time (a stamp is as precise as a tick), which keeps the list short.
    if (!m_chunks.empty()) {
        Chunk &last = m_chunks.back();
        const int apart = last.time.msecsTo(now);
        if (apart >= 0 && apart < kMergeMs && last.bytes.size() < kMergeBytes) {
            last.bytes += bytes;
            m_recorded += bytes.size();
            return;
        }
    }
    m_chunks.push_back({ now, bytes });
    m_recorded += bytes.size();
    while (m_recorded > kReplayBytes && m_chunks.size() > 1) {
        m_recorded -= m_chunks.front().bytes.size();
        m_chunks.pop_front();
    }
}

QByteArray TermDisplay::Shown(unsigned char byte, const QTime &now)
{
    QByteArray shown;
    if (m_hex) {
        // Rows of sixteen bytes (eight with stamps) and their ASCII column; a line feed from the
        // meter also ends its row, so the rows follow the meter's lines.
        const int perRow = m_timestamps ? kHexPerStampedRow : kHexPerRow;
        if (m_hexRow.isEmpty() && m_timestamps)
            shown += Stamp(now);
        shown += QByteArray::number(byte, 16).rightJustified(2, '0').toUpper() + ' ';
        m_hexRow += char(byte);
        if (m_hexRow.size() == perRow || byte == TermScreen::kLineFeed) {
            shown += QByteArray(3 * (perRow - m_hexRow.size()) + 1, ' ');
            for (const char c : std::as_const(m_hexRow))
                shown += c >= 32 && c < 127 ? c : '.';
            shown += "\r\n";
            m_hexRow.clear();
        }
    } else {
        // The stamp is the time the line's first byte arrived, so it goes in with that byte, at
        // the start of the row whatever column the meter left the cursor in.
        if (m_lineStart)
            shown += '\r' + Stamp(now);
        m_lineStart = byte == TermScreen::kLineFeed;
        shown += char(byte);
    }
    return shown;
}

QByteArray TermDisplay::Put(unsigned char byte, const QTime &now)
{
    if (!Active())
        return QByteArray();
    const QByteArray shown = Shown(byte, now);
    for (const char c : shown)
        m_screen.Put(static_cast<unsigned char>(c));
    return shown;
}

QByteArray TermDisplay::Stamp(const QTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss.zzz ")).toLatin1();
}
