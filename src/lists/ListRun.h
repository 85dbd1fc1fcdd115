#pragma once

#include "base/Task.h"
#include "lists/CQueExecutor.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class DialogueRunner;
class IFieldAccess;
class IMeterLink;

// Runs a whole command list as one dialogue on a DialogueRunner: each line through the
// executor's StepAsync, the lines on the beat of the form's list period, until the list ends,
// fails or is cancelled. Cancel (DialogueRunner::Cancel) is the one way to stop it: the run then
// winds the meter up with the list's own run-mode command (CQueExecutor::WindUpExchange), and a
// second Cancel ends that too. Nothing is shown from inside: the outcome carries what the lines
// had to say, for the owner to show once the dialogue has ended. Used by a meter form's list run
// (ListDialogue) and by tarvik-cli.
class ListRun
{
public:
    enum class End {
        Ended, // "End", or past the last line
        Failed, // a jump to a missing label, or a port gone: the messages say which
        Cancelled,
        Unreadable, // the list file could not be read (RunFile)
    };
    // What the wind-up of a cancelled run achieved.
    enum class WindUp {
        None, // nothing to wind up (the meter was not woken, or the list sends no run mode)
        Back, // the meter answered the run-mode command
        Unconfirmed, // it did not answer, or a second Cancel cut the wind-up short
    };
    struct Outcome
    {
        End end = End::Ended;
        QList<CQueExecutor::Message> messages; // what the lines had to say, in order
        WindUp windUp = WindUp::None;
        QString error; // Unreadable: why
        // Cut (cancelled, or the port gone) inside the text of a field it was sending
        // (CQueExecutor::FieldCut): the meter may hold part of it.
        bool fieldCut = false;
    };

    ListRun() = default;

    CQueExecutor &Executor() { return m_executor; }
    const CQueExecutor &Executor() const { return m_executor; }
    // The pause from one line's start to the next's, as a form's list timer would beat them; a
    // line that takes longer is followed on the next beat.
    void SetPeriodMs(int ms) { m_periodMs = ms; }
    int PeriodMs() const { return m_periodMs; }
    // What the lines of the run so far had to say (a run destroyed mid-list leaves them here).
    const QList<CQueExecutor::Message> &Messages() const { return m_messages; }
    // Called when a cancelled run begins to wind the meter up (progress display).
    void SetWindUpHook(std::function<void()> hook) { m_windUpHook = std::move(hook); }
    // What the owner adds to the last message of a run that failed inside a field's text (the
    // port gone mid-image): what that leaves in the meter. Empty for nothing.
    void SetFieldCutNote(const QString &note) { m_fieldCutNote = note; }

    // Runs the loaded list from its first line against fields over link. The first line runs
    // one beat after the start, so the run never ends within the call that starts it.
    Task<Outcome> Run(DialogueRunner &runner, IFieldAccess *fields, IMeterLink *link);
    // Reads the list fileName first (End::Unreadable with the reason when it cannot).
    Task<Outcome> RunFile(
        DialogueRunner &runner, QString fileName, IFieldAccess *fields, IMeterLink *link);
    // For a run whose dialogue was destroyed mid-list (its window or form went away): the list's
    // run-mode command, sent after it on the link's own, without waiting for an answer.
    void WindUpDetached(IMeterLink *link) const;

private:
    Task<WindUp> WindUpMeter(DialogueRunner &runner, IMeterLink *link);
    int NextBeat(qint64 elapsedMs) const;

    CQueExecutor m_executor;
    int m_periodMs = 0;
    std::function<void()> m_windUpHook;
    QString m_fieldCutNote;
    QList<CQueExecutor::Message> m_messages;
};
