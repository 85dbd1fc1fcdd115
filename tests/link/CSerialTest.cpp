// The meter link on a pseudo-terminal: pacing, reading a reply, enabled rules, failures, exclusion.
#include "ChildProcess.h"
#include "Printers.h"
#include "TestPortName.h"
#include "support/PtyPair.h"
#include "support/RunToEnd.h"
#include "support/TestEnv.h"

#include "base/UserMessage.h"
#include "link/CSerial.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <time.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long long MsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<milliseconds>(to - from).count();
}

long long ThreadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// Records what the link shows the user instead of opening a message box.
class MessageRecorder
{
public:
    MessageRecorder()
    {
        m_previous = UserMessage::SetHandler([this](const QString &text, const QString &caption) {
            texts << text;
            captions << caption;
        });
    }
    ~MessageRecorder() { UserMessage::SetHandler(m_previous); }
    QStringList texts;
    QStringList captions;

private:
    UserMessage::Handler m_previous;
};

class CSerialTest : public ::testing::Test
{
protected:
    // A quick ReadAll for tests: its total time-out is only the caller's constant.
    static LinkTiming FastReads()
    {
        LinkTiming timing;
        timing.readMsPerByte = 0;
        timing.lockWaitMs = 300;
        return timing;
    }

    void SetUp() override
    {
        ASSERT_TRUE(pty.IsValid());
        link.SetPortText(pty.SlavePath());
        link.SetBaudText(QStringLiteral("9600"));
        ASSERT_EQ(link.OpenPort(), 1) << qPrintable(link.LastError());
    }

    // A reply read as the dialogues read it: on a runner, to its end.
    void ReadAll(QByteArray &reply, int intervalMs, int totalMs)
    {
        RunToEnd(runner, link.ReadAllAsync(runner, reply, intervalMs, totalMs));
    }
    // A command and a text sent as the dialogues and the terminal send them: on a runner.
    int SendCommand(const QByteArray &text)
    {
        return RunToEnd(runner, link.SendCommandAsync(runner, text));
    }
    int SendString(const QByteArray &text)
    {
        return RunToEnd(runner, link.SendStringAsync(runner, text));
    }

    TestPortName name { "COM1" };
    TestPortName otherName { "COM2" };
    PtyPair pty;
    CSerial link { name, FastReads() };
    DialogueRunner runner;
};

// When each byte of the sent text reached the far end, in milliseconds after `start` (a chunk's
// time is when it was read, so never earlier than the write of any byte in it).
std::vector<long long> ArrivalMs(
    const std::vector<FarEndRecorder::Chunk> &chunks, Clock::time_point start, QByteArray *received)
{
    std::vector<long long> times;
    for (const auto &chunk : chunks) {
        *received += chunk.bytes;
        times.insert(times.end(), size_t(chunk.bytes.size()), MsBetween(start, chunk.at));
    }
    return times;
}

TEST_F(CSerialTest, SendCommandWaits25msAfterEachByte)
{
    FarEndRecorder far(pty.MasterFd());
    const auto start = Clock::now();
    EXPECT_NE(SendCommand("AB"), 0);
    const auto end = Clock::now();
    QByteArray received;
    const auto arrived = ArrivalMs(far.Stop(), start, &received);
    ASSERT_EQ(received, QByteArray("AB"));
    EXPECT_GE(arrived[1], 25) << "B only after 25 ms";
    EXPECT_GE(MsBetween(start, end), 50) << "25 ms of silence after the last byte too";
}

TEST_F(CSerialTest, SendStringWaits20msBeforeEachByte)
{
    FarEndRecorder far(pty.MasterFd());
    const auto start = Clock::now();
    EXPECT_NE(SendString("[["), 0);
    QByteArray received;
    const auto arrived = ArrivalMs(far.Stop(), start, &received);
    ASSERT_EQ(received, QByteArray("[["));
    EXPECT_GE(arrived[0], 20);
    EXPECT_GE(arrived[1], 40);
}

TEST_F(CSerialTest, SendStringOfNothingSendsNothing)
{
    EXPECT_EQ(SendString(QByteArray()), 0);
    EXPECT_TRUE(pty.Receive(100).isEmpty());
}

TEST_F(CSerialTest, WriteByteIsNotPaced)
{
    const auto start = Clock::now();
    for (char c : QByteArray("0123456789"))
        EXPECT_EQ(link.WriteByte(c), 1);
    EXPECT_LT(MsBetween(start, Clock::now()), 150); // paced it would take 200 ms or more
    EXPECT_EQ(pty.Receive(500), QByteArray("0123456789"));
}

TEST_F(CSerialTest, WriteByteSendsTheLowEightBits)
{
    EXPECT_EQ(link.WriteByte(0x10D), 1);
    EXPECT_EQ(pty.Receive(500), QByteArray("\r"));
}

TEST_F(CSerialTest, ReadAllJoinsAReplyThatArrivesInBursts)
{
    std::thread meter([this] {
        pty.Send("12.");
        std::this_thread::sleep_for(milliseconds(30));
        pty.Send("345 ");
        std::this_thread::sleep_for(milliseconds(30));
        pty.Send("SLPM\r\n");
    });
    QByteArray reply = "stale";
    ReadAll(reply, 150, 2000);
    meter.join();
    EXPECT_EQ(reply, QByteArray("12.345 SLPM\r\n"));
}

// The interval counts from the last byte: a gap ends the reply, what comes after is not in it.
TEST_F(CSerialTest, ReadAllEndsAtTheIntervalAfterAGap)
{
    pty.Send("A");
    std::thread meter([this] {
        std::this_thread::sleep_for(milliseconds(300));
        pty.Send("B");
    });
    QByteArray reply;
    const auto start = Clock::now();
    ReadAll(reply, 50, 2000);
    const auto elapsed = MsBetween(start, Clock::now());
    meter.join();
    EXPECT_EQ(reply, QByteArray("A"));
    EXPECT_GE(elapsed, 50);
    EXPECT_LT(elapsed, 1000);
}

// A meter that never pauses is cut off by the total time-out.
TEST_F(CSerialTest, ReadAllTotalTimeOutEndsAStreamThatNeverPauses)
{
    std::atomic<bool> stop = false;
    std::thread meter([&] {
        while (!stop) {
            pty.Send("x");
            std::this_thread::sleep_for(milliseconds(10));
        }
    });
    QByteArray reply;
    const auto start = Clock::now();
    ReadAll(reply, 200, 300);
    const auto elapsed = MsBetween(start, Clock::now());
    stop = true;
    meter.join();
    EXPECT_GT(reply.size(), 0);
    EXPECT_GE(elapsed, 300);
    EXPECT_LT(elapsed, 1500);
}

TEST_F(CSerialTest, ReadAllPassesEveryByteValueUnchanged)
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    pty.Send(all);
    QByteArray reply;
    ReadAll(reply, 100, 1000);
    EXPECT_EQ(reply, all);
}

TEST_F(CSerialTest, ReadAllPurgesWhatFollowsAFullBuffer)
{
    QByteArray sent;
    for (int i = 0; sent.size() < CSerial::kBufferSize + 100; ++i)
        sent += QByteArray::number(i % 10);
    pty.Send(sent);
    QByteArray reply;
    const auto start = Clock::now();
    ReadAll(reply, 1000, 3000);
    // A full buffer ends the read at once, not at the interval.
    EXPECT_LT(MsBetween(start, Clock::now()), 1000);
    EXPECT_EQ(reply, sent.left(CSerial::kBufferSize));
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(link.PendingCount(1), 0);
    unsigned char byte = 0;
    EXPECT_EQ(link.ReadByte(&byte), 0);
}

TEST_F(CSerialTest, ReadAllWithoutReplyWaitsItsTotalTimeOutAndReturnsEmpty)
{
    QByteArray reply = "stale";
    const auto start = Clock::now();
    ReadAll(reply, 50, 300);
    const auto elapsed = MsBetween(start, Clock::now());
    EXPECT_TRUE(reply.isEmpty());
    EXPECT_GE(elapsed, 300);
    EXPECT_LT(elapsed, 1500);
}

TEST_F(CSerialTest, ReadByteNeverWaits)
{
    unsigned char byte = 0;
    const auto start = Clock::now();
    EXPECT_EQ(link.ReadByte(&byte), 0);
    EXPECT_LT(MsBetween(start, Clock::now()), 80); // any read time-out would be 100 ms or more

    pty.Send("Z");
    ASSERT_EQ(WaitForInput(link, 1000), 1);
    EXPECT_EQ(link.ReadByte(&byte), 1);
    EXPECT_EQ(byte, 'Z');
    EXPECT_EQ(link.ReadByte(&byte), 0);
}

TEST_F(CSerialTest, PurgeInputDiscardsWhatIsWaiting)
{
    pty.Send("old reply");
    ASSERT_EQ(WaitForInput(link, 1000), 1);
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_GT(link.PendingCount(1), 0);
    link.PurgeInput();
    EXPECT_EQ(link.PendingCount(1), 0);
}

TEST_F(CSerialTest, DisabledLinkSendsAndReadsNothing)
{
    link.SetEnabled(0);
    pty.Send("Q");
    std::this_thread::sleep_for(milliseconds(20));
    unsigned char byte = 0;
    EXPECT_EQ(SendCommand("AB"), 0);
    EXPECT_EQ(link.WriteByte('C'), 0);
    EXPECT_EQ(link.ReadByte(&byte), 0);
    EXPECT_TRUE(pty.Receive(100).isEmpty());
    EXPECT_EQ(link.PendingCount(1), 1) << "the pending byte stays";
    // SendString does not look at the flag.
    EXPECT_EQ(SendString("D"), 1);
    EXPECT_EQ(pty.Receive(500), QByteArray("D"));
}

TEST_F(CSerialTest, ClosePortDisablesUntilReopened)
{
    link.ClosePort();
    EXPECT_EQ(link.IsEnabled(), 0);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(SendCommand("AB"), 0);
    EXPECT_EQ(link.WriteByte('A'), 0);
    QByteArray reply = "stale";
    ReadAll(reply, 10, 10);
    EXPECT_TRUE(reply.isEmpty());

    MessageRecorder messages;
    link.ReopenPort();
    EXPECT_TRUE(messages.texts.isEmpty());
    EXPECT_EQ(link.IsEnabled(), 1);
    EXPECT_EQ(link.WriteByte('A'), 1);
    EXPECT_EQ(pty.Receive(500), QByteArray("A"));
}

TEST_F(CSerialTest, ReopenPortOnAMissingDeviceTellsTheUserWhy)
{
    MessageRecorder messages;
    link.ClosePort();
    link.SetPortText(QStringLiteral("/dev/tarvik-no-such-port"));
    link.ReopenPort();
    EXPECT_EQ(link.IsEnabled(), 0);
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_EQ(messages.captions[0], QStringLiteral("Tarvik V2.16"));
    EXPECT_EQ(messages.texts[0],
        QStringLiteral("Can't Open RS232 Communication port\n") + link.LastError());
    EXPECT_TRUE(link.LastError().contains(QStringLiteral("no such device")));
}

TEST_F(CSerialTest, NonNumericBaudFailsAndLeavesThePortFree)
{
    link.ClosePort();
    link.SetBaudText(QStringLiteral("fast"));
    EXPECT_EQ(link.OpenPort(), 0);
    EXPECT_TRUE(link.LastError().contains(QStringLiteral("fast"))) << qPrintable(link.LastError());
    EXPECT_FALSE(link.IsOpen());

    CSerial other(otherName, FastReads());
    other.SetPortText(pty.SlavePath());
    other.SetBaudText(QStringLiteral("9600"));
    EXPECT_EQ(other.OpenPort(), 1) << "the failed open must not keep the device";
}

TEST_F(CSerialTest, AnotherProgramCannotOpenTheSamePort)
{
    const QString path = pty.SlavePath();
    // The other program names its lock differently (it started with another port preference);
    // the device itself still keeps it out.
    const int opened = ChildProcess::Run([&] {
        CSerial other(otherName);
        other.SetPortText(path);
        other.SetBaudText(QStringLiteral("9600"));
        if (other.OpenPort())
            return 1;
        return other.LastError().contains(QStringLiteral("in use by another program")) ? 0 : 2;
    });
    EXPECT_EQ(opened, 0);
}

// The lock carries the name given at construction, not the port text (here the pty's path).
TEST_F(CSerialTest, BusyPortLockMakesOperationsGiveUpWithoutTouchingTheDevice)
{
    const QString lockName = name;
    ChildProcess holder([&lockName](ChildProcess &self) {
        PortLock lock(lockName);
        lock.Acquire();
        self.Ready();
        self.WaitForFinish();
    });
    ASSERT_TRUE(holder.Started());
    pty.Send("R");
    std::this_thread::sleep_for(milliseconds(20));
    // A plain operation gives up at once; a dialogue's step waits on its runner first.
    auto start = Clock::now();
    EXPECT_EQ(link.WriteByte('A'), 0);
    EXPECT_LT(MsBetween(start, Clock::now()), 300);
    start = Clock::now();
    EXPECT_EQ(SendCommand("B"), 0);
    EXPECT_GE(MsBetween(start, Clock::now()), 290);
    unsigned char byte = 0;
    EXPECT_EQ(link.ReadByte(&byte), 0);
    link.PurgeInput();
    holder.Finish();
    EXPECT_TRUE(pty.Receive(100).isEmpty());
    EXPECT_EQ(link.PendingCount(1), 1) << "the purge must not have touched the device";
    EXPECT_EQ(link.WriteByte('A'), 1);
}

TEST_F(CSerialTest, FarEndGoingAwayDuringAReadNeitherHangsNorSpins)
{
    // Under a name removed with the far end: another program's pty may reuse the number.
    QTemporaryDir dir;
    const QString byName = dir.filePath(QStringLiteral("meter"));
    ASSERT_TRUE(QFile::link(pty.SlavePath(), byName));
    link.ClosePort();
    link.SetPortText(byName);
    link.ReopenPort();
    ASSERT_TRUE(link.IsOpen()) << qPrintable(link.LastError());
    std::thread meter([this, &byName] {
        pty.Send("AB");
        std::this_thread::sleep_for(milliseconds(50));
        pty.CloseMaster();
        QFile::remove(byName);
    });
    QByteArray reply;
    const auto cpuStart = ThreadCpuMs();
    const auto start = Clock::now();
    ReadAll(reply, 1000, 800);
    const auto elapsed = MsBetween(start, Clock::now());
    meter.join();
    EXPECT_TRUE(QByteArray("AB").startsWith(reply)) << reply.constData();
    EXPECT_LT(elapsed, 3000);

    // From now on it is a port that receives nothing, and no wait spins.
    ReadAll(reply, 100, 300);
    EXPECT_TRUE(reply.isEmpty());
    unsigned char byte = 0;
    EXPECT_EQ(link.ReadByte(&byte), 0);
    EXPECT_EQ(WaitForInput(link, 200), 0);
    EXPECT_TRUE(link.IsGone());
    EXPECT_EQ(SendCommand("X"), 0);
    const auto total = MsBetween(start, Clock::now());
    // A little allowance for closing and reopening, far below what spinning would burn.
    EXPECT_LT(ThreadCpuMs() - cpuStart, total / 4 + 20) << "busy waiting";
}

} // namespace

// Line errors as the driver counts them, through a stand-in for TIOCGICOUNT (a pty counts none).
TEST_F(CSerialTest, LineErrorsCountedSinceTheDialogueStartAreNamed)
{
    SerialDevice::LineErrors counts;
    bool counting = true;
    const SerialDevice::ErrorCounter old
        = SerialDevice::SetErrorCounter([&](int, SerialDevice::LineErrors *out) {
              *out = counts;
              return counting;
          });
    counts.framing = 5; // before the dialogue: not its errors
    {
        const SerialPort::Claim claim(&link, this);
        EXPECT_EQ(link.LineErrorText(), QString());
        counts.framing = 42;
        EXPECT_EQ(link.LineErrorText(), SerialPort::LineErrorSentence({ 37, 0, 0, 0 }, 9600));
        counting = false;
        EXPECT_EQ(link.LineErrorText(), QString()) << "a driver that cannot count says nothing";
        counting = true;
    }
    counts = {};
    {
        // A reopened adapter starts its counts again from zero.
        const SerialPort::Claim claim(&link, this);
        counts.parity = 1;
        EXPECT_EQ(link.LineErrorText(), SerialPort::LineErrorSentence({ 0, 1, 0, 0 }, 9600));
    }
    SerialDevice::SetErrorCounter(old);

    const struct
    {
        SerialDevice::LineErrors errors;
        int speed;
        const char *text;
    } cases[] = {
        { {}, 9600, "" },
        { { 1, 0, 0, 0 }, 19200,
            "The line to the meter had 1 framing error: check the speed (now "
            "19200) and the format." },
        { { 2, 1, 0, 0 }, 9600,
            "The line to the meter had 2 framing errors and 1 parity error: "
            "check the speed (now 9600) and the format." },
        { { 2, 3, 1, 4 }, 9600,
            "The line to the meter had 2 framing errors, 3 parity errors, 1 "
            "overrun and 4 breaks: check the speed (now 9600) and the format." },
    };
    for (const auto &c : cases)
        EXPECT_EQ(SerialPort::LineErrorSentence(c.errors, c.speed), QLatin1String(c.text));
}

// An adapter pulled out: the port says so at once, is closed, and reopens once a device is back.
TEST_F(CSerialTest, APortThatGoesIsClosedAtOnceAndReopenedWhenItIsBack)
{
    QTemporaryDir dir;
    const QString byId = dir.filePath(QStringLiteral("usb-Halvren_Cable_A1-if00"));
    ASSERT_TRUE(QFile::link(pty.SlavePath(), byId));
    link.ClosePort();
    link.SetPortText(byId);
    link.ReopenPort();
    ASSERT_EQ(link.IsOpen(), true) << qPrintable(link.LastError());

    pty.CloseMaster();
    ASSERT_TRUE(QFile::remove(byId)); // nothing may come back under the name meanwhile
    const auto start = Clock::now();
    EXPECT_EQ(SendCommand(QByteArray(200, 'r')), 0);
    EXPECT_LT(MsBetween(start, Clock::now()), 1000) << "no pacing through 200 failing writes";
    EXPECT_TRUE(link.IsGone());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.IsEnabled(), 1) << "gone is not switched off: it comes back by itself";
    EXPECT_EQ(link.NotOpenText(),
        byId + QStringLiteral(" is gone: the adapter was unplugged or the device closed"));
    QByteArray reply("stale");
    ReadAll(reply, 100, 3000);
    EXPECT_TRUE(reply.isEmpty());
    EXPECT_LT(MsBetween(start, Clock::now()), 1500) << "a gone port's read ends at once";

    PtyPair back; // another tty under the same by-id name
    ASSERT_TRUE(QFile::link(back.SlavePath(), byId));
    EXPECT_EQ(SendCommand("ok"), 1);
    EXPECT_FALSE(link.IsGone());
    EXPECT_EQ(back.Receive(1000), QByteArray("ok"));

    // By its own /dev/pts/N a pseudo-terminal is not followed back: once freed, the number is
    // the next pseudo-terminal's, here another program's (the kernel gives the lowest free).
    link.ClosePort();
    link.SetPortText(back.SlavePath());
    link.ReopenPort();
    ASSERT_TRUE(link.IsOpen()) << qPrintable(link.LastError());
    back.CloseMaster();
    EXPECT_EQ(SendCommand("x"), 0);
    ASSERT_TRUE(link.IsGone());
    std::vector<std::unique_ptr<PtyPair>> others;
    do
        others.push_back(std::make_unique<PtyPair>());
    while (others.size() < 16 && others.back()->SlavePath() != back.SlavePath());
    ASSERT_EQ(others.back()->SlavePath(), back.SlavePath()) << "the number was not given again";
    EXPECT_EQ(SendCommand("x"), 0);
    EXPECT_TRUE(link.IsGone());
    EXPECT_TRUE(others.back()->Receive(200).isEmpty()) << "another program's port was written";
}

// Settings waits for a wind-up under way (its drain cut short), the program's end for its drain
// too. A close that does not wait ends it at once, keeping what it wrote for a far end yet to read.
TEST_F(CSerialTest, AWindUpUnderWayReachesTheMeterBeforeThePortMovesOrCloses)
{
    const QByteArray windUp("\rrrrrr\r");
    bool ended = false;
    const auto then = [&ended] { ended = true; };
    for (const bool hurried : { true, false }) {
        const auto start = Clock::now();
        ended = false;
        link.SendCommandDetached(windUp, hurried ? 60000 : 300); // a drain of a minute, or 0.3 s
        hurried ? link.AfterDetached(then) : link.WhenDetachedEnds(then);
        EXPECT_FALSE(ended) << "the port moved under the wind-up";
        ASSERT_TRUE(TestEnv::WaitUntil([&ended] { return ended; }, 5000));
        EXPECT_GE(MsBetween(start, Clock::now()), (hurried ? 0 : 300) + 6 * 25) << hurried;
        EXPECT_EQ(pty.Receive(500), windUp);
    }
    ended = false;
    link.SendCommandDetached(windUp);
    link.AfterDetached(then);
    link.ClosePort();
    EXPECT_FALSE(ended) << "called from inside the close";
    EXPECT_EQ(pty.Receive(500), windUp);
    EXPECT_TRUE(TestEnv::WaitUntil([&ended] { return ended; }, 1000));
}

// A drain of unknown length ends once the meter sends only its idle apostrophes (after a log,
// one every 250 ms for some 10 s), not when they stop.
TEST_F(CSerialTest, ADrainIsNotHeldByTheMetersIdleApostrophes)
{
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [this] { pty.Send("'"); });
    ticks.start(100);
    link.SendCommandDetached("r", 300);
    EXPECT_TRUE(TestEnv::WaitUntil([this] { return !link.DetachedRunning(); }, 3000));
    EXPECT_EQ(pty.Receive(500), QByteArray("r"));
}
