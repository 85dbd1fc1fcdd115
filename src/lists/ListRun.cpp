#include "lists/ListRun.h"

#include "base/DialogueRunner.h"
#include "lists/CQueDoc.h"
#include "lists/IMeterLink.h"

#include <QElapsedTimer>
#include <QFile>

int ListRun::NextBeat(qint64 elapsedMs) const
{
    if (m_periodMs <= 0)
        return 0;
    return int(m_periodMs - elapsedMs % m_periodMs);
}

Task<ListRun::Outcome> ListRun::RunFile(
    DialogueRunner &runner, QString fileName, IFieldAccess *fields, IMeterLink *link)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        Outcome outcome;
        outcome.end = End::Unreadable;
        outcome.error = file.errorString();
        co_return outcome;
    }
    m_executor.SetLines(CQueDoc::SplitLines(file.readAll()));
    co_return co_await Run(runner, fields, link);
}

Task<ListRun::Outcome> ListRun::Run(DialogueRunner &runner, IFieldAccess *fields, IMeterLink *link)
{
    Outcome outcome;
    m_messages.clear();
    m_executor.Reset();
    m_executor.SetLink(link);
    // The first line on the first beat, as the form's timer took it.
    co_await runner.Sleep(qMax(1, m_periodMs));
    QElapsedTimer beat;
    beat.start();
    while (!runner.Cancelled()) {
        const int step = co_await m_executor.StepAsync(fields, runner);
        m_messages += m_executor.Messages();
        if (runner.Cancelled())
            break;
        if (step == CQueExecutor::kEnded)
            break;
        if (step == CQueExecutor::kBadLabel || m_executor.Stopped()) {
            outcome.end = End::Failed;
            break;
        }
        co_await runner.Sleep(NextBeat(beat.elapsed()));
    }
    outcome.fieldCut = m_executor.FieldCut();
    if (outcome.fieldCut && outcome.end == End::Failed && !m_fieldCutNote.isEmpty()) {
        if (m_messages.isEmpty())
            m_messages.append({ m_fieldCutNote, QString() });
        else
            m_messages.last().text += QLatin1Char('\n') + m_fieldCutNote;
    }
    if (runner.Cancelled()) {
        outcome.end = End::Cancelled;
        outcome.windUp = co_await WindUpMeter(runner, link);
    }
    m_executor.SetLink(nullptr);
    outcome.messages = m_messages;
    co_return outcome;
}

Task<ListRun::WindUp> ListRun::WindUpMeter(DialogueRunner &runner, IMeterLink *link)
{
    // The list's own run-mode command, as its last lines would have sent it.
    const CQueExecutor::WindUp windUp = m_executor.WindUpExchange();
    if (!link || windUp.command.isEmpty() || !runner.BeginWindUp())
        co_return WindUp::None;
    if (m_windUpHook)
        m_windUpHook();
    // The answer is awaited only as long as the list's line allows, whatever the link's own
    // read time-out: a silent meter must not hold up the run's end.
    link->PurgeInput();
    const int sent = co_await link->SendCommandAsync(runner, windUp.command.toLatin1() + '\r', {});
    const QByteArray terminator = windUp.terminator.toLatin1();
    QByteArray reply;
    if (sent && !runner.Cancelled())
        co_await link->ReadReplyAsync(runner, reply, qMin(windUp.intervalMs, 100), windUp.totalMs,
            terminator.size() == 1 ? terminator.front() : '\0');
    const bool back = !terminator.isEmpty() && reply.contains(terminator);
    const bool interrupted = runner.Cancelled();
    runner.EndWindUp();
    co_return back && !interrupted ? WindUp::Back : WindUp::Unconfirmed;
}

void ListRun::WindUpDetached(IMeterLink *link) const
{
    const CQueExecutor::WindUp windUp = m_executor.WindUpExchange();
    if (link && !windUp.command.isEmpty())
        link->SendDetached(windUp.command.toLatin1() + '\r');
}
