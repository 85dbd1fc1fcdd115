// The live trend's data: the ring keeps its bound and its order, and the plot's traces pass
// through the readings (exactly while they are few, thinned to the column extremes when many),
// cut at gaps, with labels and legend.
#include "graphs/TrendPlot.h"
#include "graphs/TrendSeries.h"
#include "modbus/ModbusTrend.h"

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

TEST(TrendPlot, ModbusPollingPausedIsAGapAndTheAxisNamesItsUnits)
{
    ModbusTrend trend;
    const QString one = QStringLiteral("1"), two = QStringLiteral("2");
    // Polled every 2 s, stopped on an error at 4 s, started again 50 s later.
    for (qint64 s : { 0, 2, 4 })
        trend.Reading(1, one, s * 1000, 10);
    trend.Failed(2, two, 4000);
    trend.Pause(54000);
    trend.Pause(54000); // a second start before any reading adds nothing
    for (qint64 s : { 54, 56 }) {
        trend.Reading(1, one, s * 1000, 20);
        trend.Reading(2, two, s * 1000, 30);
    }
    EXPECT_EQ(trend.Series(1).Size(), 6);
    EXPECT_EQ(trend.Series(2).Size(), 3) << "a failure is already a gap: no second one";
    const TrendPlot::Window w { 60000, 60000 };
    const GraphPicture p = TrendPlot::Build(trend.Traces(), w, QStringLiteral("Flow"));
    std::vector<std::vector<QPointF>> traces;
    for (const GraphPicture::Polyline &l : p.lines) {
        if (l.color == ModbusTrend::ColorOf(one) && l.width < 6 && !l.points.empty())
            traces.push_back(l.points);
    }
    ASSERT_EQ(traces.size(), 2u) << "no line across the 50 s nobody polled";
    EXPECT_DOUBLE_EQ(traces[0].back().x(), TrendPlot::X(4000, w));
    EXPECT_DOUBLE_EQ(traces[1].front().x(), TrendPlot::X(54000, w));
    // The pointer's readout: nothing in the pause, the nearest reading either side of it.
    const auto reading = [&](qint64 ms) {
        return TrendPlot::ReadingAt(trend.Traces(), ms, 5000).section(QStringLiteral("   "), 1);
    };
    EXPECT_EQ(reading(3100), QStringLiteral("Address 1: 10   Address 2: -"));
    EXPECT_EQ(reading(30000), QStringLiteral("Address 1: -   Address 2: -"));
    EXPECT_EQ(reading(55100), QStringLiteral("Address 1: 20   Address 2: 30"));
    EXPECT_EQ(TrendPlot::TimeAt(TrendPlot::kWidth / 2, w), 30000);
    EXPECT_EQ(TrendPlot::TimeAt(-5, w), 0);

    // Units: none told yet, one for all, then two kinds; another address forgets its panel's.
    EXPECT_EQ(trend.Units(), QString());
    trend.SetUnits(1, QStringLiteral(" SCFM "));
    trend.SetUnits(2, QStringLiteral("SCFM"));
    EXPECT_EQ(trend.Units(), QStringLiteral("SCFM"));
    trend.SetUnits(2, QStringLiteral("LBPM"));
    EXPECT_EQ(trend.Units(), QStringLiteral("SCFM, LBPM"));
    trend.Reading(2, QStringLiteral("7"), 58000, 1);
    EXPECT_EQ(trend.Units(), QStringLiteral("SCFM"));
    const GraphPicture withUnit
        = TrendPlot::Build(trend.Traces(), w, QStringLiteral("Flow"), trend.Units());
    ASSERT_EQ(withUnit.FindTexts(QStringLiteral("SCFM")).size(), 1u);
    EXPECT_LT(withUnit.FindTexts(QStringLiteral("SCFM")).front()->pos.x(), 0) << "beside the axis";

    // Zoomed to a single point (a window of no width on one reading): a finite picture.
    TrendSeries single;
    single.Append(5000, 7.5);
    for (qint64 span : { qint64(0), qint64(1) }) {
        const GraphPicture dot
            = TrendPlot::Build({ { &single, TrendPlot::ColorOf(0), QStringLiteral("Address 1") } },
                { 5000, span }, QStringLiteral("Flow"), QStringLiteral("SCFM"));
        for (const GraphPicture::Polyline &l : dot.lines) {
            for (const QPointF &point : l.points)
                EXPECT_TRUE(std::isfinite(point.x()) && std::isfinite(point.y())) << span;
        }
    }
}
