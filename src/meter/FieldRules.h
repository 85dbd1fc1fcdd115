#pragma once

#include "meter/FieldRule.h"
#include "meter/NumberFieldRules.h"

#include <QString>

#include <vector>

class MeterVars;

// A series' field rules by field id (FieldRule), and what follows from them for every field
// alike: the number checks the form makes when a field is left, the text leaving a field leaves
// in it, and the refusals a text given to a field meets before it is stored. KelvaneFieldRules
// and QXFieldRules hold one table each.
class FieldRules
{
public:
    explicit FieldRules(std::vector<FieldRule> rules);

    // The rule of id, or of the field stored under id; null for an id the table lacks.
    const FieldRule *Find(int id) const;
    const std::vector<FieldRule> &All() const { return m_rules; }
    // The number fields, for the form's checks (NumberFieldRules).
    const std::vector<NumberFieldRules::Field> &Numbers() const { return m_numbers; }

    // The text field id holds after it is left; other fields keep their text.
    QString Leave(int id, const QString &text) const;
    // The text field id holds after any change (the limits applied on every change).
    QString Changed(int id, const QString &text) const;
    bool CollectsOnLeave(int id) const;
    bool IsReadOnly(int id) const;
    static QString Limited(const FieldRule::Limit &limit, const QString &text);

    // Why text cannot go into the field of rule as it is given (caption names the field in the
    // messages): a read-only field, a field firmware before 4.1A lacks (unless extended), a
    // number the field cannot hold in layout, a box given neither TRUE nor FALSE, a coefficient
    // that is no decimal number. Empty when the rule takes it.
    static QString Refusal(const FieldRule &rule, const QString &caption, const QString &text,
        bool extended, const MeterVars *layout);
    // What a box takes from the user: true/on/yes/1 and false/off/no/0 in any case.
    static bool BoxValue(const QString &text, bool *on);

private:
    std::vector<FieldRule> m_rules;
    std::vector<NumberFieldRules::Field> m_numbers;
};
