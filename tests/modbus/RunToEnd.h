#pragma once

#include "base/DialogueRunner.h"
#include "base/Task.h"

#include <QEventLoop>

#include <utility>

// Runs the task that make(runner) gives as a dialogue on a DialogueRunner of its own, under a
// local event loop, until it ends; its result. The way the program runs its meter dialogues, so a
// test drives the operation the program ships, waits returned to the event loop included.
//   const int ok = RunToEnd([&](DialogueRunner &r) { return master.ReadDynamicAsync(r, "1"); });
template <typename Make> auto RunToEnd(Make &&make)
{
    using Result = decltype(std::forward<Make>(make)(std::declval<DialogueRunner &>()).Result());
    DialogueRunner runner;
    QEventLoop loop;
    Result result {};
    runner.Start(
        [](Task<Result> task, Result &out) -> Task<void> { out = co_await std::move(task); }(
                                               std::forward<Make>(make)(runner), result),
        [&loop] { loop.quit(); });
    if (runner.IsRunning())
        loop.exec();
    return result;
}
