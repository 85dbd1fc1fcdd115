#pragma once

#include "meter/MeterVars.h"

// The Quixal twin of MeterVars: the same layout and image, read from "varsQX.dat" with the
// Quixal rule for choosing the section. The Quixal operations of the meter document build it
// when a read changes the firmware version or the form converts the data.
class QXMeterVars : public MeterVars
{
public:
    static constexpr const char *kLayoutFile = "varsQX.dat";

    // Chooses the section for `requested` by g_DocVersion (which it normalises) and reads it.
    explicit QXMeterVars(const QString &requested);
    // Reads `section` exactly as named, g_DocVersion untouched.
    QXMeterVars(const QString &section, bool exact);

    // The section the version in g_DocVersion leads to; rewrites g_DocVersion to its normal
    // form. Only "[1.3A]" folds onto "[1.0A]"; every other version outside the named rows reads
    // "[4.1A]". Takes its argument by value: callers may pass g_DocVersion itself.
    static QString ChooseSection(QString requested);
};
