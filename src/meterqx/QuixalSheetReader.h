#pragma once

#include "meterqx/QuixalSheet.h"

class IShownFields;

// Reads what a Quixal form shows into the datasheet's fields: the texts as displayed (no length
// check, so printing and every preview repaint never pop a message), the entries selected in its
// lists at the time of printing and its own version and revision labels. The form passes its
// controls, the command-line program the field model it filled from the file.
class QuixalSheetReader
{
public:
    static QuixalSheet::Fields Read(IShownFields &form, const QString &pathName);
};
