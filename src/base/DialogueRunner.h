#pragma once

#include "base/Task.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>

#ifdef Q_OS_WIN
class QWinEventNotifier;
#else
class QSocketNotifier;
#endif
class QTimer;

// Runs one meter dialogue at a time as a coroutine on the user-interface thread, and gives it the
// waits that hand control back to the event loop: a pause, and a wait for a device to become
// readable within a time-out. Every resumption comes from the event loop (a posted call to this
// object), so a dialogue never resumes inside another object's signal, and destroying the runner
// destroys a suspended dialogue with it: nothing resumes into a window that is gone. Cancel ends
// the current wait at once and makes every later wait return at once, so a dialogue checks
// Cancelled() after its waits and winds up. Owned by whatever starts dialogues (a form's list
// runner, the datalogger, the Modbus window), usually as its child.
class DialogueRunner : public QObject
{
    Q_OBJECT
public:
    // The awaitable of Sleep and Readable: co_await gives true when the device became readable
    // (Readable) or the pause ran its whole length (Sleep); false on a time-out or Cancel.
    class Wait
    {
    public:
        bool await_ready() const;
        void await_suspend(std::coroutine_handle<> awaiting);
        bool await_resume() const { return m_result; }

    private:
        friend class DialogueRunner;
        Wait(DialogueRunner *runner, int ms, std::intptr_t handle)
            : m_runner(runner)
            , m_ms(ms)
            , m_handle(handle)
        {
        }
        DialogueRunner *m_runner;
        int m_ms;
        std::intptr_t m_handle;
        bool m_result = false;
    };

    explicit DialogueRunner(QObject *parent = nullptr);
    ~DialogueRunner() override;

    // Runs dialogue until its first wait. finished is called once when it ends, by completion or
    // Cancel: within Start when it never waited, otherwise from the event loop. false (and
    // nothing run) while another dialogue runs here. finished must not delete the runner
    // (deleteLater is fine).
    bool Start(Task<void> dialogue, std::function<void()> finished = {});
    // Ends the current wait now and every later one at once; the dialogue winds up at its next
    // check of Cancelled(). Nothing happens when no dialogue runs.
    void Cancel();
    // Ends the current dialogue where it waits, without resuming it: its frames are destroyed
    // now (their destructors release what they hold) and finished is not called. For an owner
    // that is closing or replacing the dialogue's port, where not even a wind-up may run on it;
    // a meter left mid-command is the owner's to wind up. Never from inside the dialogue itself.
    // The runner is ready for the next dialogue at once.
    void Abort();
    bool IsRunning() const { return m_task.has_value(); }
    bool Cancelled() const { return m_cancelled && !m_windingUp; }
    // After a Cancel, lets the dialogue wait again for its wind-up (the command that leaves a
    // meter as it was), once: until EndWindUp, Cancelled() is false, and a second Cancel ends
    // the wind-up as the first ended the dialogue. false when there is nothing to wind up (no
    // Cancel) or the wind-up was already begun.
    bool BeginWindUp();
    void EndWindUp() { m_windingUp = false; }
    // Ends the current wait early with false, as though its time ran out, and leaves later waits
    // alone: for a dialogue waiting on something no notifier can watch (its turn at a port, a
    // subscriber's bytes), woken by whoever changes it. Nothing happens when no wait runs.
    void Nudge();

    // A pause of ms milliseconds (no wait at all for ms <= 0).
    Wait Sleep(int ms) { return Wait(this, ms, -1); }
    // Waits until handle is readable, at most ms milliseconds: a file descriptor, or on Windows
    // the event of an armed overlapped read (SerialDevice::WaitHandle); -1 for none, which
    // pauses the whole time-out.
    Wait Readable(std::intptr_t handle, int ms) { return Wait(this, ms, handle); }

Q_SIGNALS:
    void Finished();

private:
    void BeginWait(std::coroutine_handle<> awaiting, Wait *wait);
    void Wake(bool readable);
    void ResumeNow();
    void FinishIfDone();

    std::optional<Task<void>> m_task;
    std::function<void()> m_finished;
    std::coroutine_handle<> m_waiting;
    Wait *m_wait = nullptr;
    QTimer *m_timer = nullptr;
#ifdef Q_OS_WIN
    QWinEventNotifier *m_notifier = nullptr;
#else
    QSocketNotifier *m_notifier = nullptr;
#endif
    bool m_cancelled = false;
    bool m_windingUp = false;
    bool m_woundUp = false; // BeginWindUp was called since the Cancel
    bool m_resumePosted = false;
    bool m_nudged = false; // the current wait was ended by Nudge
    // Counts Aborts: a resumption posted for a dialogue that was aborted meanwhile is dropped.
    unsigned m_epoch = 0;
};
