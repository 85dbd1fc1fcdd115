// One owner of a port's bytes: the dialogue holding the port reads them, between dialogues every
// subscriber gets each of them, and dialogues wait their turn in a queue on their runners.
#include "support/PtyPair.h"
#include "support/RunToEnd.h"
#include "support/TestEnv.h"

#include "base/DialogueRunner.h"
#include "link/CSerial.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

// A dialogue that waits for its turn at the port and keeps what it got.
struct Turn
{
    DialogueRunner runner;
    SerialPort::Claim claim;
    bool ended = false;
    void Start(SerialPort &port) { runner.Start(Take(port)); }
    Task<void> Take(SerialPort &port)
    {
        claim = co_await port.TakeTurn(runner, this);
        ended = true;
    }
};

struct Rig
{
    Rig()
    {
        timing.lockWaitMs = 300;
        link = std::make_unique<CSerial>(pty.SlavePath(), timing);
        link->SetPortText(pty.SlavePath());
        link->SetBaudText(QStringLiteral("115200"));
        opened = link->OpenPort() == 1;
    }
    PtyPair pty;
    LinkTiming timing;
    std::unique_ptr<CSerial> link;
    bool opened = false;
};

struct OwnerCase
{
    const char *name;
    std::function<void(Rig &)> run;
};

void PrintTo(const OwnerCase &c, std::ostream *os)
{
    *os << c.name;
}

const OwnerCase kOwnerCases[] = {
    { "EverySubscriberGetsEveryByte",
        [](Rig &rig) {
            int readyCalls = 0;
            auto a = rig.link->Subscribe([&] { ++readyCalls; });
            auto b = rig.link->Subscribe({});
            ASSERT_TRUE(rig.pty.Send("ABC"));
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return a.Queued() == 3 && b.Queued() == 3; }));
            EXPECT_GE(readyCalls, 1);
            EXPECT_EQ(a.Take(2), QByteArray("AB"));
            EXPECT_EQ(a.Take(10), QByteArray("C"));
            EXPECT_EQ(b.Take(10), QByteArray("ABC"));
            b.Cancel();
            EXPECT_EQ(rig.link->Subscribers(), 1);
            ASSERT_TRUE(rig.pty.Send("D"));
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return a.Queued() == 1; }));
            EXPECT_EQ(b.Queued(), 0);
        } },
    { "TheHolderReadsAloneAndSubscribersGetWhatComesAfter",
        [](Rig &rig) {
            auto sub = rig.link->Subscribe({});
            {
                const int dialogue = 0;
                const SerialPort::Claim claim(rig.link.get(), &dialogue);
                ASSERT_TRUE(claim.Held());
                ASSERT_TRUE(rig.pty.Send("reply"));
                ASSERT_TRUE(
                    TestEnv::WaitUntil([&] { return rig.link->PendingCount(1) == 5; }, 2000));
                EXPECT_EQ(rig.link->DeliverPending(), 0);
                EXPECT_EQ(sub.Queued(), 0);
                unsigned char byte = 0;
                ASSERT_EQ(rig.link->ReadByte(&byte), 1);
                EXPECT_EQ(byte, 'r');
            }
            // What the dialogue left goes to the subscribers once it lets go.
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return sub.Queued() == 4; }, 2000));
            EXPECT_EQ(sub.Take(10), QByteArray("eply"));
        } },
    { "QueuedDialoguesTakeTurnsInOrder",
        [](Rig &rig) {
            auto holder = std::make_unique<SerialPort::Claim>(rig.link.get(), &rig);
            Turn first, second;
            first.Start(*rig.link);
            second.Start(*rig.link);
            EXPECT_EQ(rig.link->QueuedDialogues(), 2);
            holder.reset();
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return first.ended; }));
            EXPECT_TRUE(first.claim.Held());
            EXPECT_FALSE(second.ended);
            first.claim.Release();
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return second.ended; }));
            EXPECT_TRUE(second.claim.Held());
            EXPECT_EQ(rig.link->QueuedDialogues(), 0);
        } },
    { "CancelFreesTheQueueBehindADialogueThatNeverEnds",
        [](Rig &rig) {
            const SerialPort::Claim endless(rig.link.get(), &rig);
            Turn stuck, behind;
            stuck.Start(*rig.link);
            behind.Start(*rig.link);
            stuck.runner.Cancel();
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return stuck.ended; }));
            EXPECT_FALSE(stuck.claim.Held());
            EXPECT_EQ(rig.link->QueuedDialogues(), 1);
            // A runner destroyed while it waits leaves the queue too.
            {
                Turn gone;
                gone.Start(*rig.link);
                EXPECT_EQ(rig.link->QueuedDialogues(), 2);
            }
            EXPECT_EQ(rig.link->QueuedDialogues(), 1);
            behind.runner.Cancel();
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return behind.ended; }));
            EXPECT_EQ(rig.link->QueuedDialogues(), 0);
        } },
    { "AVanishingPortTellsEveryParty",
        [](Rig &rig) {
            int gone = 0;
            auto a = rig.link->Subscribe({}, [&] { ++gone; });
            auto b = rig.link->Subscribe({}, [&] { ++gone; });
            auto holder = std::make_unique<SerialPort::Claim>(rig.link.get(), &rig);
            Turn queued;
            queued.Start(*rig.link);
            rig.pty.CloseMaster();
            EXPECT_EQ(rig.link->WriteByte('x'), 0);
            ASSERT_TRUE(rig.link->IsGone());
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return gone == 2 && queued.ended; }, 2000));
            EXPECT_FALSE(queued.claim.Held());
            holder.reset();
            a.Cancel();
            EXPECT_EQ(rig.link->Subscribers(), 1);
        } },
    { "ASlowSubscriberLosesNothingAndHoldsUpNobody",
        [](Rig &rig) {
            auto slow = rig.link->Subscribe({});
            QByteArray quick;
            SerialPort::Subscription fast;
            fast = rig.link->Subscribe([&] { quick += fast.Take(1 << 20); });
            QByteArray stream;
            for (int i = 0; stream.size() < 64 * 1024; ++i)
                stream += "reading " + QByteArray::number(i) + "\r\n";
            // Written a piece at a time from the event loop: the pseudo-terminal holds only a few
            // kilobytes, and the reader must keep taking them meanwhile.
            qsizetype sent = 0;
            QTimer writer;
            QObject::connect(&writer, &QTimer::timeout, [&] {
                if (sent < stream.size() && rig.pty.Send(stream.mid(sent, 1024)))
                    sent += 1024;
            });
            writer.start(1);
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return quick.size() == stream.size(); }, 20000));
            EXPECT_EQ(quick, stream);
            EXPECT_EQ(slow.Take(1 << 20), stream);
            EXPECT_EQ(slow.Dropped(), 0);
        } },
    { "TheCrossProcessLockIsAwaitedOnTheRunner",
        [](Rig &rig) {
            PortLock other(rig.pty.SlavePath()); // another descriptor: excluded like a program
            ASSERT_TRUE(other.Acquire());
            int ticks = 0;
            QTimer tick;
            QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
            tick.start(10);
            Turn turn;
            turn.Start(*rig.link);
            QTimer::singleShot(100, [&] { other.Release(); });
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return turn.ended; }, 2000));
            EXPECT_TRUE(turn.claim.Held());
            EXPECT_GE(ticks, 5) << "the event loop turned while the lock was busy";
            EXPECT_FALSE(other.Acquire()) << "the claim holds the lock";
            turn.claim.Release();
            EXPECT_TRUE(other.Acquire());
            other.Release();

            ASSERT_TRUE(other.Acquire());
            Turn refused;
            refused.Start(*rig.link);
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return refused.ended; }, 2000));
            EXPECT_FALSE(refused.claim.Held());
            EXPECT_TRUE(rig.link->LastError().contains(QLatin1String("stayed busy")))
                << qPrintable(rig.link->LastError());
            EXPECT_FALSE(rig.link->IsClaimed());
            other.Release();
        } },
    { "ADeviceThatGoesUnderAClaimFreesItsName",
        [](Rig &rig) {
            PortLock other(rig.pty.SlavePath());
            Turn turn;
            turn.Start(*rig.link);
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return turn.ended; }));
            ASSERT_TRUE(turn.claim.Held());
            EXPECT_FALSE(other.Acquire());
            rig.pty.CloseMaster();
            EXPECT_EQ(rig.link->WriteByte('x'), 0);
            ASSERT_TRUE(rig.link->IsGone());
            // The dialogue still holds the port, not the name: the next pseudo-terminal of that
            // number belongs to somebody else.
            EXPECT_TRUE(turn.claim.Held());
            ASSERT_TRUE(other.Acquire());
            other.Release();
            turn.claim.Release();
            EXPECT_TRUE(other.Acquire());
            other.Release();
        } },
    { "AnOpenWaitsForABusyLockOnTheRunnerUntilItRunsOut",
        [](Rig &rig) {
            rig.link->ClosePort();
            PortLock other(rig.pty.SlavePath());
            ASSERT_TRUE(other.Acquire());
            QElapsedTimer clock;
            clock.start();
            EXPECT_EQ(rig.link->OpenPort(), 0) << "a plain open does not wait";
            EXPECT_LT(clock.elapsed(), rig.timing.lockWaitMs);
            qint64 longestGap = 0;
            QElapsedTimer gap;
            gap.start();
            QTimer tick;
            QObject::connect(
                &tick, &QTimer::timeout, [&] { longestGap = std::max(longestGap, gap.restart()); });
            tick.start(5);
            DialogueRunner runner;
            int opened = -1;
            const auto open = [](CSerial *link, DialogueRunner *on, int *result) -> Task<void> {
                *result = co_await link->OpenPortAsync(*on);
            };
            clock.restart();
            runner.Start(open(rig.link.get(), &runner, &opened));
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return opened != -1; }, 5000));
            EXPECT_EQ(opened, 0);
            EXPECT_GE(clock.elapsed(), rig.timing.lockWaitMs - 10);
            EXPECT_LT(longestGap, rig.timing.lockWaitMs) << "the event loop turned meanwhile";
            EXPECT_FALSE(rig.link->IsOpen());
            EXPECT_TRUE(rig.link->LastError().contains(QLatin1String("stayed busy")))
                << qPrintable(rig.link->LastError());
            // Freed within the wait, the same step opens the port.
            opened = -1;
            runner.Start(open(rig.link.get(), &runner, &opened));
            QTimer::singleShot(50, [&] { other.Release(); });
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return opened != -1; }, 5000));
            EXPECT_EQ(opened, 1) << qPrintable(rig.link->LastError());
            EXPECT_TRUE(rig.link->IsOpen());
        } },
};

class PortOwner : public ::testing::TestWithParam<OwnerCase>
{
};

TEST_P(PortOwner, SharesTheBytesAndQueuesTheDialogues)
{
    Rig rig;
    ASSERT_TRUE(rig.pty.IsValid());
    ASSERT_TRUE(rig.opened) << qPrintable(rig.link->LastError());
    GetParam().run(rig);
}

INSTANTIATE_TEST_SUITE_P(SerialPort, PortOwner, ::testing::ValuesIn(kOwnerCases),
    [](const auto &param) { return std::string(param.param.name); });

} // namespace
