#pragma once

#include "base/CView.h"
#include "link/SerialPort.h"
#include "lists/CQueExecutor.h"
#include "lists/CSerialMeterLink.h"
#include "lists/ListRun.h"

#include <QPointer>

#include <functional>

class AppServices;
class CSerial;
class DialogueRunner;
class IFieldAccess;
class IMeterLink;
class QLabel;
class QProgressBar;
class QPushButton;

// The window of a running command list: the view of a CQueDoc, showing which line runs in a
// progress window. A meter form opens the list, takes the document's first view and starts it,
// with what to do when the run has ended:
//
//     CQueView *view = CQueView::OpenList(AppServices::Instance(), "read20.que"); // brought
//     if (m_runner || !view) return;              // forward: a list already runs, or no file
//     if (!view->Start(this, link, 50, [this](const ListRun::Outcome &outcome) { ... }))
//         return;
//     m_runner = view;                            // QPointer<CQueView>
//
// The whole list runs as one dialogue (ListRun) on the owner's DialogueRunner (a form's own), or
// the window's for an owner that gives none, so no line holds the event loop. While it runs over
// the program's meter link the window holds the port (SerialPort::Claim), so neither the terminal
// nor another dialogue uses it. Cancel (the button, or the owner) cancels the run on its runner:
// the list winds the meter up with its own run-mode command and ends; a second Cancel ends the
// wind-up too. Once the run's dialogue has ended the window hides, shows what the lines had to say,
// then the owner gets the outcome, then RunStopped is emitted and the window closes. A window
// closed by other means, or an owner going away (Abandon, or a QObject form's destruction),
// destroys the suspended run where it waits and winds the meter up by a detached command.
class CQueView : public CView
{
    Q_OBJECT
public:
    explicit CQueView(CDocument *document, QWidget *parent = nullptr);
    ~CQueView() override;

    void OnInitialUpdate() override;

    // Opens a command list by file name through the document manager (an open list is brought
    // forward, not read again) and returns its runner, the document's first view; null when the
    // file cannot be opened (the manager has said so).
    static CQueView *OpenList(AppServices *services, const QString &fileName);
    // The first view of an open command-list document, or null.
    static CQueView *RunnerOf(AppServices *services, CDocument *document);

    // Called once a run has ended, after its messages were shown.
    using Finished = std::function<void(const ListRun::Outcome &outcome)>;
    // Starts the list from its first line for form, exchanging with the meter over link, whose
    // port (if any) the run holds until it stops, the lines on the beat of periodMs. 0 when
    // another form's run is in progress here (one owner at a time), another dialogue holds the
    // port, or form is null; the owner itself may start again, which begins at line 0.
    // fieldCutNote: what a run that fails inside a field's text adds to its last message
    // (ListRun::SetFieldCutNote).
    // runner: the owner's, on which the run's dialogue runs (a form runs its lists on its own);
    // null for this window's. 0 as well when the owner's runner is busy with another dialogue.
    int Start(IFieldAccess *form, IMeterLink *link, int periodMs = 0, Finished finished = {},
        const QString &fieldCutNote = QString(), DialogueRunner *runner = nullptr);
    // The same over the program's meter link.
    int Start(IFieldAccess *form, CSerial *serial, int periodMs = 0, Finished finished = {},
        const QString &fieldCutNote = QString(), DialogueRunner *runner = nullptr);
    // Cancels the run on its runner (it winds up and ends, see above); without a run, closes the
    // list's document and window.
    void Cancel();
    // For an owner going away: the run ends at once, without a word to the owner; the meter is
    // wound up by a detached command and the window closes.
    void Abandon();
    bool IsRunning() const { return m_form != nullptr; }
    // Whether the run's dialogue is under way (a line, the pause between lines, the wind-up).
    bool IsWaiting() const;

    int LineIndex() const { return m_run.Executor().LineIndex(); }
    CQueExecutor &Executor() { return m_run.Executor(); }
    QProgressBar *ProgressBar() const { return m_progress; }
    QLabel *LineLabel() const { return m_lineLabel; }
    QPushButton *CancelButton() const { return m_cancel; }

Q_SIGNALS:
    // The run ended: by "End", a failure, Cancel or the window closing.
    void RunStopped();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void LoadList();
    void ShowLine(int index, const QString &line);
    void ShowSending(int sent, int total);
    int LineSpan() const;
    void ElideLine();
    Task<void> RunAll();
    void RunFinished(int number);
    // Destroys the run where it waits: the lines' messages are shown from the event loop, the
    // meter wound up (windUp) by a detached command; the owner hears nothing.
    void DropRun(bool windUp);
    // Ends the run at once where it waits (the window closing, the port taken away by its
    // settings): the meter is wound up by a detached command, the owner hears of a cancel.
    void StopNow(bool closeDocument);
    void FormDestroyed();

    ListRun m_run;
    ListRun::Outcome m_outcome; // of the run whose dialogue has ended
    CSerialMeterLink m_serialLink;
    DialogueRunner *m_ownRunner = nullptr; // for an owner that brings no runner of its own
    // The run's: its owner's (gone with it), or m_ownRunner.
    QPointer<DialogueRunner> m_dialogue;
    SerialPort::Claim m_claim;
    int m_runNumber = 0; // counts the runs started, so a stale end is told apart
    IFieldAccess *m_form = nullptr;
    IMeterLink *m_link = nullptr; // of the run in progress
    Finished m_finished;
    QMetaObject::Connection m_formWatch;
    QProgressBar *m_progress = nullptr;
    QLabel *m_lineLabel = nullptr;
    QPushButton *m_cancel = nullptr;
    QString m_lineText;
    int m_lineStep = 0; // lines run, as shown on the bar
    int m_sendingPercent = -1; // how much of a long send the bar shows, -1 when none
    // Sends of at least this many bytes (about a second at the meter's pacing) show their progress.
    static constexpr int kLongSendBytes = 40;
};
