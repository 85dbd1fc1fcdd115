#pragma once

#include "base/IShownFields.h"
#include "meter/FieldIds.h"

// The flow parameters both series' datasheets print, read from what a form shows: the
// Engineering Units line and the six numbers under it (the same field ids on both forms).
template <typename Fields> void ReadSheetFlowFields(IShownFields &form, Fields &f)
{
    f.unitsLine = form.ShownText(FieldId::Units);
    f.fullScale = form.ShownText(FieldId::FullScale);
    f.cFactor = form.ShownText(FieldId::CFactor);
    f.zeroOffset = form.ShownText(FieldId::ZeroOffset);
    f.maxRange = form.ShownText(FieldId::MaxRange);
    f.xSect = form.ShownText(FieldId::XSect);
    f.zeroCutoff = form.ShownText(FieldId::ZeroCutoff);
}
