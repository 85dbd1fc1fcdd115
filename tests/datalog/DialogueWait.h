#pragma once

#include "base/DialogueRunner.h"
#include "base/Task.h"
#include "datalog/DatalogCore.h"
#include "support/TestEnv.h"

// The datalogger's meter dialogues go on from the event loop: a test presses a button of the
// core, then runs the loop until the dialogue has ended.
inline bool WaitForDialogue(DatalogCore &core, int timeoutMs = 120000)
{
    return TestEnv::WaitUntil([&core] { return !core.IsBusy(); }, timeoutMs);
}

inline bool Press(DatalogCore &core, void (DatalogCore::*button)(), int timeoutMs = 120000)
{
    (core.*button)();
    return WaitForDialogue(core, timeoutMs);
}

namespace DialogueWaitDetail {
template <typename T> Task<void> Into(Task<T> task, T *result)
{
    *result = co_await task;
}
} // namespace DialogueWaitDetail

// One step of a dialogue (ContactMeter, CheckMeter, ...) run on the core's runner to its end.
template <typename T> T Await(DatalogCore &core, Task<T> task)
{
    T result {};
    core.Run(DialogueWaitDetail::Into(std::move(task), &result));
    WaitForDialogue(core);
    return result;
}
