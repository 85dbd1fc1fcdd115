// Data out and live trends: the CSV export of a 100,000-row log (written to a file, rename
// included). Every figure is the median of --runs runs.
//   build/bench/bench_trends [--runs N]
#include "datalog/LogCsvExport.h"
#include "datalog/LogData.h"

#include <QCoreApplication>
#include <QElapsedTimer>
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
    QCoreApplication app(argc, argv);
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
    return 0;
}
