#include "graphs/CQXPolyCurve.h"

CQXPolyCurve::CQXPolyCurve(const CurveSource &source, QWidget *parent)
    : CPolyCurve(CurveGraph::Kind::QXPolyCurve, source, parent)
{
}
