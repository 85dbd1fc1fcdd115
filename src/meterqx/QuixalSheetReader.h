#pragma once

#include "meterqx/QuixalSheet.h"

class ZarnQXFormView;

// Reads what a Quixal form shows into the datasheet's fields, straight from its controls: the
// texts as displayed (no length check, so printing and every preview repaint never pop a
// message), the entries selected in its lists at the time of printing and its own version and
// revision labels.
class QuixalSheetReader
{
public:
    static QuixalSheet::Fields Read(const ZarnQXFormView &form);
};
