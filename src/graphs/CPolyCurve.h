#pragma once

#include "graphs/CurveGraphDialog.h"

// The sensor curve graph of the Kelvane form ("Display Curve"/"Curve"): the polynomial of the
// ten primary coefficients, output volts against input volts. Modal; copies what it needs from
// the form when it opens.
class CPolyCurve : public CurveGraphDialog
{
    Q_OBJECT
public:
    static constexpr int kPrimaryList = 1053;

    explicit CPolyCurve(const CurveSource &source, QWidget *parent = nullptr);

protected:
    GraphPicture BuildPicture() const override;
};
