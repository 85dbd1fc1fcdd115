#pragma once

#include <QByteArray>

class QKeyEvent;

// What a key pressed in the terminal window types for the meter: Return and Enter a carriage
// return, Ctrl with a letter its control code, any other key the low eight bits of its text.
// The program's accelerators (and Delete) type nothing and go on to the main frame.
class TermKeys
{
public:
    // The bytes the key types; empty with *passOn set when the key belongs to the program, empty
    // alone when it types nothing (a lone modifier, an arrow the view does not handle).
    static QByteArray Typed(const QKeyEvent *event, bool *passOn);
    // Keys of the program-wide accelerator table.
    static bool IsAccelerator(const QKeyEvent *event);
};
