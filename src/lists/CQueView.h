#pragma once

#include "base/CView.h"
#include "link/SerialPort.h"
#include "lists/CQueExecutor.h"
#include "lists/CSerialMeterLink.h"

class AppServices;
class CSerial;
class DialogueRunner;
class IFieldAccess;
class IMeterLink;
class QLabel;
class QProgressBar;
class QPushButton;

// The runner of a command list: the view of a CQueDoc, showing which line runs in a progress
// window. A meter form opens the list, takes the document's first view and drives it:
//
//     CQueView *view = CQueView::OpenList(AppServices::Instance(), "read20.que"); // brought
//     forward if (m_runner || !view) return;              // a list already runs, or no list file
//     if (!view->Start(this, AppServices::Instance()->MeterLink())) return;
//     m_runner = view;                            // QPointer<CQueView>
//     m_timerId = startTimer(50);
//
//     timerEvent: if (!m_runner || !m_runner->IsRunning()) { kill the timer; m_runner = nullptr; }
//                 else result = m_runner->Step();  // 0 go on, 1 ended, -1 bad jump
//
// A line that exchanges with the meter waits without holding the event loop: Step starts it and
// returns 0 while it waits; when it is done the runner emits StepReady, and the next Step gives
// its result (or runs the next line). What a line has to say (a bad jump, a port gone) is shown
// by the Step that hands its result over, once the line's dialogue has ended. While a run is in
// progress over the program's meter link the runner holds the port (SerialPort::Claim), so neither
// the terminal nor another dialogue uses it.
//
// The run stops when the list executes "End" or a bad jump, when "Cancel" is pressed (Cancel())
// and when the window is closed by any other means; then RunStopped is emitted and no further
// step runs anything. A run cut short leaves the meter in run mode (WindUpMeter). A list without
// "End" keeps answering 1 once past its last line, so a form should treat 1 as the end of its run.
// A form that is a QObject and goes away while its list runs ends the run and closes the list's
// window; any other form calls Cancel() first.
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

    // Starts the list from its first line for form, exchanging with the meter over link, whose
    // port (if any) the run holds until it stops. 0 when another form's run is in progress here
    // (one owner at a time), another dialogue holds the port, or form is null; the owner itself
    // may start again, which begins at line 0.
    int Start(IFieldAccess *form, IMeterLink *link);
    // The same over the program's meter link.
    int Start(IFieldAccess *form, CSerial *serial);
    // Runs one line: 0 go on, 1 the list has ended, -1 a jump to a missing label. Runs nothing
    // and returns 0 when no run is in progress.
    int Step();
    // Stops the run and closes the list's document and window; a run cut short winds up.
    void Cancel();
    // The same for a run that is over (past its last line without "End"): nothing to wind up.
    void EndRun();
    bool IsRunning() const { return m_form != nullptr; }
    // Whether a line is waiting on the meter now.
    bool IsWaiting() const;

    int LineIndex() const { return m_executor.LineIndex(); }
    CQueExecutor &Executor() { return m_executor; }
    QProgressBar *ProgressBar() const { return m_progress; }
    QLabel *LineLabel() const { return m_lineLabel; }
    QPushButton *CancelButton() const { return m_cancel; }

Q_SIGNALS:
    // The run ended by "End", a bad jump, Cancel or the window closing.
    void RunStopped();
    // A line that waited on the meter is done: the next Step gives its result.
    void StepReady();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void LoadList();
    void ShowLine(int index, const QString &line);
    void ShowSending(int sent, int total);
    int LineSpan() const;
    void ElideLine();
    void StopRun(bool closeDocument, bool cutShort);
    // A run cut short after it woke the meter sends the list's own run-mode command, so the
    // meter streams its readings again; it goes out on the link's own, after this run is gone.
    void WindUpMeter();
    void FormDestroyed();

    Task<void> RunLine();
    void DropWaitingLine();
    void LineDone(int result);
    // Shows what the line that ended had to say, now that its dialogue is over; false when this
    // window went away meanwhile. Steps run nothing while the messages are up.
    bool ShowLineMessages();
    void ShowUnclaimedMessagesLater();

    CQueExecutor m_executor;
    CSerialMeterLink m_serialLink;
    DialogueRunner *m_dialogue = nullptr;
    SerialPort::Claim m_claim;
    int m_lineResult = 0; // of the line that last waited, until Step hands it over
    bool m_lineDone = false;
    bool m_inStep = false;
    bool m_showingMessages = false;
    IFieldAccess *m_form = nullptr;
    IMeterLink *m_link = nullptr; // of the run in progress
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
