#pragma once

#include "graphs/CurveSource.h"

class IShownFields;

// Reads what a curve graph opens with from a meter form's field model, as the datasheets are
// read: the flow parameters and the coefficient lists (the same field ids on both forms; a
// series without secondary or point-wise lists gives them empty), with the form's curve-fit
// choice. The forms move their controls into the model first, so a graph shows what the form
// holds for its document.
class CurveSourceReader
{
public:
    static CurveSource Read(IShownFields &form, int curveFit);
};
