#pragma once

#include "terminal/TermScreen.h"

#include <QByteArray>
#include <QTime>

#include <deque>

// What the terminal shows when the technician asks for more than the meter's own screen: the
// time each received line began, the received bytes in hexadecimal (with an ASCII column), or
// both. It is fed the same bytes as the document's screen and draws them, with its additions,
// into a screen of its own that never runs the identification scan; the document's screen and
// the scan see only what the meter sent. It keeps the last kReplayBytes received (with the time
// of their tick), so a toggle switched on shows what came before it too, not an empty screen.
// Owned by the terminal document; GUI-free.
class TermDisplay
{
public:
    static constexpr int kHexPerRow = 16;
    // With time stamps a hex row holds eight bytes, so stamp, hex and ASCII fit the 76 columns.
    static constexpr int kHexPerStampedRow = 8;
    static constexpr qsizetype kReplayBytes = 1 << 20;
    // Bytes recorded less than kMergeMs after a kept piece join it, up to kMergeBytes.
    static constexpr int kMergeMs = 40;
    static constexpr qsizetype kMergeBytes = 8192;

    TermDisplay();

    // Either toggle changed draws the shown screen afresh from the bytes kept.
    void SetTimestamps(bool on);
    void SetHex(bool on);
    bool Timestamps() const { return m_timestamps; }
    bool Hex() const { return m_hex; }
    // True while a toggle is on: the view then draws Screen() instead of the document's screen.
    bool Active() const { return m_timestamps || m_hex; }

    // Received bytes, kept for drawing them again when a toggle changes (whether or
    // not one is on); the oldest go beyond kReplayBytes.
    void Record(const QByteArray &bytes, const QTime &now);
    qsizetype RecordedBytes() const { return m_recorded; }
    // A new receive tick (ends an escape's suppression on the shown screen).
    void StartTick() { m_screen.StartTick(); }
    // One received byte at local time now; returns the bytes it put on the shown screen (empty
    // while no toggle is on).
    QByteArray Put(unsigned char byte, const QTime &now);

    const TermScreen &Screen() const { return m_screen; }
    TermScreen &Screen() { return m_screen; }

    // The prefix of a stamped line: "hh:mm:ss.zzz ".
    static QByteArray Stamp(const QTime &time);

private:
    void Restart();
    QByteArray Shown(unsigned char byte, const QTime &now);

    struct Chunk
    {
        QTime time;
        QByteArray bytes;
    };

    TermScreen m_screen { false };
    std::deque<Chunk> m_chunks;
    qsizetype m_recorded = 0;
    bool m_timestamps = false;
    bool m_hex = false;
    bool m_lineStart = true;
    QByteArray m_hexRow; // the bytes of the hex row being written, for its ASCII column
};
