// The live E-LOG graph while PC logging: after each snapshot its rows and its plot are those of
// the E-LOG graph of the same log opened afresh; it follows the newest row until the user
// scrolls back; the mouse reads, zooms and drags it.
#include "datalog/CElogGraph.h"
#include "datalog/Datalog.h"
#include "datalog/PcLogger.h"
#include "graphs/GraphArea.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace {

struct LiveRig
{
    LiveRig()
    {
        core.SetClock([this] { return now; });
        view.resize(900, 700);
        view.show();
        view.OnInitialUpdate();
        core.state.meterParametersRead = true;
        core.fields.fileName = dir.filePath(QStringLiteral("live.log"));
        core.fields.options.fill(true);
        core.fields.hour = QStringLiteral("0");
        core.fields.min = QStringLiteral("0");
        core.fields.sec = QStringLiteral("1");
        core.Pc().StartPcLogging();
    }
    // One snapshot of a reading with this flow, a second later.
    void Snapshot(double flow)
    {
        now = now.addSecs(1);
        const QByteArray line = QByteArray::number(flow, 'f', 2)
            + "  SCFM  1000.5  SCF  60.1  2.2  " + (flow > 30 ? "RLY1* " : "RLY1. ") + "RLY2\r";
        for (char c : "\r" + line)
            core.Pc().OnReceivedByte((unsigned char)c);
        core.Pc().SnapshotTick();
    }

    QTemporaryDir dir;
    QDateTime now { QDate(2026, 12, 8), QTime(13, 0, 0) };
    Datalog view { nullptr };
    DatalogCore &core = view.Core();
};

bool SameLines(const GraphPicture &a, const GraphPicture &b)
{
    if (a.lines.size() != b.lines.size())
        return false;
    for (size_t i = 0; i < a.lines.size(); ++i) {
        if (a.lines[i].color != b.lines[i].color || a.lines[i].points != b.lines[i].points)
            return false;
    }
    return true;
}

} // namespace

TEST(LiveGraph, GrowsWithTheLogAndFollowsTheNewestRow)
{
    LiveRig rig;
    ASSERT_TRUE(rig.core.state.loggingActive);
    rig.Snapshot(20);
    rig.view.OnGraph(); // while logging: the live graph, not the modal one
    CElogGraph *graph = rig.view.LiveGraph();
    ASSERT_NE(graph, nullptr);
    EXPECT_TRUE(graph->IsLive());
    EXPECT_FALSE(graph->isModal());
    EXPECT_TRUE(graph->FollowBox()->isChecked());

    // After each snapshot: the log's rows, and the plot the finished-log graph would draw (the
    // time scale of the whole log, until the user picks one).
    const auto sameAsFinished = [&](int step) {
        EXPECT_EQ(graph->Plot().Rows(), rig.core.log.snapshotList) << step;
        ElogPlot fresh(ElogPlot::FromLog(rig.core.log));
        EXPECT_TRUE(SameLines(graph->Area()->Picture(), fresh.DrawRequest())) << step;
        EXPECT_EQ(graph->HighEdit()->text(), fresh.MakeLabels().high) << step;
        EXPECT_EQ(graph->AverageEdit()->text(), fresh.MakeLabels().average) << step;
        EXPECT_EQ(graph->LowEdit()->text(), fresh.MakeLabels().low) << step;
        EXPECT_EQ(graph->RangeCombo()->currentIndex(), fresh.RangeIndex()) << step;
    };
    const double flows[] = { 25.5, 31, 28.25, 40 };
    for (double f : flows) {
        rig.Snapshot(f);
        sameAsFinished(int(f));
    }
    EXPECT_EQ(graph->RowCount(), 5);
    EXPECT_EQ(graph->Plot().High(), 40);
    EXPECT_EQ(graph->Plot().Low(), 20);
    for (int i = 0; i < 30; ++i)
        rig.Snapshot(20 + i % 7);
    sameAsFinished(35); // 35 s of rows: a 40 s scale
    EXPECT_EQ(graph->RangeCombo()->currentText(), QStringLiteral("40"));

    // The mouse reads the row under the pointer: its time and flow.
    const double left = graph->Area()->Map(QPointF(0, 0)).x();
    const double right = graph->Area()->Map(QPointF(2000, 0)).x();
    const QString newest = rig.core.log.snapshotList.last();
    const QStringList fields = newest.split(QLatin1Char(';'));
    const ColumnNumbers &cols = rig.core.log.columns;
    const double perSecond = (right - left) / 40;
    EXPECT_EQ(graph->ReadingAt(left + 35 * perSecond - 1),
        fields[cols.Of(ColumnNumbers::Time)].trimmed() + QStringLiteral("   ")
            + fields[cols.Of(ColumnNumbers::Flow)].trimmed() + QStringLiteral(" SCFM"));
    EXPECT_EQ(graph->ReadingAt(right + 50), QString());
    EXPECT_EQ(graph->ReadingAt(left + 38 * perSecond), QString()); // no row there yet

    // The wheel zooms in about the newest row while following: 20 s shown, newest at the edge,
    // and the next row moves the view on.
    const QPoint mid = graph->Area()->rect().center();
    QWheelEvent in(QPointF(mid), graph->Area()->mapToGlobal(QPointF(mid)), QPoint(), QPoint(0, 120),
        Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(graph->Area(), &in);
    EXPECT_EQ(graph->RangeCombo()->currentText(), QStringLiteral("20"));
    EXPECT_TRUE(graph->FollowBox()->isChecked());
    EXPECT_EQ(graph->Plot().FirstRow(), 35 - 20);
    // The reading under the pointer follows the zoom at once, not at the next mouse move.
    const auto *reading = graph->findChild<QLabel *>(QStringLiteral("pointerReading"));
    ASSERT_NE(reading, nullptr);
    EXPECT_FALSE(graph->ReadingAt(mid.x()).isEmpty());
    EXPECT_EQ(reading->text(), graph->ReadingAt(mid.x()));
    rig.Snapshot(33);
    EXPECT_EQ(graph->Plot().FirstRow(), 36 - 20);
    const GraphPicture::Polyline &trace = graph->Area()->Picture().lines[21];
    ASSERT_EQ(trace.color, ElogPlot::kTrace);
    EXPECT_EQ(trace.points.back().x(), 2000);

    // Dragging right scrolls back five rows: following stops, new rows no longer move the view.
    const double perRow = (right - left) / 20;
    QTest::mousePress(graph->Area(), Qt::LeftButton, {}, mid);
    const QPointF to = QPointF(mid) + QPointF(perRow * 5.5, 0);
    QMouseEvent move(
        QEvent::MouseMove, to, graph->Area()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(graph->Area(), &move);
    QTest::mouseRelease(graph->Area(), Qt::LeftButton, {}, to.toPoint());
    EXPECT_EQ(graph->Plot().FirstRow(), 16 - 5);
    EXPECT_FALSE(graph->FollowBox()->isChecked());
    rig.Snapshot(34);
    EXPECT_EQ(graph->Plot().FirstRow(), 11);
    EXPECT_EQ(graph->RowCount(), 37);

    // Zooming out about the pointer while scrolled back: the row under it stays there.
    const QString before = graph->ReadingAt(mid.x());
    QWheelEvent out(QPointF(mid), graph->Area()->mapToGlobal(QPointF(mid)), QPoint(),
        QPoint(0, -120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(graph->Area(), &out);
    EXPECT_EQ(graph->RangeCombo()->currentText(), QStringLiteral("40"));
    EXPECT_FALSE(before.isEmpty());
    EXPECT_EQ(graph->ReadingAt(mid.x()), before)
        << graph->Plot().FirstRow() << " " << qPrintable(before);

    // Follow newest again.
    graph->FollowBox()->click();
    EXPECT_EQ(graph->Plot().FirstRow(), 0); // 37 rows fit in 40 s
    if (qEnvironmentVariableIsSet("TARVIK_SHOTS"))
        graph->grab().save(qEnvironmentVariable("TARVIK_SHOTS") + QStringLiteral("/live.png"));

    // Stopping adds the log's empty closing entry: no row for the graph.
    rig.core.Pc().StopPcLogging();
    EXPECT_EQ(graph->RowCount(), 37);
}
