#pragma once

#include "graphs/CurveGraph.h"
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
    // The Quixal curve is this dialog with the Quixal list of coefficients.
    CPolyCurve(CurveGraph::Kind kind, const CurveSource &source, QWidget *parent);
    GraphPicture BuildPicture() const override;
};
