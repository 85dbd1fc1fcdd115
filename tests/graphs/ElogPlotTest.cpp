// The E-LOG graph as data: opening, time scales, the step line, relay lanes, cursor and
// scrolling, labels and the flow scale buttons, and logs with bad rows.
#include "datalog/ElogPlot.h"

#include "datalog/LogData.h"
#include "datalog/LogLoader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

using Col = ElogPlot::Column;

// A display row as the datalogger lists it: "; n" then "; value" and four blanks per column.
QString Row(int number, std::initializer_list<QString> values)
{
    QString row = QStringLiteral("; ") + QString::number(number) + QStringLiteral("    ");
    for (const QString &v : values)
        row += QStringLiteral("; ") + v + QStringLiteral("    ");
    return row;
}

// n rows of flow only (column 2), the flow given by f(number), plus the list's last entry.
ElogPlot::Inputs FlowLog(int n, int interval, double (*f)(int))
{
    ElogPlot::Inputs in;
    for (int i = 1; i <= n; ++i)
        in.entries << Row(i, { QString::number(f(i), 'f', 3) });
    in.entries << QString();
    in.interval = interval;
    in.columns[Col::FlowColumn] = 2;
    in.startTime = QStringLiteral("01:00:00 PM");
    in.flowUnits = QStringLiteral("SCFM");
    return in;
}

const GraphPicture::Polyline *Find(const GraphPicture &p, GraphPicture::Color color, int nth = 0)
{
    for (const GraphPicture::Polyline &l : p.lines) {
        if (l.color == color && nth-- == 0)
            return &l;
    }
    return nullptr;
}

// The trace, the relay lanes and the cursor all use the dark red or green pens; the trace is
// the first dark red polyline.
const GraphPicture::Polyline *Trace(const GraphPicture &p)
{
    return Find(p, ElogPlot::kTrace, 0);
}

double CursorX(const GraphPicture &p)
{
    const GraphPicture::Polyline *c = Find(p, ElogPlot::kCursor);
    EXPECT_NE(c, nullptr);
    return c ? c->points.front().x() : -1;
}

} // namespace

TEST(ElogPlot, TimeScaleChosenBySpan)
{
    struct Case
    {
        qint64 span;
        int range; // Range item
        const char *units;
    };
    const Case cases[] = {
        { 0, 10, "Seconds" },
        { 10, 10, "Seconds" },
        { 11, 20, "Seconds" },
        { 100, 100, "Seconds" },
        { 101, 200, "Seconds" },
        { 200, 200, "Seconds" },
        { 201, 10, "Minutes" },
        { 600, 10, "Minutes" },
        { 4801, 100, "Minutes" },
        { 6000, 100, "Minutes" },
        { 6001, 10, "Hours" },
        { 7000, 10, "Hours" },
        { 360000, 100, "Hours" },
        { 360001, 200, "Hours" },
        { 720000, 200, "Hours" },
        { 720001, 10, "Days" },
        { 8640000, 100, "Days" },
        { 8640001, 200, "Days" },
        { 17280000, 200, "Days" },
        { 17280001, 40, "Weeks" },
        { qint64(1) << 40, 40, "Weeks" },
    };
    for (const Case &c : cases) {
        const auto [range, units] = ElogPlot::ScaleForSpan(c.span);
        EXPECT_EQ(ElogPlot::kRanges[size_t(range)], c.range) << c.span;
        EXPECT_STREQ(ElogPlot::kUnitNames[size_t(units)], c.units) << c.span;
    }
}

TEST(ElogPlot, OpeningThreeEntriesAtFiveSeconds)
{
    ElogPlot::Inputs in;
    // Two rows and the empty entry PC logging puts after them.
    in.entries = QStringList { Row(1, { "12.5" }), Row(2, { "7.5" }), QString() };
    in.interval = 5;
    in.columns[Col::FlowColumn] = 2;
    in.startTime = QStringLiteral("12:30:00 PM");
    in.flowUnits = QStringLiteral("SCFM");
    ElogPlot plot(in);
    EXPECT_EQ(plot.RowCount(), 2); // the last entry, no row, is not plotted
    EXPECT_EQ(plot.Rows().size(), 2);
    EXPECT_EQ(plot.High(), 12.5);
    EXPECT_EQ(plot.Low(), 7.5);
    EXPECT_EQ(plot.Average(), 10.0); // sum over the rows summed
    EXPECT_EQ(ElogPlot::kRanges[size_t(plot.RangeIndex())], 10);
    EXPECT_EQ(plot.UnitsIndex(), 0);
    EXPECT_FALSE(plot.GraphReady());
    plot.DrawRequest();
    EXPECT_TRUE(plot.GraphReady());
    const ElogPlot::Labels l = plot.MakeLabels();
    EXPECT_EQ(l.division, QStringLiteral("1 Seconds/Div"));
    EXPECT_EQ(l.times[0], QStringLiteral("12:30:0 PM"));
    EXPECT_EQ(l.times[10], QStringLiteral("12:30:10 PM"));
    EXPECT_EQ(l.flows[0], QStringLiteral("7.50"));
    EXPECT_EQ(l.flows[5], QStringLiteral("12.50"));
    EXPECT_EQ(l.flows[1], QStringLiteral("8.50"));
    EXPECT_EQ(l.high, QStringLiteral("12.500"));
    EXPECT_EQ(l.average, QStringLiteral("10.000"));
    EXPECT_EQ(l.interval, QStringLiteral("Snapshot Interval Each 5 Seconds"));
    EXPECT_EQ(l.units, QStringLiteral("SCFM"));
    EXPECT_EQ(l.columns[0], QStringLiteral("Line"));
    EXPECT_EQ(l.columns[1], QStringLiteral("Flow"));
    EXPECT_EQ(l.columns[2], QStringLiteral(" "));
}

TEST(ElogPlot, StepLineAndEdges)
{
    // Interval 1 s, 6 rows, span 6 s: Range 10 Seconds, 200 units per row.
    ElogPlot::Inputs in;
    for (double v : { 10.0, 20.0, 15.0, 30.0, 5.0, 20.0 })
        in.entries << Row(int(in.entries.size()) + 1, { QString::number(v) });
    in.entries << QString();
    in.interval = 1;
    in.columns[Col::FlowColumn] = 2;
    in.fullScale = 40;
    ElogPlot plot(in);
    EXPECT_EQ(plot.AxisTop(), 30);
    EXPECT_EQ(plot.AxisBottom(), 5);
    // Lower the top by 2 × 1 % of full scale and raise the bottom by 1 %: 30 and 5 leave the axis.
    EXPECT_TRUE(plot.Press(ElogPlot::FlowButton::HighMinus));
    EXPECT_TRUE(plot.Press(ElogPlot::FlowButton::HighMinus));
    EXPECT_TRUE(plot.Press(ElogPlot::FlowButton::LowPlus));
    EXPECT_DOUBLE_EQ(plot.AxisTop(), 29.2);
    EXPECT_DOUBLE_EQ(plot.AxisBottom(), 5.4);
    const GraphPicture picture = plot.DrawRequest();
    const GraphPicture::Polyline *trace = Trace(picture);
    ASSERT_NE(trace, nullptr);
    const auto y = [&](double v) { return (v - 5.4) * 1000 / (29.2 - 5.4) - 1000; };
    const std::vector<QPointF> want {
        { 0, y(10) },
        { 200, y(10) },
        { 200, y(20) },
        { 400, y(20) },
        { 400, y(15) },
        { 600, y(15) },
        { 600, 0 },
        { 800, 0 }, // 30 above the top: at the top edge
        { 800, -1000 },
        { 1000, -1000 }, // 5 below the bottom: at the bottom edge
        { 1000, y(20) },
        { 1200, y(20) },
    };
    ASSERT_EQ(trace->points.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_NEAR(trace->points[i].x(), want[i].x(), 1e-9) << i;
        EXPECT_NEAR(trace->points[i].y(), want[i].y(), 1e-9) << i;
    }
    // Grid: 11 verticals, 8 horizontals, two edges again in light blue, all 8 units wide.
    int grid = 0, edges = 0;
    for (const GraphPicture::Polyline &l : picture.lines) {
        grid += l.color == ElogPlot::kGrid;
        edges += l.color == ElogPlot::kEdge;
        EXPECT_EQ(l.width, ElogPlot::kPen);
    }
    EXPECT_EQ(grid, 19);
    EXPECT_EQ(edges, 2);
}

TEST(ElogPlot, RelayLanes)
{
    // Flow in column 2, relay 1 in 3, relay 2 in 4; "*" as fourth character means on.
    ElogPlot::Inputs in;
    in.entries << Row(1, { "1.0", "R.", "RL2." }) << Row(2, { "2.0", "RL1*", "RL2*" })
               << Row(3, { "3.0", "RL1.", "RL2*" }) << Row(4, { "4.0", "RL1*", "RLY2*" })
               << QString();
    in.interval = 2; // span 8 s: Range 10 Seconds, 400 units per row
    in.columns[Col::FlowColumn] = 2;
    in.columns[Col::Relay1Column] = 3;
    in.columns[Col::Relay2Column] = 4;
    ElogPlot plot(in);
    const GraphPicture picture = plot.DrawRequest();
    const GraphPicture::Polyline *lane1 = Find(picture, ElogPlot::kTrace, 1);
    const GraphPicture::Polyline *lane2 = Find(picture, ElogPlot::kTrace, 2);
    ASSERT_NE(lane1, nullptr);
    ASSERT_NE(lane2, nullptr);
    // Relay 1 starts off: the first row's two characters "R." end with ".". Relay 2's three
    // characters "RL2" do not end with ". ": it starts on.
    const std::vector<QPointF> want1 { { 0, -1100 }, { 400, -1100 }, { 400, -1050 }, { 800, -1050 },
        { 800, -1100 }, { 1200, -1100 }, { 1200, -1050 }, { 1600, -1050 } };
    const std::vector<QPointF> want2 { { 0, -1150 }, { 0, -1200 }, { 400, -1200 }, { 400, -1150 },
        { 800, -1150 }, { 1200, -1150 }, { 1200, -1200 }, { 1600, -1200 } };
    EXPECT_EQ(lane1->points, want1);
    EXPECT_EQ(lane2->points, want2);

    // No relay columns: no lanes.
    in.columns[Col::Relay1Column] = in.columns[Col::Relay2Column] = 0;
    ElogPlot flowOnly(in);
    EXPECT_EQ(Find(flowOnly.DrawRequest(), ElogPlot::kTrace, 1), nullptr);
}

TEST(ElogPlot, CursorSelectionAndScrolling)
{
    // 90 rows at 1 s: Range 100 Seconds, 20 units per row; half a window is 50 rows.
    ElogPlot plot(FlowLog(90, 1, [](int i) { return double(i % 7); }));
    ASSERT_EQ(ElogPlot::kRanges[size_t(plot.RangeIndex())], 100);
    GraphPicture picture = plot.DrawRequest();
    EXPECT_EQ(plot.CursorRow(), 50); // the first row at x 1000
    EXPECT_EQ(plot.SelectedRow(), 50);
    EXPECT_DOUBLE_EQ(CursorX(picture), 1000);

    struct Step
    {
        int number; // row selected in the list (position number - 1)
        int first, cursor;
        double cursorX;
        const char *leftTime;
    };
    const Step steps[] = {
        { 70, 20, 70, 1000, "1:0:20 PM" }, // after the cursor, beyond the middle: scrolls
        { 60, 10, 60, 1000, "1:0:10 PM" }, // before the cursor: back by the difference
        { 30, 0, 30, 600, "1:0:0 PM" }, // would scroll before the start: from the start
        { 5, 0, 5, 100, "1:0:0 PM" }, { 5, 0, 5, 100, "1:0:0 PM" }, // the cursor row again
        { 40, 0, 40, 800, "1:0:0 PM" }, // after the cursor, left of the middle
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.number);
        plot.SelectRow(s.number - 1);
        picture = plot.Plot();
        EXPECT_EQ(plot.FirstRow(), s.first);
        EXPECT_EQ(plot.SelectedRow(), s.number);
        EXPECT_EQ(plot.CursorRow(), s.cursor);
        EXPECT_DOUBLE_EQ(CursorX(picture), s.cursorX);
        EXPECT_EQ(plot.MakeLabels().times[0], QString::fromLatin1(s.leftTime));
        // The trace starts at the left edge: at the first row's flow only from the start.
        const GraphPicture::Polyline *trace = Trace(picture);
        ASSERT_NE(trace, nullptr);
        EXPECT_EQ(trace->points.front().x(), 0);
        if (s.first > 0) {
            EXPECT_EQ(trace->points.front().y(), -1000);
        }
    }
    // A draw request starts again from the first row with no selection.
    plot.SelectRow(79);
    EXPECT_GT(plot.FirstRow(), 0);
    plot.DrawRequest();
    EXPECT_EQ(plot.FirstRow(), 0);
}

TEST(ElogPlot, TimeZoomAndLabels)
{
    ElogPlot plot(FlowLog(3, 5, [](int) { return 1.0; }));
    plot.SetScale(0, 0);
    EXPECT_FALSE(plot.ZoomIn()); // 10 Seconds is the finest
    EXPECT_EQ(plot.RangeIndex(), 0);
    EXPECT_EQ(plot.UnitsIndex(), 0);
    EXPECT_TRUE(plot.ZoomOut());
    EXPECT_EQ(ElogPlot::kRanges[size_t(plot.RangeIndex())], 20);
    plot.SetScale(6, 0);
    EXPECT_TRUE(plot.ZoomOut()); // 200 Seconds to 10 Minutes
    EXPECT_EQ(plot.RangeIndex(), 0);
    EXPECT_EQ(plot.UnitsIndex(), 1);
    EXPECT_TRUE(plot.ZoomIn()); // and back to 200 Seconds
    EXPECT_EQ(plot.RangeIndex(), 6);
    EXPECT_EQ(plot.UnitsIndex(), 0);
    plot.SetScale(6, 4);
    EXPECT_FALSE(plot.ZoomOut()); // 200 Weeks is the coarsest
    EXPECT_EQ(plot.RangeIndex(), 6);
    EXPECT_EQ(plot.UnitsIndex(), 4);
    EXPECT_EQ(plot.MakeLabels().division, QStringLiteral("20 Weeks/Div"));
    EXPECT_FALSE(plot.TimeFull()); // not before the graph is ready
    plot.DrawRequest();
    EXPECT_TRUE(plot.TimeFull()); // 3 rows at 5 s: 20 Seconds
    EXPECT_EQ(plot.RangeIndex(), 1);
    EXPECT_EQ(plot.UnitsIndex(), 0);

    struct Clock
    {
        const char *start;
        int range, units;
        int k;
        const char *label;
    };
    const Clock clocks[] = {
        { "12:30:00 PM", 0, 0, 0, "12:30:0 PM" },
        { "12:30:00 AM", 0, 0, 0, "12:30:0 AM" },
        { "11:59:55 AM", 0, 0, 10, "12:0:5 PM" }, // noon is 12 PM
        { "11:59:55 PM", 0, 0, 10, "12:0:5 AM" }, // midnight wraps to 12 AM
        { "01:00:00 PM", 6, 2, 10, "9:0:0 PM" }, // 200 hours: 20 hours a division, wraps
        { "09:05:07 AM", 5, 1, 1, "9:15:7 AM" }, // 100 minutes: 10 minutes a division
        { "07:00:00 PM", 6, 4, 10, "7:0:0 PM" }, // 200 weeks, whole days
        { "not a time", 0, 0, 3, "0:0:3" }, // no start time: time since the start
        { "", 0, 0, 0, "0:0:0" },
        { "13:00:00 PM", 0, 0, 0, "0:0:0" },
    };
    for (const Clock &c : clocks) {
        ElogPlot::Inputs in = FlowLog(3, 5, [](int) { return 1.0; });
        in.startTime = QString::fromLatin1(c.start);
        ElogPlot p(in);
        p.SetScale(c.range, c.units);
        EXPECT_EQ(p.MakeLabels().times[size_t(c.k)], QString::fromLatin1(c.label)) << c.start;
    }
}

TEST(ElogPlot, FlowScaleButtons)
{
    using B = ElogPlot::FlowButton;
    struct Case
    {
        B button;
        double top, bottom, full;
        double wantTop, wantBottom;
    };
    const Case cases[] = {
        { B::ZoomIn, 50, 10, 100, 49.5, 10.5 },
        { B::ZoomIn, 10, 9.85, 100, 10, 9.85 }, // would cross: unchanged
        { B::ZoomOut, 50, 10, 100, 50.5, 9.5 },
        { B::ZoomOut, 99.9, 0.2, 100, 100, 0 }, // held at full scale and 0
        { B::Full, 50, 10, 100, 100, 0 }, { B::HighPlus, 50, 10, 100, 51, 10 },
        { B::HighPlus, 99.5, 10, 100, 100, 10 }, { B::HighMinus, 50, 10, 100, 49, 10 },
        { B::HighMinus, 10.5, 10, 100, 10.5, 10 }, // would fall below the bottom
        { B::LowPlus, 50, 10, 100, 50, 11 },
        { B::LowPlus, 50, 49.5, 100, 50, 49.5 }, // would rise above the top
        { B::LowMinus, 50, 10, 100, 50, 9 }, { B::LowMinus, 50, 0.5, 100, 50, 0 },
        // The top label prints the top itself: bottom + span would give "495.91".
        { B::LowPlus, 495.915, 131.04, 1000, 495.92, 141.04 }, { B::Up, 50, 10, 100, 49.95, 9.95 },
        { B::Up, 50, 0.01, 100, 50, 0.01 }, // bottom would fall below 0
        { B::Down, 50, 10, 100, 50.05, 10.05 },
        { B::Down, 99.99, 10, 100, 99.99, 10 }, // top would exceed full scale
        { B::Full, 50, 10, 0, 0, 0 }, // full scale 0: a flat axis
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.top);
        SCOPED_TRACE(int(c.button));
        ElogPlot::Inputs in;
        in.entries << Row(1, { QString::number(c.top) }) << Row(2, { QString::number(c.bottom) })
                   << QString();
        in.columns[Col::FlowColumn] = 2;
        in.fullScale = c.full;
        ElogPlot plot(in);
        plot.Press(c.button);
        EXPECT_NEAR(plot.AxisTop(), c.wantTop, 1e-9);
        EXPECT_NEAR(plot.AxisBottom(), c.wantBottom, 1e-9);
    }
    // The buttons read the axis back from its labels: "%.2f" drops the third decimal.
    ElogPlot::Inputs in;
    in.entries << Row(1, { "50.004" }) << Row(2, { "10.006" }) << QString();
    in.columns[Col::FlowColumn] = 2;
    in.fullScale = 100;
    ElogPlot plot(in);
    plot.Press(B::HighPlus);
    EXPECT_NEAR(plot.AxisTop(), 51.0, 1e-9);
    EXPECT_NEAR(plot.AxisBottom(), 10.01, 1e-9);
    plot.Press(B::Auto); // back to the statistics' "%.3f"
    EXPECT_NEAR(plot.AxisTop(), 50.004, 1e-9);
    EXPECT_NEAR(plot.AxisBottom(), 10.006, 1e-9);
}

TEST(ElogPlot, BadRowsAndFlatAxes)
{
    struct Case
    {
        const char *name;
        QStringList entries;
        int interval;
        double top, bottom; // axis after opening
        std::vector<double> ys; // y of each row's step
    };
    const Case cases[] = {
        { "missing and non-numeric flows are skipped in the statistics",
            { Row(1, { "4" }), Row(2, { "abc" }), QStringLiteral("; 3"), Row(4, { "8" }),
                QString() },
            1, 8, 4, { -1000, -1000, -1000, 0 } },
        { "a constant flow: a flat axis", { Row(1, { "5" }), Row(2, { "5" }), QString() }, 1, 5, 5,
            { -1000, -1000 } },
        { "no number at all", { Row(1, { "x" }), Row(2, { "" }), QString() }, 1, 0, 0,
            { -1000, -1000 } },
        { "interval 0", { Row(1, { "1" }), Row(2, { "3" }), Row(3, { "2" }), QString() }, 0, 3, 1,
            { -1000, 0, -500 } },
        { "rows without numbers stay at the left edge",
            { QStringLiteral(";"), QStringLiteral("garbage"), QString() }, 5, 0, 0, {} },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ElogPlot::Inputs in;
        in.entries = c.entries;
        in.interval = c.interval;
        in.columns[Col::FlowColumn] = 2;
        in.fullScale = 0;
        ElogPlot plot(in);
        EXPECT_EQ(plot.AxisTop(), c.top);
        EXPECT_EQ(plot.AxisBottom(), c.bottom);
        const GraphPicture picture = plot.DrawRequest();
        const GraphPicture::Polyline *trace = Trace(picture);
        ASSERT_NE(trace, nullptr);
        for (const QPointF &p : trace->points) {
            EXPECT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y()));
            EXPECT_TRUE(p.x() >= 0 && p.x() <= 2000);
        }
        if (c.interval != 0) { // rows 200 units apart (Range 10 Seconds)
            for (size_t i = 0; i < c.ys.size(); ++i) {
                const QPointF end(200.0 * double(i + 1), c.ys[i]);
                EXPECT_NE(
                    std::find(trace->points.begin(), trace->points.end(), end), trace->points.end())
                    << "row " << i + 1;
            }
        }
        for (int i = 0; i < plot.RowCount(); ++i)
            plot.SelectRow(i); // never divides by zero, never scrolls below 0
        EXPECT_GE(plot.FirstRow(), 0);
        plot.Plot();
        for (const QString &t : plot.MakeLabels().flows)
            EXPECT_FALSE(t.contains(QLatin1String("nan")) || t.contains(QLatin1String("inf")));
        for (auto b :
            { ElogPlot::FlowButton::ZoomIn, ElogPlot::FlowButton::ZoomOut, ElogPlot::FlowButton::Up,
                ElogPlot::FlowButton::Down, ElogPlot::FlowButton::Full }) {
            plot.Press(b);
            const GraphPicture again = plot.Plot();
            for (const QPointF &p : Trace(again)->points)
                EXPECT_TRUE(p.y() >= -1000 && p.y() <= 0);
        }
    }
    // A flat axis: above it at the top, at or below it and not a number at the bottom.
    ElogPlot flat(FlowLog(2, 1, [](int) { return 5.0; }));
    EXPECT_EQ(flat.FlowY(5.1), 0);
    EXPECT_EQ(flat.FlowY(5.0), -1000);
    EXPECT_EQ(flat.FlowY(-3), -1000);
    EXPECT_EQ(flat.FlowY(std::nan("")), -1000);
}

TEST(ElogPlot, LongLogsDrawOnlyWhatShowsAndKeepEveryStep)
{
    // 20000 rows at 5 s: 100000 s, Hours 40; about 14 rows fall on each unit of x.
    ElogPlot plot(FlowLog(20000, 5, [](int i) { return 50 + 40 * std::sin(i * 0.37); }));
    const GraphPicture picture = plot.DrawRequest();
    const GraphPicture::Polyline *trace = Trace(picture);
    ASSERT_NE(trace, nullptr);
    EXPECT_LT(trace->points.size(), 4u * 2002u);
    // The same vertical extent at every x as the step line drawn row by row.
    std::map<int, std::pair<double, double>> want, got;
    const auto add = [](std::map<int, std::pair<double, double>> &m, double x, double y) {
        auto [it, fresh] = m.try_emplace(int(x), y, y);
        it->second.first = std::min(it->second.first, y);
        it->second.second = std::max(it->second.second, y);
        Q_UNUSED(fresh);
    };
    const double scale = 2000.0 / (40 * 3600);
    double prevX = 0;
    add(want, 0, plot.FlowY(50 + 40 * std::sin(0.37)));
    for (int i = 1; i <= 20000; ++i) {
        const double y = plot.FlowY(50 + 40 * std::sin(i * 0.37));
        const double x = std::min(2000, int(i * scale * 5));
        add(want, prevX, y);
        add(want, x, y);
        prevX = x;
    }
    for (const QPointF &p : trace->points)
        add(got, p.x(), p.y());
    ASSERT_EQ(got.size(), want.size());
    for (const auto &[x, range] : want) {
        ASSERT_NEAR(got[x].first, range.first, 0.01) << x;
        ASSERT_NEAR(got[x].second, range.second, 0.01) << x;
    }
}

TEST(ElogPlot, InputsFromALoadedOrWrittenLog)
{
    LogData log;
    LogLoader::LoadBytes("\"Halvren - PC Datalog Filename a.log\r\n"
                         "\"Full Scale Flow Rate = 120.500000\r\n"
                         "\"Serial#  777   Start Date: 01/31/2007   Time: 02:15:07 PM\r\n"
                         "\r\n"
                         "\"Snapshot Interval = 30 secs   Flow Units = LBPM   Total Units = LBP\r\n"
                         "\r\n"
                         "\"Options Selected:\r\r\n"
                         ";Line ; Time ; Flow ; Relay2\r\n"
                         "; 1; 02:15:37 PM ; 1.5   ; RL2* \r\n"
                         "; 2; 02:16:07 PM ; 2.5   ; RL2. \r\n"
                         "; 3; 02:16:37 PM ; 3.5   ; RL2. \r\n"
                         "\r\n"
                         "\"Stop Ocurred 01/31/2007 02:16:40 PM\r\n",
        log);
    ElogPlot::Inputs in = ElogPlot::FromLog(log);
    EXPECT_EQ(log.SerialNumber(), QStringLiteral("777"));
    EXPECT_EQ(in.entries, log.snapshotList);
    EXPECT_EQ(in.interval, 30);
    EXPECT_EQ(in.fullScale, 120.5);
    EXPECT_EQ(in.flowUnits, QStringLiteral("LBPM"));
    EXPECT_EQ(in.startTime, QStringLiteral("02:15:07 PM"));
    EXPECT_EQ(in.columns[ElogPlot::FlowColumn], 3);
    EXPECT_EQ(in.columns[ElogPlot::Relay2Column], 4);
    EXPECT_EQ(in.columns[ElogPlot::DateColumn], 0);
    ElogPlot plot(in);
    // A loaded log has no empty entry after its rows: its last row is graphed and counted.
    EXPECT_EQ(plot.RowCount(), 3);
    EXPECT_EQ(plot.High(), 3.5);
    EXPECT_EQ(plot.MakeLabels().times[0], QStringLiteral("2:15:7 PM"));
    EXPECT_EQ(plot.MakeLabels().columns[2], QStringLiteral("Flow"));
    // Relay 2's lane: on for row 1 ("*" fourth), off for row 2.
    const GraphPicture picture = plot.DrawRequest();
    const GraphPicture::Polyline *lane = Find(picture, ElogPlot::kTrace, 1);
    ASSERT_NE(lane, nullptr);
    EXPECT_EQ(lane->points.back().y(), ElogPlot::kRelay2Off);
    EXPECT_NE(std::find(lane->points.begin(), lane->points.end(),
                  QPointF(lane->points[2].x(), ElogPlot::kRelay2On)),
        lane->points.end());

    // Logged by the PC and not loaded: the start time from the header's "Time: ".
    log.logStartTime.clear();
    EXPECT_EQ(ElogPlot::FromLog(log).startTime, QStringLiteral("02:15:07 PM"));
    log.headerList.clear();
    EXPECT_EQ(ElogPlot::FromLog(log).startTime, QString());
    log.headerList = QStringList { QStringLiteral("\"Serial#     Start Date: 01/31/2007") };
    EXPECT_EQ(log.SerialNumber(), QString()) << "a header without a serial number names none";
}
