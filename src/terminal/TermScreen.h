#pragma once

#include "terminal/TermScrollback.h"

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>

#include <array>

class MeterSession;

// The terminal's character screen: 26 rows of 77 bytes kept as one text, the cursor row and the
// column of the last written character, and the rows and cells that changed since the view last
// asked. Fed from the meter link by the terminal view as bytes arrive; GUI-free, so the
// screen rules and the meter identification scan are testable without a window. What leaves the
// screen goes to its scrollback: the top row a line feed scrolls away at the bottom, and the rows
// holding something that an escape's clear or a line feed's shrink drops.
class TermScreen
{
public:
    static constexpr int kColumns = 77;
    static constexpr int kRows = 26;
    static constexpr int kScreenSize = kColumns * kRows; // 2002
    static constexpr unsigned char kLineFeed = 10;

    // A screen that does not scan for the identification line serves as a display copy (the
    // terminal's timestamp and hex views), so what it shows never sets the meter's identity.
    explicit TermScreen(bool scansIdentification = true);

    // Back to 2002 blanks with the cursor at row 0, column 0; the whole screen needs a repaint.
    // The scrollback stays (ClearHistory empties it).
    void Reset();
    const TermScrollback &History() const { return m_history; }
    void ClearHistory() { m_history.Clear(); }
    // A new timer tick: ends the suppression an escape started in the previous one.
    void StartTick();
    // One received byte: backspace, line feed, carriage return and escape are interpreted, every
    // other value is a character. A carriage return runs the identification scan.
    void Put(unsigned char byte);
    // StartTick, then Put of every byte (one tick's worth of input).
    void FeedTick(const QByteArray &bytes);

    // The screen, row after row; between line feeds it may be shorter than 2002.
    const QByteArray &Text() const { return m_text; }
    // The stored bytes of one row (fewer than 77, or none, when the text is shorter).
    QByteArray RowText(int row) const;
    int Row() const { return m_row; }
    int Column() const { return m_column; }
    bool Suppressed() const { return m_suppressed; }

    // What changed since the last call, in cell units (x = column, y = row; width and height
    // in cells); the whole screen comes back as one rectangle (0, 0, 77, 26). Clears the list.
    QList<QRect> TakeRepaint();
    bool HasRepaint() const;

    // Looks for the meter's identification line in text and updates the four strings from it:
    // model before " v", firmware version after it, revision after "ev.", range number after
    // "er#" (firmware 3.9 and 4.0) or "ge#". The model needs " v" at index 4 or later, the rest
    // needs it past index 25; a revision or number whose marker is missing becomes empty (unknown)
    // rather than whatever character happens to stand near the top of the screen.
    static void ScanIdentification(const QByteArray &text, QString &model, QString &version,
        QString &revision, QString &number);
    // The same into the session of the connected meter (one Changed when anything differs).
    static void ScanIdentification(const QByteArray &text, MeterSession &session);

    // How a stored byte looks: the Windows-1252 character it stands for (what meters were drawn
    // with), a blank for control codes and unassigned values.
    static QChar DisplayChar(unsigned char byte);

private:
    void MarkCell(int row, int column);
    void MarkAll();
    // Rows first..last of the text to the scrollback; all-blank rows only when always is set.
    void KeepRows(qsizetype first, qsizetype last, bool always);

    QByteArray m_text;
    TermScrollback m_history;
    bool m_scansIdentification = true;
    int m_row = 0;
    int m_column = 0;
    bool m_suppressed = false;
    bool m_repaintAll = false;
    // Per row: first and last changed column, or -1 when the row is unchanged.
    std::array<int, kRows> m_dirtyFirst {};
    std::array<int, kRows> m_dirtyLast {};
};
