#pragma once

#include "meter/UnitConversion.h"

#include <QString>

#include <functional>
#include <optional>

class IFieldAccess;
class MeterVars;

// The moves between one variable and one field that both meter series share: numbers, floats
// and coefficient lists shown with a C format and collected back, and the cross-section and
// ranges converted to and from engineering units. KelvaneFields and QXFields build their
// vocabularies from these.
//
// Collection is conservative: a field that holds no number leaves its variable as it is, and a
// float field whose text is still what its stored value shows keeps the stored bits, so a form
// nobody edited gives back exactly the values it was given.
class FieldTransfer
{
public:
    static QString Bool(bool on); // "TRUE" / "FALSE"
    static bool IsTrue(IFieldAccess &form, int id);
    // A name with an index: Name("coeff[%d]", 3) is "coeff[3]".
    static QString Name(const char *pattern, int i);

    // "%d" entry into an integer variable of `width` bytes.
    static void CollectInt(
        MeterVars &vars, const QString &name, int width, IFieldAccess &form, int id);
    // A float field: unchanged text (as `show` gives it for the stored value) keeps the stored
    // bits; otherwise `entry` turns the number into the value to store (nothing when it cannot,
    // or when the value is beyond a float).
    static void CollectFloat(MeterVars &vars, const QString &name, IFieldAccess &form, int id,
        const std::function<QString(double)> &show,
        const std::function<std::optional<double>(double)> &entry);
    static void CollectPlainFloat(
        MeterVars &vars, const QString &name, IFieldAccess &form, int id, const char *format);
    static void ShowFloat(
        MeterVars &vars, const QString &name, IFieldAccess &form, int id, const char *format);

    // The packed calibration date: "%02d/%02d/%02d" of bits 16-23, 24-31 and 8-15; entry
    // "a/b/c" stores b, a and c in those bytes (bits 0-7 zero). A date without all three parts,
    // or unchanged text, leaves the variable as it is.
    static void ShowDate(MeterVars &vars, const QString &name, IFieldAccess &form, int id);
    static void CollectDate(MeterVars &vars, const QString &name, IFieldAccess &form, int id);
    static QString DateText(quint32 date);

    // A coefficient list: emptied through resetId, then one "%.8e" line per variable; collected
    // back after resetId has put the list walk at its first line.
    static void ShowList(MeterVars &vars, const char *pattern, int count, IFieldAccess &form,
        int resetId, int listId);
    static void CollectList(MeterVars &vars, const char *pattern, int count, IFieldAccess &form,
        int resetId, int listId);

    // X-Sect, Max Range and Full Scale (the same field ids on both forms) in the units of `c`.
    static void ShowConverted(
        MeterVars &vars, IFieldAccess &form, const UnitConversion::Context &c);
    // X-Sect first, then the two ranges against the cross-section just stored.
    static void CollectConverted(
        MeterVars &vars, IFieldAccess &form, const UnitConversion::Context &c);
    // The form picked other units: the shown values are read with the old context into scratch
    // values, "flow_func" takes the new code and the same values are shown in the new units.
    // No other variable changes.
    static void UnitsChanged(MeterVars &vars, IFieldAccess &form,
        const UnitConversion::Context &old, const UnitConversion::Context &fresh);
};
