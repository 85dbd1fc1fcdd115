#pragma once

#include "graphs/CPolyCurve.h"

// The sensor curve graph of the Quixal form ("Curve"): the Kelvane sensor curve dialog over the
// Quixal coefficient list. Modal; copies what it needs from the form when it opens.
class CQXPolyCurve : public CPolyCurve
{
    Q_OBJECT
public:
    explicit CQXPolyCurve(const CurveSource &source, QWidget *parent = nullptr);
};
