#pragma once

#include "base/CView.h"

#include <QList>
#include <QMetaObject>
#include <QPointer>
#include <QStringList>

class AppServices;
class ListDialogue;
class QLabel;
class QProgressBar;
class QPushButton;

// The window of a running command list: the view of a CQueDoc, showing in a progress window which
// line of a run runs. The run is its owner's (a meter form's ListDialogue); the window only
// follows it:
//
//     CQueView *view = CQueView::OpenList(AppServices::Instance(), "read20.que"); // brought
//     if (!view || view->FollowsOther(&m_run)) return; // forward; or another form runs it
//     if (!m_run.Start(view->Lines(), this, link, 50, ...)) return;
//     view->Follow(&m_run);
//
// Its bar steps with the lines, and measures a long send's bytes; its Cancel button cancels the
// run (the list winds the meter up and ends). Once the run's dialogue has ended the window hides;
// when the run has stopped, RunStopped is emitted and the window closes. Closing the window by
// other means ends the run at once (ListDialogue::StopNow); deleting it leaves the run alone.
class CQueView : public CView
{
    Q_OBJECT
public:
    explicit CQueView(CDocument *document, QWidget *parent = nullptr);
    ~CQueView() override;

    void OnInitialUpdate() override;

    // Opens a command list by file name through the document manager (an open list is brought
    // forward, not read again) and returns its window, the document's first view; null when the
    // file cannot be opened (the manager has said so).
    static CQueView *OpenList(AppServices *services, const QString &fileName);
    // The first view of an open command-list document, or null.
    static CQueView *RunnerOf(AppServices *services, CDocument *document);

    // The lines of the list this window shows.
    QStringList Lines() const;
    // Whether a run other than run is in progress here (one owner at a time).
    bool FollowsOther(const ListDialogue *run) const;
    // Shows run from its first line on, until it stops. False (nothing changed) when another
    // run is in progress here.
    bool Follow(ListDialogue *run);
    // The run followed, null when none.
    ListDialogue *Run() const;
    // Cancels the run followed; without a run in progress, closes the list's document and window.
    void Cancel();
    bool IsRunning() const;
    // Whether the run's dialogue is under way (a line, the pause between lines, the wind-up).
    bool IsWaiting() const;
    int LineIndex() const;

    QProgressBar *ProgressBar() const { return m_progress; }
    QLabel *LineLabel() const { return m_lineLabel; }
    QPushButton *CancelButton() const { return m_cancel; }

Q_SIGNALS:
    // The run followed ended: by "End", a failure, Cancel or the window closing.
    void RunStopped();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void LoadList(int lineCount);
    void ShowLine(const QString &line);
    void ShowSending(int sent, int total);
    void RunEnding(int number);
    void RunStoppedAt(int number);
    void Unfollow();
    int LineSpan() const;
    void ElideLine();

    QPointer<ListDialogue> m_run;
    int m_runNumber = 0; // of the run followed
    QList<QMetaObject::Connection> m_follow;
    QProgressBar *m_progress = nullptr;
    QLabel *m_lineLabel = nullptr;
    QPushButton *m_cancel = nullptr;
    QString m_lineText;
    int m_lineCount = 0;
    int m_lineStep = 0; // lines run, as shown on the bar
    int m_sendingPercent = -1; // how much of a long send the bar shows, -1 when none
    // Sends of at least this many bytes (about a second at the meter's pacing) show their progress.
    static constexpr int kLongSendBytes = 40;
};
