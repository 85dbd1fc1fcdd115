// The service records' costs, on SQLite and on a throw-away PostgreSQL cluster.
//   record:  a send's line written to the trail and handed to the delivery, then the longest the
//            event loop was held while that line was delivered (together: the window's time for
//            the record), and how long until the store held it; median and worst of 200 lines.
//   history: `history` of one serial among N visits (100,000 by default): median and worst of 50
//            serials, after the store is filled from a trail of N lines.
//   outage:  N lines (10,000) that waited in the trail delivered on the event loop once the store
//            is back, in slices: the whole time and the longest stall of the event loop.
#include "BenchRig.h"
#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "records/RecordsDelivery.h"
#include "records/RecordsStore.h"
#include "support/PgCluster.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimeZone>

#include <cstring>
#include <random>

namespace {

AuditRecord BenchRecordLine(int i, int meters)
{
    AuditRecord r;
    r.lineId = QStringLiteral("bench-%1").arg(i);
    // Each meter's lines 9 h apart: every line is a visit of its own.
    r.time = QDateTime(QDate(2020, 1, 1), QTime(8, 0), QTimeZone(3600))
                 .addSecs(qint64(i / meters) * 9 * 3600);
    r.operatorName = QStringLiteral("Ann");
    r.computer = QStringLiteral("bench-1");
    r.version = QStringLiteral("Tarvik 1.0");
    r.action = QStringLiteral("send");
    r.series = QStringLiteral("Kelvane");
    r.serial = QStringLiteral("%1").arg(i % meters, 8, 10, QLatin1Char('0'));
    r.result = QStringLiteral("ok");
    r.sha256 = QString(64, QLatin1Char('a'));
    for (int c = 0; c < 3; ++c)
        r.changes.push_back({ QStringLiteral("Relay #2 OFF Value"), 1012 + c,
            QStringLiteral("100.00"), QStringLiteral("2500.00") });
    return r;
}

bool BenchWriteTrail(const QString &path, int lines, int meters)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (int i = 0; i < lines; ++i)
        file.write(BenchRecordLine(i, meters).ToJsonLine());
    return true;
}

struct BenchStore
{
    PgCluster pg;
    RecordsTarget target;
    bool Make(const QString &backend, const QString &folder)
    {
        if (backend == QLatin1String("sqlite")) {
            target = RecordsTarget::BesideTrail(QDir(folder).filePath("tarvik-audit.jsonl"));
            return true;
        }
        if (!pg.Create()) {
            std::fprintf(stderr, "PostgreSQL: %s\n", qPrintable(pg.Error()));
            return false;
        }
        QString error;
        target = *RecordsTarget::Parse(pg.Url(), &error);
        target.password = QString::fromLatin1(PgCluster::kPassword);
        return true;
    }
};

int Record(const QString &backend)
{
    QTemporaryDir dir;
    BenchStore store;
    if (!store.Make(backend, dir.path()))
        return 1;
    const QString trail = AuditSettings::TrailPathIn(dir.path());
    RecordsDelivery delivery;
    AuditLog::SetAppendedHook([&delivery](const QString &path) { delivery.Appended(path); });
    delivery.Start(store.target, 8, trail);
    std::vector<double> append, held, deliver;
    const AuditLog log(trail);
    // The longest gap between two ticks of a 1 ms timer while a line is delivered, less the
    // timer's own period: how long the window could not answer.
    QElapsedTimer gap;
    double stall = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        stall = std::max(stall, gap.nsecsElapsed() / 1e6 - 1);
        gap.restart();
    });
    tick.start(1);
    for (int i = 0; i < 200; ++i) {
        AuditRecord r = BenchRecordLine(i, 20);
        r.lineId.clear();
        for (int c = 0; c < 27; ++c)
            r.changes.push_back(r.changes.front());
        QElapsedTimer clock;
        clock.start();
        QString error;
        if (!log.Append(r, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        append.push_back(clock.nsecsElapsed() / 1e6);
        clock.restart();
        gap.restart();
        stall = 0;
        if (!bench::RunUntil(
                [&] { return delivery.Waiting() == 0 && !delivery.Pending(); }, 30000)) {
            std::fprintf(stderr, "not delivered: %s\n", qPrintable(delivery.Problem()));
            return 1;
        }
        deliver.push_back(clock.nsecsElapsed() / 1e6);
        held.push_back(std::max(0.0, stall));
    }
    AuditLog::SetAppendedHook({});
    std::printf("%s: send recorded in the trail and handed on: median %.3f ms, worst %.3f ms\n",
        qPrintable(backend), bench::Median(append),
        *std::max_element(append.begin(), append.end()));
    std::printf("%s: the event loop held while it was delivered: median %.3f ms, worst %.3f ms\n",
        qPrintable(backend), bench::Median(held), *std::max_element(held.begin(), held.end()));
    std::printf("%s: in the store after: median %.3f ms, worst %.3f ms\n", qPrintable(backend),
        bench::Median(deliver), *std::max_element(deliver.begin(), deliver.end()));
    return 0;
}

int History(const QString &backend, int visits)
{
    QTemporaryDir dir;
    BenchStore bench;
    if (!bench.Make(backend, dir.path()))
        return 1;
    const int meters = std::max(1, visits / 5);
    const QString trail = AuditSettings::TrailPathIn(dir.path());
    if (!BenchWriteTrail(trail, visits, meters))
        return 1;
    RecordsStore store(bench.target);
    QElapsedTimer clock;
    clock.start();
    RecordsDelivery::Progress progress;
    if (!store.Open() || !RecordsDelivery::DeliverAll(store, trail, &progress)) {
        std::fprintf(stderr, "%s\n", qPrintable(store.Error()));
        return 1;
    }
    std::printf("%s: %d visits of %d meters stored in %.1f s\n", qPrintable(backend),
        progress.taken, meters, clock.nsecsElapsed() / 1e9);
    std::mt19937 random(7);
    std::vector<double> times;
    size_t found = 0;
    for (int i = 0; i < 50; ++i) {
        const QString serial
            = QStringLiteral("%1").arg(int(random() % meters), 8, 10, QLatin1Char('0'));
        clock.restart();
        const auto history = store.History(serial);
        times.push_back(clock.nsecsElapsed() / 1e6);
        found += history ? history->size() : 0;
    }
    std::printf(
        "%s: history of a serial among %d visits: median %.2f ms, worst %.2f ms (%zu visits "
        "read)\n",
        qPrintable(backend), visits, bench::Median(times),
        *std::max_element(times.begin(), times.end()), found);
    return 0;
}

int Outage(const QString &backend, int lines)
{
    QTemporaryDir dir;
    BenchStore bench;
    if (!bench.Make(backend, dir.path()))
        return 1;
    const QString trail = AuditSettings::TrailPathIn(dir.path());
    if (!BenchWriteTrail(trail, lines, 500))
        return 1;
    RecordsDelivery delivery;
    // The longest gap between two ticks of a 1 ms timer: how long the window would not answer.
    QElapsedTimer gap;
    double stall = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        stall = std::max(stall, gap.nsecsElapsed() / 1e6);
        gap.restart();
    });
    QElapsedTimer clock;
    clock.start();
    gap.start();
    tick.start(1);
    delivery.Start(bench.target, 8, trail);
    if (!bench::RunUntil([&] { return delivery.Waiting() == 0 && !delivery.Pending(); }, 120000)) {
        std::fprintf(stderr, "not delivered: %s\n", qPrintable(delivery.Problem()));
        return 1;
    }
    std::printf(
        "%s: %d waiting lines delivered in %.2f s, longest stall of the event loop %.1f ms\n",
        qPrintable(backend), lines, clock.nsecsElapsed() / 1e9, stall);
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    const auto option = [&args](const char *name, const QString &fallback) {
        const int at = int(args.indexOf(QLatin1String(name)));
        return at > 0 ? args.value(at + 1) : fallback;
    };
    const QString backend = option("--backend", QStringLiteral("sqlite"));
    if (backend != QLatin1String("sqlite") && backend != QLatin1String("postgresql")) {
        std::fprintf(stderr, "--backend sqlite|postgresql\n");
        return 2;
    }
    if (mode == QLatin1String("record"))
        return Record(backend);
    if (mode == QLatin1String("history"))
        return History(backend, option("--visits", "100000").toInt());
    if (mode == QLatin1String("outage"))
        return Outage(backend, option("--lines", "10000").toInt());
    std::fprintf(stderr,
        "bench_records record|history|outage [--backend sqlite|postgresql] "
        "[--visits N] [--lines N]\n");
    return 2;
}
