#pragma once

#include "graphs/CurveGraph.h"
#include "graphs/CurveGraphDialog.h"

// The linear output graph of the Kelvane form ("Display Linear"): the meter's output against flow
// with up to three traces, each switched by its button. The three trace flags belong to the
// process: every opening sets them on, and they keep their last state after the dialog closes.
class CPolyLine : public CurveGraphDialog
{
    Q_OBJECT
public:
    static constexpr int kPrimaryList = 1053;
    static constexpr int kSecondaryList = 1054;
    static constexpr int kPointWiseList = 1055;
    static constexpr int kRedButton = 1080;
    static constexpr int kYellowButton = 1081;
    static constexpr int kGreenButton = 1082;

    explicit CPolyLine(const CurveSource &source, QWidget *parent = nullptr);

    static CurveGraph::Traces TraceFlags() { return s_traces; }
    // The handlers of the three trace buttons: flip the colour's flag and redraw.
    void OnRed();
    void OnYellow();
    void OnGreen();

protected:
    GraphPicture BuildPicture() const override;

private:
    QWidget *BuildTraceGroup();

    static CurveGraph::Traces s_traces;
};
