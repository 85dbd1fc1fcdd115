#pragma once

#include "meter/UnitConversion.h"

#include <QString>
#include <QStringList>

class IFieldAccess;
class MeterVars;

// The Quixal variables as the Quixal form shows them: every variable to its field's text
// (VarsToForm) and every field back into the image (FormToVars), and the engineering-units
// change. The cross-section and ranges always use the ">= 4.1A" conversion, whatever the
// Quixal firmware version. Works on any table (MeterVars or QXMeterVars); the meter document
// calls it for its table.
//
// Collection leaves a variable as it is when its field holds no number or its list has no
// selection, keeps a value whose text the user did not change (floats, pulse width, date), and
// changes only bit 7 (Hold Flow) of hold2.
class QXFields
{
public:
    // The list files behind the Quixal form's lists.
    static constexpr const char *kUnitsFile = "units20.dat";
    static constexpr const char *kOutputFile = "out.dat";
    static constexpr const char *kPolarityFile = "freq.dat";
    static constexpr const char *kRelayFile = "alarmsQX.dat";

    static void VarsToForm(MeterVars &vars, IFieldAccess &form);
    static void FormToVars(MeterVars &vars, IFieldAccess &form);
    // The form picked the units code newUnits: X-Sect, Max Range and Full Scale, shown in
    // oldUnits, are re-expressed.
    static void UnitsChanged(MeterVars &vars, IFieldAccess &form, int oldUnits, int newUnits);

    static UnitConversion::Context Context(int units);
    // Pulse width: the stored count of 50 us steps shown in microseconds, limited to 50..950;
    // an entry in microseconds stored as steps, limited to 1..19.
    static int WidthShown(int steps);
    static int WidthStored(int microseconds);
    // The units code of a units list line's code (last four characters): (n - 5) AND 31.
    static int UnitsCode(int lineCode) { return (lineCode - 5) & 31; }
};
