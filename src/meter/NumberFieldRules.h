#pragma once

#include <QString>

#include <vector>

// The number fields of both meter forms: which field takes a whole or a decimal number, the
// caption the user knows it by, and whether a typed text may stand. A form checks a field's text
// when the field is left and before Save, Send or Convert collect it; a refused text never
// reaches a variable. Field ids are those of FieldIds.h and QXFieldIds.h.
class NumberFieldRules
{
public:
    enum class Kind { Whole, Decimal };
    struct Field
    {
        int id;
        const char *caption;
        Kind kind;
    };

    static const std::vector<Field> &Kelvane();
    static const std::vector<Field> &Quixal();
    // The field of id in fields; null when id is no number field.
    static const Field *Find(const std::vector<Field> &fields, int id);

    // Empty when text, white space around it aside, is one usable number of the field's kind
    // (as the C library scans it: a whole number within 32 bits, or a finite decimal number);
    // otherwise the message that refuses it, naming the field and what it accepts.
    static QString Refusal(const Field &field, const QString &text);
};
