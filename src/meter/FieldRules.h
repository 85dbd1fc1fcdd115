#pragma once

#include "meter/FieldRule.h"
#include "meter/NumberFieldRules.h"

#include <QString>

#include <vector>

class MeterVars;

// A series' field rules by field id (FieldRule), and what follows from them for every field
// alike: the number checks the form makes when a field is left, the text leaving a field leaves
// in it, and the refusals a text given to a field meets before it is stored. KelvaneFieldRules
// and QXFieldRules hold one table each, written in the names below.
class FieldRules
{
public:
    using Kind = FieldRule::Kind;
    using Early = FieldRule::Early;
    using Limit = FieldRule::Limit;
    using N = NumberFieldRules;
    using Above = NumberFieldRules::Above;

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
    // Whether id (or the field stored under it) is of kind.
    bool Is(int id, Kind kind) const;
    // The fields of kind, in the table's order.
    std::vector<int> IdsOf(Kind kind) const;
    // Whether a field model keeps the text given under id as it stands: an edit's or a label's
    // (Text, Own and ReadOnly), addressed by the id it is stored under. The fields a model keeps
    // in a store of their own (sliders, lists, labels with handlers) it answers before asking.
    bool HoldsText(int id) const;
    // The field id that keeps the text stored under id (an edit for its arrows' id); id itself
    // for any other.
    int FieldOf(int id) const;
    // Whether the field of id is one firmware before 4.1A lacks (refused, or hidden as well),
    // for a form whose firmware is not extended.
    bool Lacks(int id, bool extended) const;
    static QString Limited(const FieldRule::Limit &limit, const QString &text);

    // Why text cannot go into the field of rule as it is given (caption names the field in the
    // messages): a read-only field, a field firmware before 4.1A lacks (unless extended), a
    // number the field cannot hold in layout, a box given neither TRUE nor FALSE, a coefficient
    // that is no decimal number. Empty when the rule takes it.
    static QString Refusal(const FieldRule &rule, const QString &caption, const QString &text,
        bool extended, const MeterVars *layout);
    // What a box takes from the user: true/on/yes/1 and false/off/no/0 in any case.
    static bool BoxValue(const QString &text, bool *on);

protected:
    // A series' table: the rows both series share, then its own.
    FieldRules(std::vector<FieldRule> shared, std::vector<FieldRule> own);
    // The rows both series' tables share (the field ids are the same on both forms): the units
    // pick, which converts the flow fields, and the flow fields, collected when left (the
    // conversions and the curve-fit choice depend on them), Zero Offset bounded on every change.
    static std::vector<FieldRule> FlowRows();

private:
    void Add(std::vector<FieldRule> rules);

    std::vector<FieldRule> m_rules;
    std::vector<NumberFieldRules::Field> m_numbers;
};
