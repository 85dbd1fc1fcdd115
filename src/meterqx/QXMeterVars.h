#pragma once

#include "meter/MeterVars.h"

// The Quixal twin of MeterVars: the same layout and image, read from "varsQX.dat" with the
// Quixal rule for choosing the section. The Quixal operations of the meter document build it
// when a read changes the firmware version or the form converts the data.
class QXMeterVars : public MeterVars
{
public:
    static constexpr const char *kLayoutFile = "varsQX.dat";

    // Chooses the section for `requested` by the working version *version (which it
    // normalises) and reads it.
    QXMeterVars(const QString &requested, QString *version);
    // Reads `section` exactly as named.
    QXMeterVars(const QString &section, bool exact);

    // The section the working version *version leads to; rewrites *version to its normal form.
    // Only "[1.3A]" folds onto "[1.0A]"; every other version outside the named rows reads
    // "[4.1A]". Takes `requested` by value: callers may pass *version itself.
    static QString ChooseSection(QString requested, QString *version);
};
