#pragma once

#include "meter/FieldRules.h"

// The Kelvane form's field rules by field id (FieldIds.h): the form checks and limits its
// fields by them, KelvaneSeriesModel takes tarvik-cli's values through them and shows a file's
// rows by them, its field model keeps each field as its kind says, and the datasheet prints
// the fields firmware before 4.1A lacks only for a later firmware.
class KelvaneFieldRules : public FieldRules
{
public:
    static const FieldRules &Table();

private:
    explicit KelvaneFieldRules(std::vector<FieldRule> rules)
        : FieldRules(FlowRows(), std::move(rules))
    {
    }
};
