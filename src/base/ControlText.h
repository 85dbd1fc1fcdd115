#pragma once

#include <QStringList>

class QWidget;

// What a form's control shows, read without the form's own field rules: an edit's or label's
// text, a list's selected line (empty when nothing is selected), a box's tick, a slider's
// position, the values of a two-column coefficient list. The datasheets read the forms with it,
// so a sheet prints what is on the screen and reading never pops a message.
class ControlText
{
public:
    static QString Text(const QWidget *control);
    static bool Ticked(const QWidget *control);
    static int Position(const QWidget *control);
    // Column `column` of every line of a list view.
    static QStringList Items(const QWidget *control, int column = 1);
    // The meter forms' version and revision labels show "?" until a meter is identified.
    static QString Identified(const QString &label);
};
