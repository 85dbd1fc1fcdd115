#include "lists/ListDialogue.h"

#include "base/UserMessage.h"
#include "lists/IMeterLink.h"

#include <QCoreApplication>
#include <QPointer>

ListDialogue::ListDialogue(QObject *parent)
    : QObject(parent)
{
    m_run.Executor().SetLineHook(
        [this](int index, const QString &line) { Q_EMIT LineShown(index, line); });
    m_run.Executor().SetSendHook([this](int sent, int total) { Q_EMIT Sending(sent, total); });
    m_run.SetWindUpHook([this] { Q_EMIT WindingUp(); });
}

ListDialogue::~ListDialogue()
{
    // The link may have gone before its owner's lists: no wind-up from here (an owner going away
    // abandons its run first).
    if (!m_fields)
        return;
    m_finished = nullptr;
    DropRun(false);
    m_fields = nullptr;
    Q_EMIT Stopped(m_runNumber);
}

int ListDialogue::Start(const QStringList &lines, IFieldAccess *fields, IMeterLink *link,
    int periodMs, Finished finished, const QString &fieldCutNote)
{
    if (!fields)
        return 0;
    SerialPort *port = link ? link->Port() : nullptr;
    if (port && !port->FreeFor(this))
        return 0; // another window's dialogue holds the port
    // Started again: the run in progress goes without a wind-up.
    if (m_fields)
        m_runner.Abort();
    if (port && !m_claim.Held())
        m_claim = SerialPort::Claim(port, this, [this] { StopNow(); });
    m_run.Executor().SetLines(lines);
    m_link = link;
    m_fields = fields;
    m_finished = std::move(finished);
    m_outcome = ListRun::Outcome();
    m_run.SetPeriodMs(periodMs);
    m_run.SetFieldCutNote(fieldCutNote);
    // The run's end is taken up from the event loop, once its dialogue has let go of it.
    const int number = ++m_runNumber;
    m_runner.Start(RunAll(), [this, number] {
        QMetaObject::invokeMethod(
            this, [this, number] { RunFinished(number); }, Qt::QueuedConnection);
    });
    return 1;
}

Task<void> ListDialogue::RunAll()
{
    m_outcome = co_await m_run.Run(m_runner, m_fields, m_link);
}

void ListDialogue::RunFinished(int number)
{
    if (number != m_runNumber || !m_fields || IsWaiting())
        return; // stopped, or started again meanwhile
    m_claim.Release();
    m_fields = nullptr;
    m_link = nullptr;
    const ListRun::Outcome outcome = m_outcome;
    const Finished finished = std::move(m_finished);
    m_finished = nullptr;
    // The run is over: its progress and Cancel go before anything is said about it.
    Q_EMIT Ending(number);
    // What the lines had to say comes first, now that the run's dialogue is over; the owner may
    // go away behind a message box, and takes this with it.
    const QPointer<ListDialogue> self(this);
    for (const CQueExecutor::Message &message : outcome.messages) {
        if (self)
            UserMessage::Show(message.text, message.caption);
        else
            UserMessage::ShowLater(message.text, message.caption);
    }
    if (!self)
        return;
    if (finished)
        finished(outcome);
    if (self)
        Q_EMIT Stopped(number);
}

void ListDialogue::Cancel()
{
    // Between the dialogue's end and the hand-over there is nothing left to cancel.
    if (m_fields)
        m_runner.Cancel();
}

void ListDialogue::StopNow()
{
    if (!m_fields)
        return;
    ListRun::Outcome outcome;
    outcome.end = ListRun::End::Cancelled;
    outcome.fieldCut = m_run.Executor().FieldCut();
    if (!IsWaiting())
        outcome = m_outcome; // the run had ended; its end was not yet handed over
    const Finished finished = std::move(m_finished);
    m_finished = nullptr;
    DropRun(true);
    m_fields = nullptr;
    // The owner learns it from the event loop: this may be the middle of its own work.
    if (finished)
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [finished, outcome] { finished(outcome); },
            Qt::QueuedConnection);
    Q_EMIT Stopped(m_runNumber);
}

void ListDialogue::Abandon()
{
    if (!m_fields)
        return;
    m_finished = nullptr;
    DropRun(true);
    m_fields = nullptr;
    Q_EMIT Stopped(m_runNumber);
}

void ListDialogue::DropRun(bool windUp)
{
    // A run waiting on the meter is destroyed where it waits, not resumed: its fields may belong
    // to a form that is going away.
    if (m_runner.IsRunning()) {
        for (const CQueExecutor::Message &message : m_run.Messages())
            UserMessage::ShowLater(message.text, message.caption);
        m_runner.Abort();
    } else {
        windUp = false; // the run had ended: wound up already, if it needed it
        for (const CQueExecutor::Message &message : m_outcome.messages)
            UserMessage::ShowLater(message.text, message.caption);
    }
    m_claim.Release();
    if (windUp)
        m_run.WindUpDetached(m_link);
    m_link = nullptr;
}
