// Data out and live trends: the CSV export of a 100,000-row log (written to a file, rename
// included); the Modbus trend of 8 meters x 24 h at a 2 s sweep (345,600 points) built and
// painted at the trend window's size, for a 24 h and a 5 min window, and its memory after a
// second day; the live E-LOG plot's cost while PC logging. Every figure is the median of --runs
// runs.
//   QT_QPA_PLATFORM=offscreen build/bench/bench_trends [--runs N]
#include "datalog/LogCsvExport.h"
#include "datalog/LogData.h"
#include "graphs/GraphArea.h"
#include "modbus/ModbusTrend.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
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

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int runs = 7;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    const LogData log = BigLog(100000);
    std::vector<double> csv;
    for (int r = 0; r < runs; ++r) {
        csv.push_back(TimeMs([&] {
            if (!LogCsvExport::WriteFile(log, path).isEmpty())
                std::fprintf(stderr, "export failed\n");
        }));
    }
    std::printf("CSV export, 100000 rows to a file: median %.1f ms (limit 500 ms)\n", Median(csv));

    // 8 meters, a reading every 2 s for 24 h.
    ModbusTrend trend;
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
    std::printf("Trend: %lld points held (%d per trace, %zu bytes a point)\n", trend.PointCount(),
        trend.Series(1).Capacity(), sizeof(TrendSeries::Point));
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
    fill(t0 + qint64(perTrace) * 2000);
    std::printf("After a second day: %lld points held (bounded)\n", trend.PointCount());
    return 0;
}
