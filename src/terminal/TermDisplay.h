#pragma once

#include "terminal/TermScreen.h"

#include <QByteArray>
#include <QTime>

// What the terminal shows when the technician asks for more than the meter's own screen: the
// time each received line began, the received bytes in hexadecimal, or both. It is fed the same
// bytes as the document's screen and draws them, with its additions, into a screen of its own
// that never runs the identification scan; the document's screen and the scan see only what the
// meter sent. Owned by the terminal document; GUI-free.
class TermDisplay
{
public:
    static constexpr int kHexPerRow = 16;

    TermDisplay();

    // Either toggle changed starts the shown screen afresh (blank, a new line).
    void SetTimestamps(bool on);
    void SetHex(bool on);
    bool Timestamps() const { return m_timestamps; }
    bool Hex() const { return m_hex; }
    // True while a toggle is on: the view then draws Screen() instead of the document's screen.
    bool Active() const { return m_timestamps || m_hex; }

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

    TermScreen m_screen { false };
    bool m_timestamps = false;
    bool m_hex = false;
    bool m_lineStart = true;
    int m_hexCount = 0;
};
