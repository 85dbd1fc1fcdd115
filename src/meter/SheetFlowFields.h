#pragma once

#include "base/IShownFields.h"

// The flow parameters both series' datasheets print, read from what a form shows: the
// Engineering Units line and the six numbers under it (the same field ids on both forms).
template <typename Fields> void ReadSheetFlowFields(IShownFields &form, Fields &f)
{
    f.unitsLine = form.ShownText(1004);
    f.fullScale = form.ShownText(1018);
    f.cFactor = form.ShownText(1036);
    f.zeroOffset = form.ShownText(1037);
    f.maxRange = form.ShownText(1038);
    f.xSect = form.ShownText(1039);
    f.zeroCutoff = form.ShownText(1053);
}
