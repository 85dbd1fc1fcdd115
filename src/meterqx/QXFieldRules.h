#pragma once

#include "meter/FieldRules.h"

// The Quixal form's field rules by field id (QXFieldIds.h): the form checks and limits its
// fields by them and QuixalSeriesModel takes tarvik-cli's values through them.
class QXFieldRules
{
public:
    static const FieldRules &Table();
};
