// The checks around a send and the audit trail's cost.
//   line: appending one record to the trail (one write and one fsync), median per line over
//         several runs of 200 lines, in the working folder's file system.
//   send: tarvik-cli send with the comparison before and the read back after, at full pacing
//         against the simulator at 9600 baud, beside a read alone and a send with both steps off:
//         the whole should be the read + the send + the read, nothing more.
#include "BenchRig.h"
#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstring>

namespace {

int LineCost(int runs)
{
    std::vector<double> perLine;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-XXXXXX")));
        const AuditLog trail(AuditSettings::TrailPathIn(dir.path()));
        AuditRecord record = AuditRecord::Now(QStringLiteral("send"), QStringLiteral("Ann"));
        record.serial = QStringLiteral("31415");
        record.sha256 = QString(64, QLatin1Char('a'));
        for (int i = 0; i < 30; ++i)
            record.changes.push_back({ QStringLiteral("Relay #2 OFF Value"), 1012,
                QStringLiteral("100.00"), QStringLiteral("2500.00") });
        constexpr int kLines = 200;
        QElapsedTimer clock;
        clock.start();
        QString error;
        for (int i = 0; i < kLines; ++i)
            if (!trail.Append(record, &error)) {
                std::fprintf(stderr, "%s\n", qPrintable(error));
                return 1;
            }
        perLine.push_back(double(clock.nsecsElapsed()) / 1e6 / kLines);
        std::printf("run %d: %.3f ms a line (%lld bytes a line)\n", run + 1, perLine.back(),
            qlonglong(record.ToJsonLine().size()));
    }
    // The program's own part: the record encoded as its line (the rest is the write and the
    // device's synchronous flush, which `dd oflag=dsync` of the same size shows on its own).
    AuditRecord record = AuditRecord::Now(QStringLiteral("send"), QStringLiteral("Ann"));
    for (int i = 0; i < 30; ++i)
        record.changes.push_back({ QStringLiteral("Relay #2 OFF Value"), 1012,
            QStringLiteral("100.00"), QStringLiteral("2500.00") });
    QElapsedTimer clock;
    clock.start();
    qsizetype bytes = 0;
    for (int i = 0; i < 1000; ++i)
        bytes += record.ToJsonLine().size();
    std::printf("audit line: median %.3f ms over %d runs; encoding alone %.4f ms a line (%lld "
                "bytes)\n",
        bench::Median(perLine), runs, double(clock.nsecsElapsed()) / 1e6 / 1000,
        qlonglong(bytes / 1000));
    return 0;
}

// Seconds tarvik-cli took for args; negative when it failed.
double Cli(const QString &cli, const QStringList &args)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(cli, args);
    if (!process.waitForFinished(300000) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(args.join(QLatin1Char(' '))),
            process.readAllStandardError().constData());
        return -1;
    }
    return double(clock.elapsed()) / 1000.0;
}

int SendCost(const QString &cli, int runs, int baud)
{
    bench::Simulator sim(QStringList { QStringLiteral("--serial"), QStringLiteral("31415"),
                             QStringLiteral("--interval"), QStringLiteral("600000") }
        + bench::MeterOptions(baud));
    if (sim.Path().isEmpty()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    const QStringList port { QStringLiteral("--port"), sim.Path(), QStringLiteral("--baud"),
        QString::number(baud), QStringLiteral("--quiet") };
    std::vector<double> reads, plain, checked;
    for (int run = 0; run < runs; ++run) {
        const double read = Cli(cli,
            QStringList { QStringLiteral("read"), QStringLiteral("--out"),
                QStringLiteral("bench.mtr"), QStringLiteral("--force") }
                + port);
        const double send = Cli(cli,
            QStringList { QStringLiteral("send"), QStringLiteral("bench.mtr"),
                QStringLiteral("--no-compare"), QStringLiteral("--no-verify"),
                QStringLiteral("--yes") }
                + port);
        // The meter holds bench.mtr already: --force writes it all the same.
        const double both = Cli(cli,
            QStringList { QStringLiteral("send"), QStringLiteral("bench.mtr"),
                QStringLiteral("--yes"), QStringLiteral("--force") }
                + port);
        if (read < 0 || send < 0 || both < 0)
            return 1;
        reads.push_back(read);
        plain.push_back(send);
        checked.push_back(both);
        std::printf("run %d: read %.2f s, send alone %.2f s, send with both checks %.2f s\n",
            run + 1, read, send, both);
    }
    const double r = bench::Median(reads), s = bench::Median(plain), b = bench::Median(checked);
    std::printf("medians over %d runs at %d baud: read %.2f s, send alone %.2f s, send with both "
                "checks %.2f s; read + send + read = %.2f s, the rest %.2f s\n",
        runs, baud, r, s, b, 2 * r + s, b - (2 * r + s));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    bench::BenchHome home;
    QCoreApplication app(argc, argv);
    const char *part = argc > 1 ? argv[1] : "line";
    const int runs = bench::Option(argc, argv, "--runs", 5, 2);
    if (std::strcmp(part, "line") == 0)
        return LineCost(runs);
    if (std::strcmp(part, "send") == 0)
        return SendCost(
            QStringLiteral(TARVIK_CLI), runs, bench::Option(argc, argv, "--baud", 9600, 2));
    std::fprintf(stderr, "usage: bench_audit line|send [--runs N] [--baud N]\n");
    return 2;
}
