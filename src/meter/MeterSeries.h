#pragma once

#include <QString>

// Which meter series a firmware version or a layout section belongs to, and the words the forms
// use when a meter or file of one series reaches the other's form. Kelvane firmware runs from
// 3.9E on, Quixal firmware is 1.x; the layout files name their sections by the same versions.
// The meter forms, the meter documents and the new-form commands ask it.
class MeterSeries
{
public:
    enum Series { Unknown, Kelvane, Quixal };

    // "1.4A", "[1.0A]" are Quixal; "3.9G", "4.0x", ">= 4.1A", "[4.1A]", "4.2C" are Kelvane;
    // "?.??", empty and anything else are Unknown.
    static Series OfVersion(QString version);
    // "Kelvane" or "Quixal" (empty for Unknown).
    static QString Name(Series series);
    // The file extension of a series' meter files: ".mtr", ".qxm" (empty for Unknown).
    static QString Extension(Series series);
    // The series a meter file's name says: ".qxm" (any case) is Quixal, anything else Kelvane.
    static Series OfPath(const QString &path);
    // How to open what belongs to a series: its form and its file type.
    static QString FormOf(Series series);
    // A meter of `answered` series (firmware version) answered a form of the other series: what
    // the user is told. The form is left as it was.
    static QString WrongMeterText(const QString &version, const QString &formName);
};
