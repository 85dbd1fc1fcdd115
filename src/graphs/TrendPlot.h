#pragma once

#include "graphs/GraphPicture.h"

#include <QString>

#include <vector>

class TrendSeries;

// A live trend as a GraphPicture: the traces of several series over a time window ending at a
// given time, on a grid with time labels (local clock time) below, value labels at the left and
// a legend of the trace names in their colours above. Each trace is cut at gaps (values that are
// not numbers) and thinned to the first, lowest, highest and last point of each of kColumns
// columns, so a day of points draws as fast as a minute. The value axis fits what is shown.
// Traces are drawn 3 units wide (2 when dense), the legend's marks 6. The Modbus trend window
// and the tests build it; GraphArea draws it.
class TrendPlot
{
public:
    struct Trace
    {
        const TrendSeries *series = nullptr;
        GraphPicture::Color color;
        QString name;
    };
    struct Window
    {
        qint64 endMs = 0; // the right edge
        qint64 spanMs = 5 * 60 * 1000; // the width shown
    };

    // The plot region, in logical units: x 0..kWidth, y -kHeight (bottom) .. 0 (top).
    static constexpr double kWidth = 1600;
    static constexpr double kHeight = 800;
    static constexpr int kColumns = 800;
    static constexpr int kDivisions = 5; // grid lines each way
    static constexpr double kLabelPoints = 20;

    // Builds the picture; caption names the values (e.g. "Flow rate"), unit is written above
    // the value axis (nothing when empty).
    static GraphPicture Build(const std::vector<Trace> &traces, Window window,
        const QString &caption, const QString &unit = QString());
    // The colour of the n-th trace (0-based), distinct for eight traces on black.
    static GraphPicture::Color ColorOf(int n);
    // The bottom and top of the value axis for the points in the window.
    static std::pair<double, double> ValueRange(const std::vector<Trace> &traces, Window window);
    // x of a time in the window.
    static double X(qint64 ms, Window window);
    // The time at x of the window (x clamped to the plot).
    static qint64 TimeAt(double x, Window window);
    // The readout at a time: the clock time, then each trace's name and the value of its reading
    // nearest that time within maxGapMs ("-" for none or a gap).
    static QString ReadingAt(const std::vector<Trace> &traces, qint64 ms, qint64 maxGapMs);
};
