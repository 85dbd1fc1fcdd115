#include "meter/CurveSourceReader.h"

#include "base/IShownFields.h"
#include "meter/FieldIds.h"

#include <algorithm>

CurveSource CurveSourceReader::Read(IShownFields &form, int curveFit)
{
    using namespace FieldId;
    CurveSource source;
    source.fullScale = form.ShownText(FullScale);
    source.cFactor = form.ShownText(CFactor);
    source.zeroOffset = form.ShownText(ZeroOffset);
    source.zeroCutoff = form.ShownText(ZeroCutoff);
    source.primary = form.ShownItems(PrimaryList);
    source.secondary = form.ShownItems(SecondaryList);
    source.pointWise = form.ShownItems(PointWiseList);
    source.curveFit = std::max(0, curveFit);
    return source;
}
