#pragma once

#include "graphs/CurveGraphDialog.h"

// The linear output graph of the Quixal form ("Linear"): the meter's output against flow, one
// trace, the flow scale shifted by C Factor and Zero Offset.
class CQXPolyLine : public CurveGraphDialog
{
    Q_OBJECT
public:
    static constexpr int kPrimaryList = 1053;

    explicit CQXPolyLine(const CurveSource &source, QWidget *parent = nullptr);

protected:
    GraphPicture BuildPicture() const override;
};
