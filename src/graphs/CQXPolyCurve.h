#pragma once

#include "graphs/CurveGraphDialog.h"

// The sensor curve graph of the Quixal form ("Display Curve"/"Curve"): the polynomial of the
// ten primary coefficients, output volts against input volts. Modal; copies what it needs from
// the form when it opens.
class CQXPolyCurve : public CurveGraphDialog
{
    Q_OBJECT
public:
    static constexpr int kPrimaryList = 1053;

    explicit CQXPolyCurve(const CurveSource &source, QWidget *parent = nullptr);

protected:
    GraphPicture BuildPicture() const override;
};
