#pragma once

#include "meter/UnitConversion.h"

#include <QString>

class IFieldAccess;
class MeterVars;

// The Kelvane variables as the meter form shows them: every variable to its field's text
// (VarsToForm) and every field back into the image (FormToVars), by the rules of a firmware
// family (">= 4.1A", "3.9G" or "4.0x"). The meter document calls it for its
// table; the form reaches it through the document.
//
// A field that holds no number leaves its variable as it is. A float field whose text is still
// what its stored value shows leaves the stored value untouched, so collecting a form nobody
// edited changes no stored bits (apart from the fixed "key" and "flow_prec" and the range
// bytes, which collection always rebuilds).
class KelvaneFields
{
public:
    // What decides how the fields show and collect the variables: the firmware family
    // (">= 4.1A", "4.0x", "3.9G", or any other text for a layout with neither rule set) and,
    // for the families before 4.1A, the revision letter and firmware version of the meter the
    // values belong to. A form keeps the rules it showed its values under and collects under
    // the same rules.
    struct Rules
    {
        QString family;
        QString revision;
        QString meterVersion;
        bool operator==(const Rules &other) const = default;
    };
    // The family whose rules fit a table built from section: "[3.9G]" gives "3.9G", "[4.0A]"
    // "4.0x", "[4.1A]" ">= 4.1A"; any other "[name]" gives name; an empty section gives empty.
    static QString FamilyOfSection(const QString &section);

    static void VarsToForm(MeterVars &vars, IFieldAccess &form, const Rules &rules);
    static void FormToVars(MeterVars &vars, IFieldAccess &form, const Rules &rules);
    // The form picked other engineering units: X-Sect, Max Range and Full Scale are read with the
    // code the form showed them in (oldUnits), "flow_func" takes the new code and the same values
    // are shown again in the new units. No other variable changes.
    static void UnitsChanged(
        MeterVars &vars, IFieldAccess &form, int oldUnits, int newUnits, const Rules &rules);

    // The conversion context of rules for a units code.
    static UnitConversion::Context Context(int units, const Rules &rules);
    // "units15.dat" for the 3.9G family, else "units20.dat".
    static QString UnitsFile(const QString &family);
    // "Calibration Due" as typed: "mm/dd/yy", or "dd.mm.yy" as the form shows dates while its
    // day-first flag is set. The month, day and year, or false when the text is neither.
    static bool ParseDate(const QString &text, int *month, int *day, int *year);
    static QString CurveFitText(int index); // the four curve-fit choices, "" past them
    static int CurveFitIndex(const QString &text); // 0 for a text matching none of choices 1..3
};
