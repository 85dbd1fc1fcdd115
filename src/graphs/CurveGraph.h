#pragma once

#include "graphs/CurveSource.h"
#include "graphs/GraphPicture.h"

#include <QStringList>

#include <array>
#include <vector>

// The geometry of the sensor curve and linear output graphs, free of any widget: the lists each
// dialog shows, the grids, tick labels, titles and traces, in a logical space where the plot is
// x 0..1000 by y -1000..0 (5 V = 1000 units). CurveGraphDialog builds its picture here, for
// each kind of graph, on every paint.
class CurveGraph
{
public:
    enum class Kind { PolyCurve, QXPolyCurve, PolyLine, QXPolyLine };
    struct Traces
    {
        bool red = true;
        bool yellow = true;
        bool green = true;
    };

    static constexpr GraphPicture::Color kFineGrid { 166, 202, 240 };
    static constexpr GraphPicture::Color kMainGrid { 0, 0, 255 };
    static constexpr GraphPicture::Color kRed { 200, 0, 0 };
    static constexpr GraphPicture::Color kYellow { 255, 255, 0 };
    static constexpr GraphPicture::Color kGreen { 0, 255, 0 };
    static constexpr double kTracePen = 8;
    static constexpr double kLabelPoints = 25.0;
    static constexpr double kTitlePoints = 40.0;

    // The dialog's primary list (1053): the ten coefficient lines followed by the three flow
    // parameters in the order this dialog shows them.
    static QStringList PrimaryList(Kind kind, const CurveSource &source);
    // The linear output graph's secondary (1054) and point-wise (1055) lists: filled only when
    // the curve-fit code asks for them.
    static QStringList SecondaryList(const CurveSource &source);
    static QStringList PointWiseList(const CurveSource &source);

    // The sensor curve graph (both series) from the dialog's primary list.
    static GraphPicture SensorCurve(const QStringList &primaryList);
    // The Kelvane linear output graph with the traces switched on.
    static GraphPicture LinearOutput(const CurveSource &source, const QStringList &secondaryList,
        const QStringList &pointWiseList, Traces traces);
    // The Quixal linear output graph.
    static GraphPicture QXLinearOutput(const CurveSource &source);

    // The trace values, one per sample, as the graphs draw them (for tests and benchmarks).
    static std::vector<double> SensorValues(const QStringList &primaryList);
    static std::vector<double> PrimaryValues(const CurveSource &source); // x = 0, 1, ... 1000
    static std::vector<double> SecondaryValues(
        const CurveSource &source, const QStringList &secondaryList); // x = 0, 0.25, ... 1000
    static std::vector<double> PointWiseValues(
        const CurveSource &source, const QStringList &pointWiseList); // x = 0, 0.25, ... 1000
    static std::vector<double> QXValues(const CurveSource &source); // x = 0, 1, ... 1000

    // One step of the point-wise walk: the corrected value of a (volts) over the 21 corrections
    // r (percent, 0 % first). last is the value of the previous sample, which stands when no
    // point lies above a; it is updated.
    static double PointWiseValue(const std::array<double, 21> &r, double a, double &last);

    // A text read as "%f" would read it; no number reads as 0.
    static double Number(const QString &text);

private:
    static GraphPicture Frame(GraphPicture::Color background);
    // The polyline of a trace: from (0, -1000) through every sample whose value lies in the
    // 0..5 V band; samples outside it are skipped, so the line resumes from the last point in it.
    static GraphPicture::Polyline Trace(
        GraphPicture::Color color, double step, const std::vector<double> &values);
};
