// Data out and live trends: the CSV export of a 100,000-row log (written to a file, rename
// included); the Modbus trend of 8 meters x 24 h at a 2 s sweep (345,600 points) built and
// painted at the trend window's size, for a 24 h and a 5 min window, and its memory after a
// second day; the live E-LOG plot's cost while PC logging. Every figure is the median of --runs
// runs.
//   QT_QPA_PLATFORM=offscreen build/bench/bench_trends [--runs N] [--part csv|trend|live]
// (the live part fills a day of PC log rows first, which takes a few minutes).
#include "datalog/CElogGraph.h"
#include "datalog/Datalog.h"
#include "datalog/LogCsvExport.h"
#include "datalog/LogData.h"
#include "datalog/PcLogger.h"
#include "graphs/GraphArea.h"
#include "modbus/ModbusTrend.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double TimeMs(const std::function<void()> &work)
{
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e6;
}

// A PC log of every option, as the datalogger lists its rows while logging.
LogData BigLog(int rows)
{
    LogData log;
    log.headerList = QStringList {
        QStringLiteral("Serial#  12345   Start Date: 01/31/2007   Time: 01:00:00 PM"),
        QStringLiteral("Snapshot Interval = 1 secs   Flow Units = SCFM   Total Units = SCF"),
        QStringLiteral("\"Options Selected:\r"),
        QStringLiteral(";Line ; Date ; Time ; Flow ; Total ; High ; Low ; Relay1 ; Relay2"),
    };
    log.columns.FromHeaderLine(log.headerList.last().toLatin1());
    log.logFlowUnits = QStringLiteral("SCFM");
    log.intervalSeconds = 1;
    log.snapshotList.reserve(rows + 1);
    char row[200];
    for (int i = 1; i <= rows; ++i) {
        const double flow = 40 + 25 * std::sin(i * 0.01);
        const int s = 13 * 3600 + i;
        std::snprintf(row, sizeof row,
            "; %d    ; 01/%02d/2007    ; %02d:%02d:%02d %s    ; %.2f      ; %.1f      ; 70.12    ; "
            "10.03    ; %s    ; %s    ",
            i, 31, (s / 3600 % 12) == 0 ? 12 : s / 3600 % 12, s / 60 % 60, s % 60,
            s / 3600 % 24 < 12 ? "AM" : "PM", flow, i * 0.25, flow > 60 ? "RL1*" : "RL1.",
            flow < 20 ? "RL2*" : "RL2.");
        log.snapshotList << QString::fromLatin1(row);
    }
    log.snapshotList << QString();
    return log;
}

double ThreadCpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// A datalogger form PC logging at 1 s from readings fed to it, on a clock the bench moves.
struct PcLogRig
{
    explicit PcLogRig(const QString &path)
    {
        core.SetClock([this] { return now; });
        view.resize(825, 690);
        view.show();
        view.OnInitialUpdate();
        core.state.meterParametersRead = true;
        core.fields.fileName = path;
        core.fields.options.fill(true);
        core.fields.hour = QStringLiteral("0");
        core.fields.min = QStringLiteral("0");
        core.fields.sec = QStringLiteral("1");
        core.Pc().StartPcLogging();
    }
    void Snapshot(int i)
    {
        now = now.addSecs(1);
        const QByteArray line = "\r" + QByteArray::number(40 + 25 * std::sin(i * 0.01), 'f', 2)
            + "  SCFM  1000.5  SCF  60.1  2.2  " + (i % 50 < 10 ? "RLY1* " : "RLY1. ") + "RLY2\r";
        for (char c : line)
            core.Pc().OnReceivedByte((unsigned char)c);
        core.Pc().SnapshotTick();
    }

    QDateTime now { QDate(2026, 12, 8), QTime(0, 0, 0) };
    Datalog view { nullptr };
    DatalogCore &core = view.Core();
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int runs = 7;
    const char *part = "";
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--part") == 0)
            part = argv[i + 1];
    }
    const auto wanted
        = [part](const char *name) { return *part == 0 || std::strcmp(part, name) == 0; };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    const LogData log = wanted("csv") ? BigLog(100000) : LogData();
    std::vector<double> csv;
    int failures = 0;
    for (int r = 0; r < (wanted("csv") ? runs : 0); ++r) {
        QString error;
        csv.push_back(TimeMs([&] { error = LogCsvExport::WriteFile(log, path); }));
        if (!error.isEmpty()) {
            std::fprintf(stderr, "export failed: %s\n", qPrintable(error));
            ++failures;
        }
    }
    if (wanted("csv") && failures == 0) {
        // Every row is in the file, after its heading line.
        QFile written(path);
        qint64 lines = 0;
        if (written.open(QIODevice::ReadOnly)) {
            while (!written.readLine().isEmpty())
                ++lines;
        }
        if (lines < 100000 + 1) {
            std::fprintf(stderr, "the CSV file holds %lld lines for 100000 rows\n", lines);
            ++failures;
        }
    }
    if (wanted("csv"))
        std::printf(
            "CSV export, 100000 rows to a file: median %.1f ms (limit 500 ms)\n", Median(csv));

    // 8 meters, a reading every 2 s for 24 h.
    ModbusTrend trend;
    if (wanted("trend")) {
        const qint64 t0 = 1'800'000'000'000;
        const int perTrace = 24 * 3600 / 2;
        const auto fill = [&](qint64 from) {
            for (int i = 0; i < perTrace; ++i) {
                for (int m = 1; m <= 8; ++m)
                    trend.Reading(m, QString::number(m), from + qint64(i) * 2000,
                        25.0 * m + 10 * std::sin(i * 0.003 * m) + (i % 17) * 0.1);
            }
        };
        fill(t0);
        std::fflush(stdout);
        std::printf("Trend: %lld points held (%d per trace, %zu bytes a point)\n",
            trend.PointCount(), trend.Series(1).Capacity(), sizeof(TrendSeries::Point));
        GraphArea area;
        area.resize(880, 400);
        QImage image(area.size(), QImage::Format_ARGB32_Premultiplied);
        for (const qint64 span : { qint64(24) * 3600 * 1000, qint64(5) * 60 * 1000 }) {
            std::vector<double> build, paint;
            for (int r = 0; r < runs; ++r) {
                GraphPicture picture;
                build.push_back(TimeMs([&] {
                    picture = TrendPlot::Build(
                        trend.Traces(), { trend.NewestMs(), span }, QStringLiteral("Flow rate"));
                }));
                area.SetPicture(std::move(picture));
                paint.push_back(TimeMs([&] {
                    QPainter painter(&image);
                    area.render(&painter);
                }));
            }
            std::printf("Trend redraw, 8 x %d points, %s window: build %.2f ms + paint %.2f ms = "
                        "%.2f ms (limit 16 ms)\n",
                perTrace, span > 3600000 ? "24 h" : "5 min", Median(build), Median(paint),
                Median(build) + Median(paint));
        }
        const qint64 oneDay = trend.PointCount();
        fill(t0 + qint64(perTrace) * 2000);
        std::printf("After a second day: %lld points held (bounded)\n", trend.PointCount());
        if (oneDay != qint64(8) * perTrace || trend.PointCount() > oneDay) {
            std::fprintf(stderr, "the trend held %lld points after a day and %lld after two\n",
                oneDay, trend.PointCount());
            ++failures;
        }
    }

    // The live E-LOG graph while PC logging at 1 s: the processor time one snapshot costs with
    // the graph open (appended, redrawn and painted) less what it costs without, as a share of
    // the second between snapshots; after an hour and after a day of rows.
    for (const int rows : { 3600, 86400 }) {
        if (!wanted("live"))
            break;
        PcLogRig rig(dir.filePath(QStringLiteral("live%1.log").arg(rows)));
        for (int i = 0; i < rows; ++i)
            rig.Snapshot(i);
        const auto perSnapshot = [&](CElogGraph *graph) {
            std::vector<double> ms;
            for (int r = 0; r < 5 * runs; ++r) {
                const double start = ThreadCpuMs();
                rig.Snapshot(rows + r);
                rig.view.repaint();
                if (graph)
                    graph->repaint();
                ms.push_back(ThreadCpuMs() - start);
            }
            return Median(ms);
        };
        const double without = perSnapshot(nullptr);
        rig.view.OnGraph();
        CElogGraph *graph = rig.view.LiveGraph();
        graph->show();
        const double with = perSnapshot(graph);
        std::printf("Live E-LOG graph, %d rows, 1 s interval: %.2f ms a snapshot with it, %.2f ms "
                    "without: %.3f %% of one core added (limit 0.5 %%)\n",
            rows, with, without, (with - without) / 1000 * 100);
    }
    return failures == 0 ? 0 : 1;
}
