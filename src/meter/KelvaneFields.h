#pragma once

#include "meter/UnitConversion.h"

#include <QString>

class IFieldAccess;
class MeterVars;

// The Kelvane variables as the meter form shows them: every variable to its field's text
// (VarsToForm) and every field back into the image (FormToVars), by the rules of the firmware
// family in g_DocVersion (">= 4.1A", "3.9G" or "4.0x"). The meter document calls it for its
// table; the form reaches it through the document.
//
// A field that holds no number leaves its variable as it is. A float field whose text is still
// what its stored value shows leaves the stored value untouched, so collecting a form nobody
// edited changes no stored bits (apart from the fixed "key" and "flow_prec" and the range
// bytes, which collection always rebuilds).
class KelvaneFields
{
public:
    static void VarsToForm(MeterVars &vars, IFieldAccess &form);
    static void FormToVars(MeterVars &vars, IFieldAccess &form);
    // The form picked other engineering units: X-Sect, Max Range and Full Scale are read with the
    // old code (g_FlowUnits), "flow_func" takes the new code and the same values are shown again
    // in the new units. No other variable changes.
    static void UnitsChanged(MeterVars &vars, IFieldAccess &form, int newUnits);

    // The conversion context of the document in force (g_DocVersion, g_DocRevision,
    // g_DocMeterVersion) for a units code.
    static UnitConversion::Context Context(int units);
    // "units15.dat" for a 3.9G layout, else "units20.dat".
    static QString UnitsFile();
    static QString CurveFitText(int index); // the four curve-fit choices, "" past them
    static int CurveFitIndex(const QString &text); // 0 for a text matching none of choices 1..3
};
