#include "lists/ListRun.h"

#include "base/DialogueRunner.h"
#include "lists/IMeterLink.h"
#include "lists/QueFakes.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace {
// A meter whose every byte and reply takes a wait on the runner, so a run can be stopped at each
// of its waits; it records where the run is.
class SlowMeterLink : public IMeterLink
{
public:
    QStringList sent; // commands wholly or partly sent
    int bytesOut = 0; // of the command going out now
    bool reading = false;
    int replies = 0; // replies read
    bool answers = true;
    QByteArray wire; // every byte that went out
    // Command cutCommand stops after cutAt bytes: it halts (until cancelled), or the port goes.
    int cutCommand = -1, cutAt = 0;
    bool goneAtCut = false, halted = false, gone = false;

    void PurgeInput() override { }
    Task<int> SendCommandAsync(DialogueRunner &runner, const QByteArray &text,
        const std::function<void(int sent)> &progress) override
    {
        sent.append(QString::fromLatin1(text));
        bytesOut = 0;
        const int total = int(text.size());
        while (bytesOut < total) {
            if (sent.size() - 1 == cutCommand && bytesOut == cutAt) {
                gone = goneAtCut;
                halted = !gone;
                while (halted && co_await runner.Sleep(20)) { }
                co_return 0;
            }
            const bool waited = co_await runner.Sleep(20);
            if (!waited)
                co_return 0;
            wire.append(text.at(bytesOut));
            ++bytesOut;
            if (progress)
                progress(bytesOut);
        }
        co_return 1;
    }
    Task<void> ReadReplyAsync(
        DialogueRunner &runner, QByteArray &reply, int, int totalConstantMs, char) override
    {
        reading = true;
        const bool waited = co_await runner.Sleep(answers ? 100 : totalConstantMs);
        reading = false;
        if (waited && answers) {
            reply = ">";
            ++replies;
        }
    }
    void SendDetached(const QByteArray &text) override { sent.append("detached:" + text); }
    bool PortGone() const override { return gone; }
    QString Unreachable() const override { return gone ? QStringLiteral("port gone") : QString(); }
};

const QStringList kList = { " Send(0,100,400,\"rv\",\">\",Fail)",
    " Send(0,100,400,\"rrrr\",\">\",Fail)", " End", "Fail: End" };
} // namespace

// A run stopped at each of its waits ends once, cancelled, with the wind-up the meter needs.
TEST(ListRunTest, CancelAtEveryWait)
{
    enum class Where { BeforeFirstLine, MidSend, AwaitingReply, LinePause, WindUp };
    const struct
    {
        const char *what;
        Where where;
        bool answers; // the meter answers the wind-up
        bool secondCancel; // in the wind-up
        ListRun::WindUp windUp;
    } cases[] = {
        { "before the first line", Where::BeforeFirstLine, true, false, ListRun::WindUp::None },
        { "mid-send", Where::MidSend, true, false, ListRun::WindUp::Back },
        { "awaiting the reply", Where::AwaitingReply, true, false, ListRun::WindUp::Back },
        { "in the line pause", Where::LinePause, true, false, ListRun::WindUp::Back },
        { "meter silent in the wind-up", Where::WindUp, false, false,
            ListRun::WindUp::Unconfirmed },
        { "second cancel in the wind-up", Where::WindUp, false, true,
            ListRun::WindUp::Unconfirmed },
    };
    for (const auto &c : cases) {
        SlowMeterLink link;
        MapForm form;
        DialogueRunner runner;
        ListRun run;
        run.Executor().SetLines(kList);
        run.Executor().SetPauseMs(0);
        run.SetPeriodMs(200);
        bool windingUp = false;
        run.SetWindUpHook([&windingUp] { windingUp = true; });
        std::optional<ListRun::Outcome> outcome;
        int ends = 0;
        ASSERT_TRUE(runner.Start(
            [](ListRun &r, DialogueRunner &d, MapForm *f, SlowMeterLink *l,
                std::optional<ListRun::Outcome> *o) -> Task<void> {
                *o = co_await r.Run(d, f, l);
            }(run, runner, &form, &link, &outcome),
            [&ends] { ++ends; }))
            << c.what;
        const std::function<bool()> reached[] = {
            [] { return true; },
            [&] {
                return link.sent.size() == 1 && link.bytesOut >= 1 && !link.reading
                    && link.replies == 0;
            },
            [&] { return link.reading; },
            [&] { return link.replies == 1 && link.sent.size() == 1; },
            [&] { return link.reading; },
        };
        ASSERT_TRUE(TestEnv::WaitUntil(reached[int(c.where)], 5000)) << c.what;
        link.answers = c.answers;
        runner.Cancel();
        if (c.secondCancel) {
            ASSERT_TRUE(TestEnv::WaitUntil([&] { return windingUp && link.reading; }, 5000));
            runner.Cancel();
        }
        ASSERT_TRUE(TestEnv::WaitUntil([&] { return !runner.IsRunning(); }, 5000)) << c.what;
        ASSERT_TRUE(outcome) << c.what;
        EXPECT_EQ(ends, 1) << c.what;
        EXPECT_EQ(outcome->end, ListRun::End::Cancelled) << c.what;
        EXPECT_EQ(outcome->windUp, c.windUp) << c.what;
        EXPECT_EQ(windingUp, c.windUp != ListRun::WindUp::None) << c.what;
        EXPECT_EQ(link.sent.value(link.sent.size() - 1).endsWith("rrrr\r"),
            c.windUp != ListRun::WindUp::None)
            << c.what;
    }
}

// A runner destroyed while the run waits takes the run with it: nothing resumes.
TEST(ListRunTest, DestroyedRunnerResumesNothing)
{
    SlowMeterLink link;
    MapForm form;
    ListRun run;
    run.Executor().SetLines(kList);
    bool resumed = false;
    auto runner = std::make_unique<DialogueRunner>();
    ASSERT_TRUE(runner->Start(
        [](ListRun &r, DialogueRunner &d, MapForm *f, SlowMeterLink *l, bool *after) -> Task<void> {
            co_await r.Run(d, f, l);
            *after = true;
        }(run, *runner, &form, &link, &resumed)));
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return link.reading; }, 5000));
    runner.reset();
    const int sent = int(link.sent.size());
    EXPECT_FALSE(TestEnv::WaitUntil([&] { return resumed || link.sent.size() != sent; }, 300));
    EXPECT_EQ(run.Executor().LineIndex(), 0);
}

// A cut inside a field's text (an image: byte lines, then the empty line that ends it) never
// sends that empty line; the outcome says the meter may hold part of the field.
TEST(ListRunTest, CutInsideAFieldNeverEndsItAsWhole)
{
    enum How { Cancel, Gone };
    const struct
    {
        int bytes; // of the field's send "AB\rCD\r" and its closing "\r" when cut
        How how;
        QByteArray after; // what went out after the cut
        bool fieldCut;
    } cases[] = { { 0, Cancel, "rrrr\r", false }, { 1, Cancel, "\rrrrr\r", true },
        { 3, Cancel, "rrrr\r", true }, { 5, Cancel, "\rrrrr\r", true },
        { 6, Cancel, "rrrr\r", true }, { 6, Gone, "", true } };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.bytes << " bytes, how " << c.how);
        SlowMeterLink link;
        link.cutCommand = 1;
        link.cutAt = c.bytes;
        link.goneAtCut = c.how == Gone;
        MapForm form;
        form.fields[7] = QStringLiteral("AB\rCD\r");
        auto runner = std::make_unique<DialogueRunner>();
        ListRun run;
        run.Executor().SetLines({ " Send(0,100,400,\"..\",\">\",F)",
            " Send(7,100,400,\"\",\">\",F)", " Send(0,100,400,\"rrrr\",\">\",F)", "F: End" });
        run.SetFieldCutNote(QStringLiteral("part of it"));
        std::optional<ListRun::Outcome> outcome;
        ASSERT_TRUE(runner->Start([](ListRun &r, DialogueRunner &d, MapForm *f, SlowMeterLink *l,
                                      std::optional<ListRun::Outcome> *o) -> Task<void> {
            *o = co_await r.Run(d, f, l);
        }(run, *runner, &form, &link, &outcome)));
        ASSERT_TRUE(TestEnv::WaitUntil([&] { return link.halted || link.gone; }, 5000));
        const QByteArray before = link.wire;
        EXPECT_EQ(before, "..\r" + QByteArray("AB\rCD\r\r").left(c.bytes));
        if (c.how == Cancel)
            runner->Cancel();
        ASSERT_TRUE(TestEnv::WaitUntil([&] { return outcome.has_value(); }, 5000));
        EXPECT_EQ(outcome->fieldCut, c.fieldCut);
        EXPECT_EQ(outcome->messages.value(0).text,
            c.how == Gone ? QStringLiteral("port gone\npart of it") : QString());
        EXPECT_EQ(link.wire.mid(before.size()), c.after);
    }
}
