#include "base/DialogueRunner.h"

#include <QTimer>
#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#else
#include <QSocketNotifier>
#endif

bool DialogueRunner::Wait::await_ready() const
{
    // A cancelled dialogue never waits again, and a zero pause is no wait.
    return m_runner->Cancelled() || m_ms <= 0;
}

void DialogueRunner::Wait::await_suspend(std::coroutine_handle<> awaiting)
{
    m_runner->BeginWait(awaiting, this);
}

DialogueRunner::DialogueRunner(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] { Wake(false); });
}

DialogueRunner::~DialogueRunner()
{
    // A suspended dialogue is destroyed with its frames; its finished callback is not called,
    // since its owner is going away.
    m_waiting = {};
    m_wait = nullptr;
    m_task.reset();
}

bool DialogueRunner::Start(Task<void> dialogue, std::function<void()> finished)
{
    if (m_task)
        return false;
    m_cancelled = false;
    m_windingUp = false;
    m_woundUp = false;
    m_finished = std::move(finished);
    m_task.emplace(std::move(dialogue));
    m_task->Resume();
    FinishIfDone();
    return true;
}

void DialogueRunner::Cancel()
{
    if (!m_task)
        return;
    m_cancelled = true;
    m_windingUp = false;
    if (m_waiting)
        Wake(false);
}

void DialogueRunner::Nudge()
{
    if (!m_waiting || m_resumePosted)
        return;
    m_nudged = true;
    Wake(false);
}

void DialogueRunner::Abort()
{
    m_timer->stop();
    if (m_notifier)
        m_notifier->setEnabled(false);
    ++m_epoch;
    m_resumePosted = false;
    m_waiting = {};
    m_wait = nullptr;
    m_finished = {};
    m_cancelled = false;
    m_windingUp = false;
    m_woundUp = false;
    // Last: the frames' destructors may look at the runner, which is idle by now.
    std::optional<Task<void>> task = std::exchange(m_task, std::nullopt);
}

bool DialogueRunner::BeginWindUp()
{
    if (!m_cancelled || m_woundUp)
        return false;
    m_woundUp = true;
    m_windingUp = true;
    return true;
}

void DialogueRunner::BeginWait(std::coroutine_handle<> awaiting, Wait *wait)
{
    m_waiting = awaiting;
    m_wait = wait;
    if (wait->m_handle >= 0) {
#ifdef Q_OS_WIN
        // The event is signalled when the armed read has a byte; the caller re-arms it (which
        // resets the event) before each wait, so a signal never stands from an earlier one.
        const auto event = reinterpret_cast<Qt::HANDLE>(wait->m_handle);
        if (!m_notifier || m_notifier->handle() != event) {
            delete m_notifier;
            m_notifier = new QWinEventNotifier(event, this);
            connect(m_notifier, &QWinEventNotifier::activated, this, [this] { Wake(true); });
        }
#else
        if (!m_notifier || m_notifier->socket() != qintptr(wait->m_handle)) {
            delete m_notifier;
            m_notifier = new QSocketNotifier(qintptr(wait->m_handle), QSocketNotifier::Read, this);
            connect(m_notifier, &QSocketNotifier::activated, this, [this] { Wake(true); });
        }
#endif
        m_notifier->setEnabled(true);
    }
    m_timer->start(wait->m_ms);
}

void DialogueRunner::Wake(bool readable)
{
    if (!m_waiting || m_resumePosted)
        return;
    m_timer->stop();
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_wait)
        m_wait->m_result = readable || (!Cancelled() && !m_nudged && m_wait->m_handle < 0);
    m_nudged = false;
    // The dialogue goes on from the event loop, never from inside the timer's or notifier's
    // signal or the caller of Cancel, any of which the dialogue's next steps may delete.
    m_resumePosted = true;
    QMetaObject::invokeMethod(
        this,
        [this, epoch = m_epoch] {
            if (epoch == m_epoch)
                ResumeNow();
        },
        Qt::QueuedConnection);
}

void DialogueRunner::ResumeNow()
{
    m_resumePosted = false;
    const std::coroutine_handle<> awaiting = std::exchange(m_waiting, {});
    m_wait = nullptr;
    if (!awaiting)
        return;
    awaiting.resume();
    FinishIfDone();
}

void DialogueRunner::FinishIfDone()
{
    if (!m_task || !m_task->Done())
        return;
    m_task.reset();
    std::function<void()> finished = std::exchange(m_finished, {});
    Q_EMIT Finished();
    if (finished)
        finished();
}
