#pragma once

#include <QString>

class QLineEdit;
class QScrollArea;
class QWidget;

// Keeps number fields from showing a cut number: a watched field grows to the width of its
// text whenever the text changes (a window that becomes too small for its layout scrolls
// instead, see Scrolling), and shows the text from its first character. Used by the meter
// forms and the Modbus window.
class FieldWidth
{
public:
    // The field is at least as wide as `sample` (the longest text its format usually gives)
    // and grows to fit any longer text it is given.
    static void Watch(QLineEdit *edit, const char *sample = nullptr);
    // Width a field needs to show text whole.
    static int Needed(const QLineEdit *edit, const QString &text);
    // Makes a field read-only or writable and lets it look so: a read-only field takes the
    // window's background instead of the white of a field the user can type into.
    static void SetReadOnly(QLineEdit *edit, bool readOnly);
    // Puts content into a scroll area that fills view: at its own size content shows whole, in
    // a smaller window it scrolls rather than squeezing the fields.
    static QScrollArea *Scrolling(QWidget *view, QWidget *content);
};
