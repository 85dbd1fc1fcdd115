#pragma once

#include "base/AppCommand.h"

class QWidget;

// The Edit menu's Undo, Cut, Copy and Paste on the widget that has the keyboard focus, for the
// views that leave them to it: text fields (line edits, editable choice lists, number boxes,
// text boxes) and lists (Copy takes the selected rows, a choice list's Copy its current text).
// The main frame asks CanDo to enable its items and Do to carry them out.
class FocusEdit
{
public:
    static bool CanDo(AppCommand command, QWidget *focus);
    static bool Do(AppCommand command, QWidget *focus);
};
