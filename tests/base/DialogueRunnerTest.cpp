// The coroutine runner the meter dialogues wait on: waits hand control to the event loop, Cancel
// ends a wait at once, and a runner destroyed or aborted mid-wait never resumes its dialogue.
#include "base/DialogueRunner.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <unistd.h>

namespace {
// Runs the event loop until runner has no dialogue (or 5 s pass), counting the ticks of a 10 ms
// timer meanwhile: the proof that the dialogue's waits did not hold the loop.
int TicksUntilIdle(DialogueRunner &runner)
{
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
    tick.start(10);
    QEventLoop loop;
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    QObject::connect(&runner, &DialogueRunner::Finished, &loop, &QEventLoop::quit);
    if (runner.IsRunning())
        loop.exec();
    return ticks;
}

struct Pipe
{
    Pipe() { EXPECT_EQ(::pipe(fds), 0); }
    ~Pipe()
    {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    int fds[2] = { -1, -1 };
};
} // namespace

TEST(DialogueRunner, WaitsReturnToTheEventLoopAndReportHowTheyEnded)
{
    Pipe pipe;
    DialogueRunner runner;
    std::vector<bool> results;
    bool finished = false;
    auto dialogue = [&]() -> Task<void> {
        results.push_back(co_await runner.Sleep(60)); // ran its length
        QTimer::singleShot(30, [&pipe] { (void)!::write(pipe.fds[1], "x", 1); });
        results.push_back(co_await runner.Readable(pipe.fds[0], 2000)); // the byte came
        char byte = 0;
        (void)!::read(pipe.fds[0], &byte, 1);
        results.push_back(co_await runner.Readable(pipe.fds[0], 40)); // silence: time-out
        results.push_back(co_await runner.Sleep(0)); // no wait at all
    };
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(runner.Start(dialogue(), [&finished] { finished = true; }));
    EXPECT_TRUE(runner.IsRunning());
    EXPECT_FALSE(runner.Start(dialogue())) << "one dialogue at a time";
    const int ticks = TicksUntilIdle(runner);
    EXPECT_TRUE(finished);
    EXPECT_EQ(results, (std::vector<bool> { true, true, false, false }));
    EXPECT_GE(clock.elapsed(), 60 + 30 + 40);
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_GE(ticks, 5);
}

TEST(DialogueRunner, CancelEndsTheCurrentWaitAndEveryLaterOne)
{
    DialogueRunner runner;
    std::vector<bool> results;
    int finishedCalls = 0;
    auto dialogue = [&]() -> Task<void> {
        results.push_back(co_await runner.Sleep(10000));
        results.push_back(co_await runner.Readable(-1, 10000));
        results.push_back(runner.Cancelled());
    };
    runner.Start(dialogue(), [&finishedCalls] { ++finishedCalls; });
    QTimer::singleShot(20, [&runner] {
        runner.Cancel();
        runner.Cancel(); // pressed twice
    });
    QElapsedTimer clock;
    clock.start();
    TicksUntilIdle(runner);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(results, (std::vector<bool> { false, false, true }));
    EXPECT_EQ(finishedCalls, 1);
    runner.Cancel(); // nothing runs: nothing happens
    EXPECT_FALSE(runner.IsRunning());
}

// After a Cancel a dialogue may wait once more for its wind-up; a second Cancel ends that too.
TEST(DialogueRunner, AWindUpWaitsAgainUntilASecondCancel)
{
    DialogueRunner runner;
    std::vector<bool> results;
    auto dialogue = [&]() -> Task<void> {
        results.push_back(co_await runner.Sleep(10000)); // cut by the first Cancel
        results.push_back(runner.BeginWindUp());
        results.push_back(runner.Cancelled()); // false while winding up
        results.push_back(co_await runner.Sleep(30)); // a wind-up wait runs its length
        results.push_back(co_await runner.Sleep(10000)); // cut by the second Cancel
        results.push_back(runner.Cancelled());
        runner.EndWindUp();
        results.push_back(runner.BeginWindUp()); // once only
        results.push_back(co_await runner.Sleep(10000)); // returns at once
    };
    runner.Start(dialogue());
    QTimer::singleShot(20, [&runner] { runner.Cancel(); });
    QTimer::singleShot(200, [&runner] { runner.Cancel(); });
    QElapsedTimer clock;
    clock.start();
    TicksUntilIdle(runner);
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(results, (std::vector<bool> { false, true, false, true, false, true, false, false }));

    // Without a Cancel there is nothing to wind up.
    DialogueRunner idle;
    bool begun = true;
    idle.Start([&]() -> Task<void> {
        begun = idle.BeginWindUp();
        co_return;
    }());
    EXPECT_FALSE(begun);
}

TEST(DialogueRunner, DestroyedMidWaitNeverResumesItsDialogue)
{
    auto runner = std::make_unique<DialogueRunner>();
    bool resumed = false;
    bool finished = false;
    auto localGone = std::make_shared<bool>(false);
    auto dialogue = [&](std::shared_ptr<bool> gone) -> Task<void> {
        struct Local
        {
            std::shared_ptr<bool> gone;
            ~Local() { *gone = true; }
        } local { gone };
        co_await runner->Sleep(20);
        resumed = true;
    };
    runner->Start(dialogue(localGone), [&finished] { finished = true; });
    runner.reset();
    EXPECT_TRUE(*localGone) << "the suspended frame is destroyed with the runner";
    QEventLoop loop;
    QTimer::singleShot(80, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_FALSE(resumed);
    EXPECT_FALSE(finished);
}

// Abort drops a waiting dialogue on the spot, as destroying the runner does, and leaves the
// runner ready: a resumption already posted for the old dialogue (here by a Cancel) must not
// wake the next one early.
TEST(DialogueRunner, AbortDropsTheWaitingDialogueAndTheNextOneWaitsInFull)
{
    DialogueRunner runner;
    bool resumed = false;
    bool finished = false;
    auto frameGone = std::make_shared<bool>(false);
    auto dialogue = [&](std::shared_ptr<bool> gone) -> Task<void> {
        struct Local
        {
            std::shared_ptr<bool> gone;
            ~Local() { *gone = true; }
        } local { gone };
        co_await runner.Sleep(5000);
        resumed = true;
    };
    ASSERT_TRUE(runner.Start(dialogue(frameGone), [&finished] { finished = true; }));
    runner.Cancel(); // posts the old dialogue's resumption
    runner.Abort();
    EXPECT_TRUE(*frameGone);
    EXPECT_FALSE(runner.IsRunning());
    EXPECT_FALSE(runner.Cancelled());

    bool fullWait = false;
    QElapsedTimer clock;
    clock.start();
    // Arguments, not captures: the temporary lambda dies before the coroutine resumes.
    ASSERT_TRUE(runner.Start([](DialogueRunner &r, bool *result) -> Task<void> {
        *result = co_await r.Sleep(100);
    }(runner, &fullWait)));
    TicksUntilIdle(runner);
    EXPECT_TRUE(fullWait);
    EXPECT_GE(clock.elapsed(), 95);
    EXPECT_FALSE(resumed);
    EXPECT_FALSE(finished);
}
