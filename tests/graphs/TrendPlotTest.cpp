// The live trend's data: the ring keeps its bound and its order, and the plot's traces pass
// through the readings (exactly while they are few, thinned to the column extremes when many),
// cut at gaps, with labels and legend.
#include "graphs/TrendPlot.h"
#include "graphs/TrendSeries.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(TrendSeries, RingDropsTheOldestAndStaysSorted)
{
    TrendSeries s(5);
    for (int i = 1; i <= 8; ++i)
        s.Append(i * 1000, i * 1.5);
    ASSERT_EQ(s.Size(), 5);
    EXPECT_EQ(s.Capacity(), 5);
    const int expected[] = { 4, 5, 6, 7, 8 };
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(s.At(i).ms, expected[i] * 1000);
        EXPECT_EQ(s.At(i).value, expected[i] * 1.5);
    }
    // Search over the wrapped ring; a time going backwards is held at the newest.
    EXPECT_EQ(s.FirstAtOrAfter(0), 0);
    EXPECT_EQ(s.FirstAtOrAfter(6000), 2);
    EXPECT_EQ(s.FirstAtOrAfter(6500), 3);
    EXPECT_EQ(s.FirstAtOrAfter(9000), 5);
    s.Append(2000, 1);
    EXPECT_EQ(s.Newest().ms, 8000);
    s.Clear();
    EXPECT_EQ(s.Size(), 0);
}

TEST(TrendPlot, TracesPassThroughTheReadingsAndBreakAtGaps)
{
    TrendSeries a, b;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // 0 s .. 100 s; the window is the last 100 s.
    const double values[] = { 10, 20, nan, 40, 30 };
    for (int i = 0; i < 5; ++i)
        a.Append(i * 25000, values[i]);
    b.Append(50000, 5);
    const TrendPlot::Window w { 100000, 100000 };
    const GraphPicture p
        = TrendPlot::Build({ { &a, TrendPlot::ColorOf(0), QStringLiteral("Address 1") },
                               { &b, TrendPlot::ColorOf(1), QStringLiteral("Address 2") } },
            w, QStringLiteral("Flow rate"));
    // The value axis: 0 .. 50 in steps of 10.
    EXPECT_EQ(TrendPlot::ValueRange({ { &a, {}, {} } }, w), std::make_pair(0.0, 50.0));
    const auto y = [](double v) { return -TrendPlot::kHeight + v * TrendPlot::kHeight / 50; };
    std::vector<std::vector<QPointF>> traces;
    for (const GraphPicture::Polyline &l : p.lines) {
        if (l.color == TrendPlot::ColorOf(0) && l.width < 6)
            traces.push_back(l.points);
    }
    ASSERT_EQ(traces.size(), 2u); // cut at the gap
    EXPECT_EQ(traces[0], (std::vector<QPointF> { { 0, y(10) }, { 400, y(20) } }));
    EXPECT_EQ(traces[1], (std::vector<QPointF> { { 1200, y(40) }, { 1600, y(30) } }));
    for (const char *text : { "Address 1", "Address 2", "Flow rate", "0", "50" })
        EXPECT_EQ(p.FindTexts(QString::fromLatin1(text)).size(), 1u) << text;
    EXPECT_EQ(p.texts.size(), 6u + 6u + 1u + 2u); // value and time labels, caption, legend
}

TEST(TrendPlot, ManyPointsAreThinnedToColumnExtremes)
{
    TrendSeries s(100000);
    for (int i = 0; i < 100000; ++i)
        s.Append(i * 100, 50 + 40 * std::sin(i * 0.001) + (i % 10 == 3 ? 5 : 0));
    const TrendPlot::Window w { 99999 * 100, 60 * 60 * 1000 }; // the last hour: 36,000 points
    const GraphPicture p
        = TrendPlot::Build({ { &s, TrendPlot::ColorOf(0), QStringLiteral("x") } }, w, QString());
    const GraphPicture::Polyline *trace = nullptr;
    for (const GraphPicture::Polyline &l : p.lines) {
        if (l.color == TrendPlot::ColorOf(0) && l.width < 6)
            trace = &l;
    }
    ASSERT_NE(trace, nullptr);
    EXPECT_LE(trace->points.size(), size_t(4 * (TrendPlot::kColumns + 2)));
    EXPECT_GE(trace->points.size(), size_t(2 * TrendPlot::kColumns));
    // Every peak of the hour is kept: the highest point drawn is the highest reading.
    double highest = -1e9, drawn = -1e9;
    for (int i = s.FirstAtOrAfter(w.endMs - w.spanMs); i < s.Size(); ++i)
        highest = std::max(highest, s.At(i).value);
    for (const QPointF &pt : trace->points)
        drawn = std::max(drawn, pt.y());
    const auto [bottom, top] = TrendPlot::ValueRange({ { &s, {}, {} } }, w);
    EXPECT_NEAR(drawn,
        -TrendPlot::kHeight + (highest - bottom) * TrendPlot::kHeight / (top - bottom), 1e-6);
}
