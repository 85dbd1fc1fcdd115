#pragma once

#include "base/DialogueRunner.h"
#include "base/Task.h"
#include "link/SerialPort.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

#include <type_traits>
#include <utility>

// Runs an operation of the program's dialogues (a Task) on a DialogueRunner to its end, the event
// loop turning meanwhile, as the program runs it: its waits return to the loop, and a timer or a
// pseudo-terminal's other end goes on beside it. Fails the test when the task has not ended
// within timeoutMs; it is then cancelled and, if it still waits, destroyed with the runner.
namespace RunToEndDetail {
template <typename T> Task<void> Into(Task<T> task, T *result)
{
    *result = co_await task;
}
inline Task<void> Into(Task<void> task)
{
    co_await task;
}

// Waits for runner's dialogue to end; on a time-out cancels it and waits once more for its
// wind-up, so nothing resumes into the caller's frame after it returns.
inline void WaitForEnd(DialogueRunner &runner, int timeoutMs)
{
    if (TestEnv::WaitUntil([&runner] { return !runner.IsRunning(); }, timeoutMs))
        return;
    ADD_FAILURE() << "the dialogue did not end within " << timeoutMs << " ms";
    runner.Cancel();
    TestEnv::WaitUntil([&runner] { return !runner.IsRunning(); }, 5000);
}
} // namespace RunToEndDetail

// On runner (a test that cancels it, or runs several steps on one runner); its result.
template <typename T> T RunToEnd(DialogueRunner &runner, Task<T> task, int timeoutMs = 60000)
{
    if constexpr (std::is_void_v<T>) {
        EXPECT_TRUE(runner.Start(RunToEndDetail::Into(std::move(task))));
        RunToEndDetail::WaitForEnd(runner, timeoutMs);
    } else {
        T result {};
        EXPECT_TRUE(runner.Start(RunToEndDetail::Into(std::move(task), &result)));
        RunToEndDetail::WaitForEnd(runner, timeoutMs);
        return result;
    }
}

// On a runner of its own, which make(runner) gives the task for; its result.
//   const int ok = RunToEnd([&](DialogueRunner &r) { return master.ReadDynamicAsync(r, "1"); });
template <typename Make> auto RunToEnd(Make &&make, int timeoutMs = 60000)
{
    DialogueRunner runner;
    return RunToEnd(runner, std::forward<Make>(make)(runner), timeoutMs);
}

// Waits for input on port as the dialogues do (InputWithin), on a runner of its own: 1 once a
// byte is pending, 0 after timeoutMs (or at once on a gone port).
inline int WaitForInput(SerialPort &port, int timeoutMs)
{
    return RunToEnd([&](DialogueRunner &r) { return port.InputWithin(r, timeoutMs); }) ? 1 : 0;
}
