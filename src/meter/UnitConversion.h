#pragma once

#include <QString>

#include <optional>

// Engineering-unit conversion of the cross-section ("meter_x"), maximum range ("meter_k") and
// full scale ("meter_s") between the meter's own units and the units code the form shows.
// Every conversion is a factor: shown = |x| / divisor for the cross-section and
// shown = stored × factor for the ranges, so each entry is the exact inverse of the display
// rule applied for the same context. Used by the Kelvane and Quixal variable transfers and the
// form's units change.
class UnitConversion
{
public:
    // What selects the rules: the units code, the document's working layout version, and for
    // layouts before 4.1A the revision letter and firmware of the meter the document came from.
    struct Context
    {
        int units = 0;
        QString docVersion; // ">= 4.1A" selects the current rules, anything else the older ones
        QString revision; // the meter's; its first character is the revision letter
        QString meterVersion; // the meter's firmware version
    };

    // The units code of an Engineering Units line's code: the code less five, within the 32
    // codes a meter knows. Both series, form and file alike.
    static int UnitsOfCode(qint64 lineCode) { return int((lineCode - 5) & 31); }

    static double F(int index);
    static double G(int index);
    static int AreaF(int units);
    static int FlowF(int units);
    static int AreaG(int units);
    static int FlowG(int units);

    static bool IsCurrent(const Context &c) { return c.docVersion == QLatin1String(">= 4.1A"); }

    // Positive divisor: X-Sect shown = |x| / divisor, entry x = shown × divisor.
    static double XSectDivisor(const Context &c);
    // Max Range / Full Scale shown = stored × factor, for the cross-section x as stored.
    static double RangeFactor(const Context &c, double x);

    static double XSectShown(const Context &c, double x);
    static double XSectStored(const Context &c, double shown);
    static double RangeShown(const Context &c, double stored, double x);
    // Nothing when the factor is 0 or not finite (a zero cross-section): no value can be found.
    static std::optional<double> RangeStored(const Context &c, double shown, double x);

    // The texts the form shows ("%f" for the current rules, "%1.6f" for the older ones).
    static QString XSectText(const Context &c, double x);
    static QString RangeText(const Context &c, double stored, double x);
};
