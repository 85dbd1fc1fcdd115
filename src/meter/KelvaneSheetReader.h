#pragma once

#include "meter/KelvaneSheet.h"

class IShownFields;

// Reads what a Kelvane form shows into the datasheet's fields: the texts of its edits, the
// selected lines of its lists, its sliders, boxes and coefficient lists, and the form's own
// version state (its document's table section and its version and revision labels), so the
// sheet prints exactly what that form shows whatever another open form has done meanwhile. The
// form passes its controls, the command-line program the field model it filled from the file.
class KelvaneSheetReader
{
public:
    static KelvaneSheet::Fields Read(
        IShownFields &form, const QString &pathName, const QString &section);
};
