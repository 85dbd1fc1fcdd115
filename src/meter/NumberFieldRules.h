#pragma once

#include <QString>

#include <vector>

class MeterVars;

// The number fields of both meter forms: which field takes a whole or a decimal number, the
// caption the user knows it by, and whether a typed text may stand. A form checks a field's text
// when the field is left and before Save, Send or Convert collect it; a refused text never
// reaches a variable. Each series' field rules (KelvaneFieldRules, QXFieldRules) hold its
// number fields.
class NumberFieldRules
{
public:
    enum class Kind { Whole, Decimal };
    // What leaving a whole-number field does with a number above the largest it keeps: refuses
    // it, brings it down to that largest (the leave limits of ZarnFormRules and QXFormFields),
    // or brings it within the limits from either side.
    enum class Above { Refused, BroughtDown, BroughtIn };
    struct Field
    {
        int id;
        const char *caption;
        Kind kind;
        // A whole number's variable: its size in the layout bounds the numbers the field takes.
        const char *variable = nullptr;
        // Whether a 1- or 2-byte variable is shown signed (a 4-byte one always is).
        bool negative = false;
        // The largest number the field keeps, when smaller than what its variable holds.
        qint64 most = 0;
        Above above = Above::Refused;
    };

    // A whole number field's check (its id given by the table holding it), and a decimal one's.
    static Field Whole(const char *caption, const char *variable, bool negative = false,
        qint64 most = 0, Above above = Above::Refused)
    {
        return { 0, caption, Kind::Whole, variable, negative, most, above };
    }
    static Field Decimal(const char *caption) { return { 0, caption, Kind::Decimal }; }

    // The field of id in fields; null when id is no number field.
    static const Field *Find(const std::vector<Field> &fields, int id);

    // Empty when text, white space around it aside, is one usable number of the field's kind
    // (as the C library scans it: a whole number its variable in layout can hold and show back,
    // or a decimal number a float can hold); otherwise the message that refuses it, naming the
    // field and what it accepts. Without a layout (or one that lacks the variable) a whole
    // number is bounded only by 32 bits and the field's largest.
    static QString Refusal(
        const Field &field, const QString &text, const MeterVars *layout = nullptr);
};
