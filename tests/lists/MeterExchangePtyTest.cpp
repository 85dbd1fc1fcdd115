// The command-list exchange over the real meter link, with a meter played on a pseudo-terminal.
#include "lists/CQueExecutor.h"
#include "lists/CSerialMeterLink.h"

#include "base/DialogueRunner.h"
#include "link/CSerial.h"
#include "support/PtyPair.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

// A fast link: pacing shrunk, and a read's total time-out only the caller's constant.
LinkTiming FastTiming()
{
    LinkTiming timing;
    timing.pacingScale = 0.04;
    timing.readMsPerByte = 0;
    timing.lockWaitMs = 300;
    return timing;
}

class MeterExchangePty : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.IsValid());
        serial.SetPortText(pty.SlavePath());
        serial.SetBaudText(QStringLiteral("9600"));
        ASSERT_EQ(serial.OpenPort(), 1) << qPrintable(serial.LastError());
    }
    void TearDown() override
    {
        if (meter.joinable())
            meter.join();
    }
    // The meter waits for a command ended by CR and answers it.
    void AnswerWith(const QByteArray &answer)
    {
        meter = std::thread([this, answer] {
            QByteArray got;
            const auto end = Clock::now() + std::chrono::seconds(3);
            while (!got.contains('\r') && Clock::now() < end)
                got += pty.Receive(200, 20);
            heard = got;
            pty.Send(answer);
        });
    }

    const QString lockName = QStringLiteral("COMX-que-test-%1").arg(::getpid());
    PtyPair pty;
    CSerial serial { lockName, FastTiming() };
    CSerialMeterLink link { &serial };
    std::thread meter;
    QByteArray heard;
};
} // namespace

TEST_F(MeterExchangePty, AnswerHoldingTheTerminatorSucceeds)
{
    AnswerWith("v4.1A #12345 >");
    QByteArray reply;
    EXPECT_EQ(CQueExecutor::MeterExchange(
                  &link, QStringLiteral("rv"), reply, QStringLiteral(">"), 100, 1000),
        1);
    meter.join();
    EXPECT_EQ(heard, QByteArray("rv\r"));
    EXPECT_EQ(reply, QByteArray("v4.1A #12345 >"));
}

TEST_F(MeterExchangePty, StaleInputIsDiscardedBeforeTheCommand)
{
    pty.Send("old junk");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    AnswerWith("ok>");
    QByteArray reply;
    EXPECT_EQ(CQueExecutor::MeterExchange(
                  &link, QStringLiteral("1"), reply, QStringLiteral(">"), 100, 1000),
        1);
    EXPECT_EQ(reply, QByteArray("ok>"));
}

TEST_F(MeterExchangePty, SilentMeterFailsWithinTheTimeouts)
{
    const auto start = Clock::now();
    QByteArray reply("stale");
    EXPECT_EQ(CQueExecutor::MeterExchange(
                  &link, QStringLiteral("x"), reply, QStringLiteral(">"), 50, 200),
        0);
    EXPECT_TRUE(reply.isEmpty());
    EXPECT_LT(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 2000);
}

TEST_F(MeterExchangePty, ReplyOverTheBufferIsCutAt4096Bytes)
{
    AnswerWith(QByteArray(5000, 'x') + '>');
    QByteArray reply;
    EXPECT_EQ(CQueExecutor::MeterExchange(
                  &link, QStringLiteral("dump"), reply, QStringLiteral(">"), 200, 2000),
        0);
    EXPECT_EQ(reply.size(), 4096);
}

TEST_F(MeterExchangePty, ReadListRunsAgainstTheMeter)
{
    AnswerWith("v4.0B r C #77 >");
    CQueExecutor executor;
    executor.SetLink(&link);
    executor.SetLines({ QStringLiteral(" SendCmd(100, 1000, \">\", NoMeter)"),
        QStringLiteral(" Find(\"#\", 1, 2)"), QStringLiteral(" End"),
        QStringLiteral("NoMeter: End") });
    EXPECT_EQ(executor.Step(nullptr), 0);
    EXPECT_EQ(executor.Step(nullptr), 0);
    EXPECT_EQ(executor.Value(), QStringLiteral("77"));
    EXPECT_EQ(executor.Step(nullptr), 1);
    EXPECT_EQ(executor.LineIndex(), 2);
}

// The exchange as the forms run it, each wait handed to the event loop: the same bytes and
// replies as the blocking exchange, the same time-outs, and a loop that kept ticking.
TEST_F(MeterExchangePty, ExchangeOnTheRunnerKeepsTheLoopTickingAndItsBytes)
{
    struct Case
    {
        const char *what;
        QByteArray answer; // empty: the meter stays silent
        QString expected;
        int result;
        QByteArray reply;
    };
    const Case cases[] = {
        { "terminated", "v4.1A #12345 >", QStringLiteral(">"), 1, "v4.1A #12345 >" },
        { "no terminator", "ok", QStringLiteral(">"), 0, "ok" },
        { "two-character terminator", "ok>", QStringLiteral("ok"), 0, "ok>" },
        { "silent", "", QStringLiteral(">"), 0, "" },
    };
    for (const Case &c : cases) {
        if (!c.answer.isEmpty())
            AnswerWith(c.answer);
        DialogueRunner runner;
        QByteArray reply("stale");
        int result = -1;
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        qint64 longest = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longest = std::max(longest, clock.elapsed() - last);
            last = clock.elapsed();
        });
        ticker.start(5);
        // The coroutine lambda outlives its run (its captures live in the closure).
        const auto exchange = [&]() -> Task<void> {
            result = co_await CQueExecutor::MeterExchangeAsync(
                &link, runner, QStringLiteral("rv"), reply, c.expected, 100, 300);
        };
        runner.Start(exchange());
        ASSERT_TRUE(TestEnv::WaitUntil([&] { return !runner.IsRunning(); }, 5000)) << c.what;
        if (meter.joinable())
            meter.join();
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(reply, c.reply) << c.what;
        if (!c.answer.isEmpty()) {
            EXPECT_EQ(heard, QByteArray("rv\r")) << c.what;
        }
        EXPECT_LT(longest, 1000) << c.what; // coarse: the machine may be busy
        EXPECT_LT(clock.elapsed(), 300 + 1000) << c.what;
    }
}
