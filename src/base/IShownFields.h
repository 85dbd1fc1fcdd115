#pragma once

#include <QStringList>

// What a meter form shows, read without its field rules, so that reading never checks a length
// or pops a message: an edit's or label's text, a list's selected line (empty when nothing is
// selected), a box's tick, a slider's position, the values of a coefficient list. The datasheet
// readers take a form through it, whether the window's controls (ControlText) or the GUI-free
// field model the command-line program fills (KelvaneFormFields, QXFormFields).
class IShownFields
{
public:
    virtual ~IShownFields() = default;
    virtual QString ShownText(int id) = 0;
    virtual bool ShownTicked(int id) = 0;
    virtual int ShownPosition(int id) = 0;
    virtual QStringList ShownItems(int id) = 0;
};
