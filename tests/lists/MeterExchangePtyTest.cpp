// The command-list exchange over the real meter link, with a meter played on a pseudo-terminal.
#include "lists/CQueExecutor.h"
#include "lists/CSerialMeterLink.h"

#include "base/DialogueRunner.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "support/PtyPair.h"
#include "support/RunToEnd.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

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
    // The meter's side: wait for a command ended by CR.
    void AwaitCommand()
    {
        QByteArray got;
        const auto end = Clock::now() + std::chrono::seconds(3);
        while (!got.contains('\r') && Clock::now() < end)
            got += pty.Receive(200, 20);
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

    // One exchange on a runner of its own, run to its end.
    int Exchange(const QString &command, QByteArray &reply, const QString &expected, int intervalMs,
        int totalMs)
    {
        DialogueRunner runner;
        return RunToEnd(runner,
            CQueExecutor::MeterExchangeAsync(
                &link, runner, command, reply, expected, intervalMs, totalMs));
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
    EXPECT_EQ(Exchange(QStringLiteral("rv"), reply, QStringLiteral(">"), 100, 1000), 1);
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
    EXPECT_EQ(Exchange(QStringLiteral("1"), reply, QStringLiteral(">"), 100, 1000), 1);
    EXPECT_EQ(reply, QByteArray("ok>"));
}

TEST_F(MeterExchangePty, SilentMeterFailsWithinTheTimeouts)
{
    const auto start = Clock::now();
    QByteArray reply("stale");
    EXPECT_EQ(Exchange(QStringLiteral("x"), reply, QStringLiteral(">"), 50, 200), 0);
    EXPECT_TRUE(reply.isEmpty());
    EXPECT_LT(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 2000);
}

TEST_F(MeterExchangePty, ReplyOverTheBufferIsCutAt4096Bytes)
{
    AnswerWith(QByteArray(5000, 'x') + '>');
    QByteArray reply;
    EXPECT_EQ(Exchange(QStringLiteral("dump"), reply, QStringLiteral(">"), 200, 2000), 0);
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
    DialogueRunner runner;
    const auto step = [&] { return RunToEnd(runner, executor.StepAsync(nullptr, runner)); };
    EXPECT_EQ(step(), 0);
    EXPECT_EQ(step(), 0);
    EXPECT_EQ(executor.Value(), QStringLiteral("77"));
    EXPECT_EQ(step(), 1);
    EXPECT_EQ(executor.LineIndex(), 2);
}

// The exchange as the forms run it, each wait handed to the event loop: its bytes and replies,
// its time-outs, and a loop that kept ticking meanwhile.
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
        const int result = RunToEnd(runner,
            CQueExecutor::MeterExchangeAsync(
                &link, runner, QStringLiteral("rv"), reply, c.expected, 100, 300),
            5000);
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

// A reply ends when the line has been quiet for the interval (before or after the terminator) or
// at 4096 bytes; a tail within the interval belongs to it.
TEST_F(MeterExchangePty, ReplyIsGatheredUntilTheLineGoesQuiet)
{
    struct Piece
    {
        int pauseMs; // before these bytes
        QByteArray bytes;
    };
    const QByteArray version = "VER 4.0A\r\nKEY AA 245 BYTES\r\n";
    const struct
    {
        const char *what;
        std::vector<Piece> pieces;
        int intervalMs;
        int totalMs;
        QByteArray reply; // empty: checked by size
        int result;
        int size;
    } cases[] = {
        { "tail within the interval", { { 0, ">" }, { 60, version } }, 400, 2000, ">" + version, 1,
            0 },
        { "tail after the interval", { { 0, "ok>" }, { 900, "late" } }, 150, 2000, "ok>", 1, 0 },
        { "split across the interval", { { 0, "ab" }, { 800, "cd>" } }, 150, 2000, "ab", 0, 0 },
        { "exactly 4096 bytes", { { 0, QByteArray(4095, 'x') + '>' } }, 300, 3000, {}, 1, 4096 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        meter = std::thread([this, &c] {
            AwaitCommand();
            for (const Piece &piece : c.pieces) {
                std::this_thread::sleep_for(std::chrono::milliseconds(piece.pauseMs));
                pty.Send(piece.bytes);
            }
        });
        QByteArray reply;
        const int result
            = Exchange(QStringLiteral("c"), reply, QStringLiteral(">"), c.intervalMs, c.totalMs);
        meter.join();
        EXPECT_EQ(result, c.result);
        if (c.size)
            EXPECT_EQ(reply.size(), c.size);
        else
            EXPECT_EQ(reply, c.reply);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        serial.PurgeInput(); // a late tail must not reach the next case
    }
}

TEST_F(MeterExchangePty, AMeterThatNeverGoesQuietIsEndedByTheTotalTimeout)
{
    std::atomic<bool> stop { false };
    meter = std::thread([this, &stop] {
        while (!stop) {
            pty.Send("12.5 SCFM\r");
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const auto start = Clock::now();
    QByteArray reply;
    DialogueRunner runner;
    RunToEnd(runner, link.ReadReplyAsync(runner, reply, 200, 700, '>'));
    const auto ms = MsSince(start);
    stop = true;
    meter.join();
    EXPECT_GE(ms, 650);
    EXPECT_LT(ms, 3000);
    EXPECT_GT(reply.size(), 20);
    EXPECT_LE(reply.size(), 4096);
    EXPECT_TRUE(reply.startsWith("12.5 SCFM\r"));
}

// The far end closes mid-read: the read ends at once, not after its time-outs, naming the port.
TEST_F(MeterExchangePty, APortGoneMidReadEndsTheListAtOnceNamingThePort)
{
    QStringList said;
    const UserMessage::Handler old
        = UserMessage::SetHandler([&said](const QString &text, const QString &) { said << text; });
    meter = std::thread([this] {
        AwaitCommand();
        pty.Send("half an ans");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.CloseMaster();
    });
    CQueExecutor executor;
    executor.SetLink(&link);
    executor.SetLines({ QStringLiteral(" SendCmd(5000, 10000, \">\", NoMeter)"),
        QStringLiteral(" End"), QStringLiteral("NoMeter: End") });
    DialogueRunner runner;
    const auto start = Clock::now();
    const int result = RunToEnd(runner, executor.StepAsync(nullptr, runner), 15000);
    executor.ShowMessages();
    EXPECT_LT(MsSince(start), 3000) << "not the 5 s interval nor the 10 s total";
    meter.join();
    UserMessage::SetHandler(old);
    EXPECT_EQ(result, CQueExecutor::kBadLabel);
    EXPECT_TRUE(executor.Stopped());
    EXPECT_EQ(said,
        QStringList { pty.SlavePath()
            + QStringLiteral(" is gone: the adapter was unplugged or the device closed") });
    EXPECT_FALSE(serial.IsOpen());
    EXPECT_TRUE(link.PortGone());
}
