#pragma once

#include "meter/FieldRules.h"

// The Kelvane form's field rules by field id (FieldIds.h): the form checks and limits its
// fields by them, KelvaneSeriesModel takes tarvik-cli's values through them and shows a file's
// rows by them.
class KelvaneFieldRules
{
public:
    static const FieldRules &Table();
};
