#pragma once

#include "meter/FieldRules.h"

// The Quixal form's field rules by field id (QXFieldIds.h): the form checks and limits its
// fields by them, QuixalSeriesModel takes tarvik-cli's values through them and its field model
// keeps each field as its kind says.
class QXFieldRules : public FieldRules
{
public:
    static const FieldRules &Table();

private:
    explicit QXFieldRules(std::vector<FieldRule> rules)
        : FieldRules(FlowRows(), std::move(rules))
    {
    }
};
