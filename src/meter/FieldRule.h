#pragma once

#include "meter/NumberFieldRules.h"

#include <optional>

// How a meter form takes a text into one of its fields: the kind of value the field holds, the
// number check its text passes, the limit leaving the field applies, the id the text is stored
// under, whether leaving the field collects the form into the document and what firmware before
// 4.1A does with it. Each series lists one rule per field id (FieldRules); the form, tarvik-cli's
// set and show, and the datasheet's rows follow that one list.
struct FieldRule
{
    enum class Kind {
        Text, // an edit or a slider: the text as it stands, limited as leaving the field limits it
        Box, // a tick: TRUE or FALSE (on/off, yes/no, 1/0 as well)
        Choice, // a line of one of the form's lists, by its wording or its code
        Coefficients, // one line of a coefficient list (NAME[i]), a decimal number
        Own, // a rule of the series' own (curve fit, calibration date, desired range)
        ReadOnly, // shown, never taken
    };
    // What firmware before 4.1A does with the field: keeps it, refuses it, or refuses it and
    // leaves it off the rows a file shows.
    enum class Early { Kept, Refused, Hidden };
    // A number past high (or at it, when atHigh) becomes highText, one below low becomes
    // lowText (when there is one). A whole limit reads the text as "%d" does and leaves a text
    // without a number as it is; a decimal one reads it as "%f" does, a text without one as 0.
    struct Limit
    {
        double high = 0;
        bool atHigh = false;
        const char *highText = nullptr;
        double low = 0;
        const char *lowText = nullptr;
        bool whole = false;
        // Applied on every change of the text, whoever makes it, not only when the field is left.
        bool everyChange = false;
    };

    int id = 0;
    Kind kind = Kind::Text;
    // The id the text is stored and read under, when not id (an edit through its arrows' id).
    int storedAs = 0;
    // The number check of a number field (its id is the rule's).
    std::optional<NumberFieldRules::Field> number;
    std::optional<Limit> limit;
    bool collectsOnLeave = false;
    Early early = Early::Kept;

    // A table's rows: Of(id, kind), then what else the field has.
    static FieldRule Of(int id, Kind kind = Kind::Text)
    {
        FieldRule rule;
        rule.id = id;
        rule.kind = kind;
        return rule;
    }
    FieldRule StoredAs(int storedId) const
    {
        FieldRule rule = *this;
        rule.storedAs = storedId;
        return rule;
    }
    FieldRule Number(const NumberFieldRules::Field &field) const
    {
        FieldRule rule = *this;
        rule.number = field;
        return rule;
    }
    FieldRule Limited(const Limit &bounds) const
    {
        FieldRule rule = *this;
        rule.limit = bounds;
        return rule;
    }
    FieldRule Collected() const
    {
        FieldRule rule = *this;
        rule.collectsOnLeave = true;
        return rule;
    }
    FieldRule Before41(Early before) const
    {
        FieldRule rule = *this;
        rule.early = before;
        return rule;
    }
    // A limit bringing a number above high (or from high on, with atHigh) down to text.
    static Limit Down(double high, bool atHigh, const char *text, bool whole = false)
    {
        Limit bounds;
        bounds.high = high;
        bounds.atHigh = atHigh;
        bounds.highText = text;
        bounds.whole = whole;
        return bounds;
    }
    // A limit bringing a number below low up to lowText as well.
    static Limit Within(double low, const char *lowText, double high, const char *highText,
        bool whole, bool everyChange)
    {
        Limit bounds = Down(high, false, highText, whole);
        bounds.low = low;
        bounds.lowText = lowText;
        bounds.everyChange = everyChange;
        return bounds;
    }
};
