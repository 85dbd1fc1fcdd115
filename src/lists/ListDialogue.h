#pragma once

#include "base/DialogueRunner.h"
#include "link/SerialPort.h"
#include "lists/ListRun.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class IFieldAccess;
class IMeterLink;

// A meter form's command list in progress: the run (ListRun) on a runner of its own, the meter
// port held for the run's whole length (SerialPort::Claim), and the run's end handed to its owner.
// Owned by the form's lists (FormLists), so a run lives as long as the form, whatever becomes of
// the window showing it; that window (CQueView) follows the run through the signals below and
// asks for Cancel or StopNow, nothing more.
//
// Cancel winds the meter up with the list's own run-mode command and ends the run; a second
// Cancel ends the wind-up too. Once the run's dialogue has ended, Ending is emitted (the window
// hides), what the lines had to say is shown, the owner's Finished is called, then Stopped. The
// port taken away (its settings applied anew) or StopNow (the window closed) ends the run at
// once where it waits, winds the meter up by a detached command and tells the owner of a cancel
// from the event loop; Abandon does the same without a word to the owner (the owner going away).
class ListDialogue : public QObject
{
    Q_OBJECT
public:
    explicit ListDialogue(QObject *parent = nullptr);
    // A run still going is destroyed where it waits; the owner hears nothing.
    ~ListDialogue() override;

    // Called once a run has ended, after its messages were shown.
    using Finished = std::function<void(const ListRun::Outcome &outcome)>;
    // Runs lines from the first for fields, exchanging with the meter over link, whose port (if
    // any) the run holds until it stops, the lines on the beat of periodMs. 0 (nothing started)
    // when fields is null or another dialogue holds the port. A run in progress is started again
    // from line 0, without a wind-up. fieldCutNote: what a run that fails inside a field's text
    // adds to its last message (ListRun::SetFieldCutNote).
    int Start(const QStringList &lines, IFieldAccess *fields, IMeterLink *link, int periodMs = 0,
        Finished finished = {}, const QString &fieldCutNote = QString());
    // Cancels the run on its runner (it winds up and ends, see above).
    void Cancel();
    // Ends the run at once where it waits; the owner hears of a cancel from the event loop.
    void StopNow();
    // Ends the run at once, without a word to the owner.
    void Abandon();

    // From Start until its end is handed to the owner (or it is stopped).
    bool IsRunning() const { return m_fields != nullptr; }
    // Whether the run's dialogue is under way (a line, the pause between lines, the wind-up).
    bool IsWaiting() const { return m_runner.IsRunning(); }
    // Counts the runs started: the signals name the run they are about.
    int RunNumber() const { return m_runNumber; }
    int LineIndex() const { return m_run.Executor().LineIndex(); }
    CQueExecutor &Executor() { return m_run.Executor(); }
    const CQueExecutor &Executor() const { return m_run.Executor(); }

Q_SIGNALS:
    // The line at index starts.
    void LineShown(int index, const QString &line);
    // A command of the run goes out: sent of total bytes so far.
    void Sending(int sent, int total);
    // The cancelled run winds the meter up.
    void WindingUp();
    // The run's dialogue has ended: nothing is left to cancel, its messages come next.
    void Ending(int run);
    // The run ended: by its end, a failure, Cancel, StopNow or Abandon.
    void Stopped(int run);

private:
    Task<void> RunAll();
    void RunFinished(int number);
    // Destroys the run where it waits (the lines' messages are shown from the event loop) and
    // lets go of the port; windUp: sends the list's run-mode command detached if it was waiting.
    void DropRun(bool windUp);

    ListRun m_run;
    ListRun::Outcome m_outcome; // of the run whose dialogue has ended
    SerialPort::Claim m_claim;
    int m_runNumber = 0;
    IFieldAccess *m_fields = nullptr; // of the run in progress
    IMeterLink *m_link = nullptr;
    Finished m_finished;
    // Last: destroyed first, so no suspended run outlives what it refers to.
    DialogueRunner m_runner;
};
