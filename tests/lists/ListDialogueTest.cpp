#include "lists/ListDialogue.h"

#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "lists/QueFakes.h"
#include "support/TestEnv.h"

#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {
// A scripted meter on a port of its own (never opened), so the run's hold on it can be seen.
class PortedMeterLink : public FakeMeterLink
{
public:
    CSerial port { TestEnv::WorkDir() + QStringLiteral("/no-such-port") };
    SerialPort *Port() const override { return const_cast<CSerial *>(&port); }
};

class ListDialogueTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = UserMessage::SetHandler([this](const QString &text, const QString &caption) {
            events.append(caption + "|" + text);
        });
        run.Executor().SetPauseMs(0);
        QObject::connect(&run, &ListDialogue::Ending, [this] { events.append("ending"); });
        QObject::connect(&run, &ListDialogue::Stopped, [this] { events.append("stopped"); });
    }
    void TearDown() override { UserMessage::SetHandler(m_previous); }

    // Starts lines on run, recording in events what the owner hears and the run's signals.
    int Start(const QStringList &lines, int periodMs = 0)
    {
        return run.Start(lines, &form, &link, periodMs, [this](const ListRun::Outcome &outcome) {
            ends.append(outcome.end);
            events.append(QStringLiteral("owner:%1 claimed:%2")
                              .arg(int(outcome.end))
                              .arg(int(link.port.IsClaimed())));
        });
    }

    // Before the run: a run still going when the test ends stops into them.
    QList<ListRun::End> ends;
    QStringList events;
    PortedMeterLink link;
    MapForm form;
    ListDialogue run;

private:
    UserMessage::Handler m_previous;
};

const QStringList kFindLines = { " Find(\"x\",0,1)", " Find(\"y\",0,1)", " End" };
} // namespace

// The end of a run, in order: the window may hide, the lines' messages are shown, the owner
// hears the outcome with the port already free, then the run says it has stopped.
TEST_F(ListDialogueTest, EndIsHandedOverInOrderWithThePortFree)
{
    const struct
    {
        const char *what;
        QStringList lines;
        ListRun::End end;
        QStringList events;
    } cases[] = {
        { "ended", kFindLines, ListRun::End::Ended, { "ending", "owner:0 claimed:0", "stopped" } },
        { "empty list", {}, ListRun::End::Ended, { "ending", "owner:0 claimed:0", "stopped" } },
        { "bad label on the first line", { " Goto(Nowhere)", " End" }, ListRun::End::Failed,
            { "ending", "Bad jump lable on line 0|Nowhere", "owner:1 claimed:0", "stopped" } },
    };
    for (const auto &c : cases) {
        events.clear();
        ends.clear();
        ASSERT_EQ(Start(c.lines), 1) << c.what;
        EXPECT_TRUE(run.IsRunning()) << c.what;
        EXPECT_EQ(link.port.Holder(), &run) << c.what;
        EXPECT_TRUE(events.isEmpty()) << c.what << ": the first line runs on the first beat";
        ASSERT_TRUE(TestEnv::WaitUntil([&] { return events.contains("stopped"); })) << c.what;
        EXPECT_EQ(ends, QList<ListRun::End> { c.end }) << c.what;
        EXPECT_EQ(events, c.events) << c.what;
        EXPECT_FALSE(run.IsRunning()) << c.what;
    }
}

TEST_F(ListDialogueTest, RunsAReadListAgainstTheMeter)
{
    form.fields[1] = QStringLiteral("rv");
    link.replies = { QByteArray("v4.1A #12345 >") };
    ASSERT_EQ(
        Start({ " Send(1,100,500,\"\",\">\",Fail)", " Read(\"v\",1,4,1049)", " End", "Fail: End" }),
        1);
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return !ends.isEmpty(); }));
    EXPECT_EQ(ends, QList<ListRun::End> { ListRun::End::Ended });
    EXPECT_EQ(form.fields[1049], QStringLiteral("4.1A"));
    EXPECT_EQ(link.calls, (QStringList { "purge", "send:rv\r", "read:100,500" }));
}

TEST_F(ListDialogueTest, StartsOnlyWithFieldsAndAFreePortAndStartsAgainFromTheTop)
{
    EXPECT_EQ(run.Start(kFindLines, nullptr, &link), 0);
    EXPECT_FALSE(run.IsRunning());
    {
        ListDialogue other;
        ASSERT_EQ(other.Start(kFindLines, &form, &link, 10000), 1);
        EXPECT_EQ(run.Start(kFindLines, &form, &link), 0) << "the port is the other run's";
        other.Abandon();
    }
    ASSERT_EQ(Start(kFindLines, 50), 1);
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return run.LineIndex() >= 1; }));
    const int first = run.RunNumber();
    ASSERT_EQ(Start(kFindLines, 10000), 1);
    EXPECT_EQ(run.LineIndex(), -1);
    EXPECT_EQ(run.RunNumber(), first + 1);
    EXPECT_TRUE(ends.isEmpty()) << "the run started again is not ended";
    EXPECT_EQ(link.port.Holder(), &run);
}

// Every way of stopping a run ends it at once and once, lets the port go and says Stopped; the
// owner hears a cancel only when it did not stop the run itself, and never within the call.
TEST_F(ListDialogueTest, EveryWayOfStoppingEndsTheRunOnce)
{
    const struct
    {
        const char *what;
        std::function<void(std::unique_ptr<ListDialogue> &)> stop;
        int ends; // how often the owner hears the end
    } cases[] = {
        { "cancel", [](std::unique_ptr<ListDialogue> &r) { r->Cancel(); }, 1 },
        { "stopped now", [](std::unique_ptr<ListDialogue> &r) { r->StopNow(); }, 1 },
        { "port taken away",
            [this](std::unique_ptr<ListDialogue> &) { link.port.CancelDialogue(); }, 1 },
        { "abandoned", [](std::unique_ptr<ListDialogue> &r) { r->Abandon(); }, 0 },
        { "destroyed", [](std::unique_ptr<ListDialogue> &r) { r.reset(); }, 0 },
    };
    for (const auto &c : cases) {
        auto dialogue = std::make_unique<ListDialogue>();
        int stopped = 0;
        QObject::connect(dialogue.get(), &ListDialogue::Stopped, [&stopped] { ++stopped; });
        QList<ListRun::End> heard;
        // A beat long enough that the run is still before its first line when it is stopped.
        ASSERT_EQ(dialogue->Start(kFindLines, &form, &link, 10000,
                      [&heard](const ListRun::Outcome &outcome) { heard.append(outcome.end); }),
            1)
            << c.what;
        EXPECT_TRUE(dialogue->IsWaiting()) << c.what;
        c.stop(dialogue);
        EXPECT_TRUE(heard.isEmpty()) << c.what;
        EXPECT_TRUE(TestEnv::WaitUntil([&] { return heard.size() == c.ends; })) << c.what;
        QTest::qWait(20);
        EXPECT_EQ(heard.size(), c.ends) << c.what;
        for (ListRun::End end : heard)
            EXPECT_EQ(end, ListRun::End::Cancelled) << c.what;
        EXPECT_EQ(stopped, 1) << c.what;
        EXPECT_FALSE(dialogue && dialogue->IsRunning()) << c.what;
        EXPECT_FALSE(link.port.IsClaimed()) << c.what;
        EXPECT_TRUE(link.calls.isEmpty()) << c.what; // stopped before any line ran
    }
}
