// The poller's sweeps against tarvik-metersim --modbus: a silent meter among live ones, and
// every way a polling dialogue ends, at each of its waits.
#include "SimProcess.h"

#include "base/DialogueRunner.h"
#include "link/mbCSerial.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusPoller.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTest>

#include <gtest/gtest.h>

TEST(ModbusPoller, SweepsAndEveryWayTheyEnd)
{
    SimProcess sim({ QStringLiteral("--addr"), QStringLiteral("1,2,3"), QStringLiteral("--silent"),
        QStringLiteral("2") });
    ASSERT_TRUE(sim.Ok());
    mbCSerial port(sim.Path());
    port.SetBaudText(QStringLiteral("9600"));
    port.SetParityText(QStringLiteral("1 8 EVEN 1"));
    ASSERT_EQ(port.OpenPort(), 1);
    ModbusMaster master(&port);
    // Room for a live meter's reply on a busy machine (60 ms was seen to fail beside a build);
    // the silent meter costs the whole wait at each of its reads.
    master.SetTiming({ 400, 300 });

    enum How { Run, CancelNow, CancelPosted, Destroy };
    struct Row
    {
        const char *name;
        int sweeps;
        int periodMs;
        bool keepPolling;
        const char *at; // the event the stop comes at
        How how;
        const char *log; // B sweep begins, rN read of slot N begins, +N read, -N#count failed
        int next; // the slot the next sweep would begin with
    };
    const Row rows[] = {
        { "silent among live", 2, 0, true, "", Run,
            "B r1 +1 r2 -2#1 r3 +3 E B r1 +1 r2 -2#2 r3 +3 E", 1 },
        { "failure ends it", 0, 0, false, "", Run, "B r1 +1 r2 -2#1! E", 3 },
        { "cancel before the request", 1, 0, true, "r2", CancelNow, "B r1 +1 r2 E", 3 },
        { "cancel awaiting the reply", 1, 0, true, "r2", CancelPosted, "B r1 +1 r2 E", 3 },
        { "cancel in the step pause", 1, 0, true, "+1", CancelPosted, "B r1 +1 E", 2 },
        { "cancel in the repeat pause", 0, 60000, true, "E", CancelPosted,
            "B r1 +1 r2 -2#1 r3 +3 E", 1 },
        { "runner destroyed awaiting the reply", 1, 0, true, "r2", Destroy, "B r1 +1 r2", 3 },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto *runner = new DialogueRunner;
        const QPointer<DialogueRunner> alive(runner);
        ModbusPoller poller(master, 3);
        QStringList log;
        std::vector<qint64> readStarts;
        QElapsedTimer clock;
        clock.start();
        const auto event = [&](const QString &what) {
            log << what;
            if (what != QLatin1String(row.at))
                return;
            if (row.how == CancelNow)
                runner->Cancel();
            else if (row.how == CancelPosted)
                QMetaObject::invokeMethod(runner, &DialogueRunner::Cancel, Qt::QueuedConnection);
            else if (row.how == Destroy)
                runner->deleteLater();
        };
        ModbusPoller::Hooks hooks;
        hooks.address = [](int slot) { return QString::number(slot); };
        hooks.sweepBegins = [&] {
            event(QStringLiteral("B"));
            return true;
        };
        hooks.readBegins = [&](int slot, const QString &) {
            readStarts.push_back(clock.elapsed());
            event(QStringLiteral("r%1").arg(slot));
        };
        hooks.result = [&](const ModbusPoller::Result &r) {
            event(r.ok ? QStringLiteral("+%1").arg(r.slot)
                       : QStringLiteral("-%1#%2%3")
                             .arg(r.slot)
                             .arg(r.failures)
                             .arg(r.ending ? QStringLiteral("!") : QString()));
        };
        hooks.sweepEnded = [&] { event(QStringLiteral("E")); };
        poller.SetHooks(hooks);
        poller.SetSettings({ true, row.sweeps, row.periodMs, false, row.keepPolling });
        bool finished = false;
        runner->Start(poller.Run(*runner), [&finished] { finished = true; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return finished || !alive; }, 10000));
        EXPECT_FALSE(poller.Running());
        EXPECT_FALSE(poller.InSweep());
        EXPECT_EQ(finished, row.how != Destroy);
        EXPECT_LT(clock.elapsed(), 10000); // a pause cancelled ends at once
        EXPECT_EQ(log.join(QLatin1Char(' ')), QLatin1String(row.log));
        EXPECT_EQ(poller.Next(), row.next);
        // The window's pace: the i-th read no sooner than i steps after the first.
        for (size_t i = 1; i < readStarts.size(); ++i)
            EXPECT_GE(readStarts[i] - readStarts[0], qint64(i) * ModbusPoller::kStepMs - 2);
        delete alive.data();
    }
}
