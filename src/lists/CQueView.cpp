#include "lists/CQueView.h"

#include "base/AppServices.h"
#include "base/DialogueRunner.h"
#include "base/PrintfText.h"
#include "base/UserMessage.h"
#include "lists/CQueDoc.h"
#include "lists/IFieldAccess.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

CQueView::CQueView(CDocument *document, QWidget *parent)
    : CView(document, parent)
{
    auto *title = new QLabel(QStringLiteral("System Communication... Data Transfer"), this);
    title->setAlignment(Qt::AlignCenter);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("1061"));
    m_progress->setTextVisible(false);
    m_lineLabel = new QLabel(this);
    m_lineLabel->setObjectName(QStringLiteral("1062"));
    // The line text must never widen the fixed-size window: it is elided to the label's width.
    m_lineLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_lineLabel->setTextFormat(Qt::PlainText);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("1000"));
    connect(m_cancel, &QPushButton::clicked, this, &CQueView::Cancel);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(6);
    layout->addWidget(title);
    layout->addWidget(m_progress);
    layout->addWidget(m_lineLabel);
    layout->addLayout(buttons);

    m_ownRunner = new DialogueRunner(this);
    m_dialogue = m_ownRunner;
    m_run.Executor().SetLineHook([this](int index, const QString &line) { ShowLine(index, line); });
    m_run.Executor().SetSendHook([this](int sent, int total) { ShowSending(sent, total); });
    m_run.SetWindUpHook([this] {
        m_lineText = QStringLiteral("Returning the meter to run mode");
        ElideLine();
    });
    LoadList();
}

CQueView::~CQueView()
{
    // Closing the window by any means ends the run: a line waiting on the meter goes first,
    // while everything it refers to is still here.
    StopNow(false);
    m_dialogue = nullptr;
    delete m_ownRunner;
    m_ownRunner = nullptr;
}

void CQueView::OnInitialUpdate()
{
    if (!m_form)
        LoadList();
}

void CQueView::LoadList()
{
    auto *document = qobject_cast<CQueDoc *>(GetDocument());
    m_run.Executor().SetLines(document ? document->Lines() : QStringList());
    // The bar spans 0 ... lines - 1. A list of one line or none still gets a span of one, since a
    // bar whose minimum equals its maximum shows a busy animation instead of progress.
    m_lineStep = 0;
    m_sendingPercent = -1;
    m_progress->setRange(0, LineSpan());
    m_progress->setValue(0);
    m_lineText.clear();
    m_lineLabel->clear();
}

CQueView *CQueView::OpenList(AppServices *services, const QString &fileName)
{
    if (!services)
        return nullptr;
    return RunnerOf(services, services->OpenDocument(fileName, false)); // not a file of the user's
}

CQueView *CQueView::RunnerOf(AppServices *services, CDocument *document)
{
    if (!services || !document)
        return nullptr;
    return qobject_cast<CQueView *>(services->FirstViewOf(document));
}

int CQueView::Start(IFieldAccess *form, CSerial *serial, int periodMs, Finished finished,
    const QString &fieldCutNote, DialogueRunner *runner)
{
    m_serialLink.SetSerial(serial);
    return Start(form, &m_serialLink, periodMs, std::move(finished), fieldCutNote, runner);
}

int CQueView::Start(IFieldAccess *form, IMeterLink *link, int periodMs, Finished finished,
    const QString &fieldCutNote, DialogueRunner *runner)
{
    if (!form || (m_form && m_form != form))
        return 0;
    DialogueRunner *runOn = runner ? runner : m_ownRunner;
    if (runOn != m_dialogue && runOn->IsRunning())
        return 0; // the owner's runner is in another dialogue
    SerialPort *port = link ? link->Port() : nullptr;
    if (port && !port->FreeFor(this))
        return 0; // another window's dialogue holds the port
    if (m_form) {
        // The owner starts again: the run in progress goes without a wind-up.
        if (m_dialogue)
            m_dialogue->Abort();
    }
    m_dialogue = runOn;
    if (port && !m_claim.Held())
        m_claim = SerialPort::Claim(port, this, [this] { StopNow(true); });
    LoadList();
    m_link = link;
    m_form = form;
    m_finished = std::move(finished);
    m_outcome = ListRun::Outcome();
    m_run.SetPeriodMs(periodMs);
    m_run.SetFieldCutNote(fieldCutNote);
    // Widget forms are QObjects: their going away must not leave this run pointing at them.
    disconnect(m_formWatch);
    if (auto *object = dynamic_cast<QObject *>(form))
        m_formWatch = connect(object, &QObject::destroyed, this, &CQueView::FormDestroyed);
    // The run's end is taken up from the event loop, once its dialogue has let go of it.
    const int number = ++m_runNumber;
    m_dialogue->Start(RunAll(), [this, number] {
        QMetaObject::invokeMethod(
            this, [this, number] { RunFinished(number); }, Qt::QueuedConnection);
    });
    return 1;
}

Task<void> CQueView::RunAll()
{
    m_outcome = co_await m_run.Run(*m_dialogue, m_form, m_link);
}

void CQueView::RunFinished(int number)
{
    if (number != m_runNumber || !m_form || IsWaiting())
        return; // abandoned, or started again meanwhile
    m_claim.Release();
    disconnect(m_formWatch);
    m_form = nullptr;
    m_link = nullptr;
    m_dialogue = m_ownRunner; // the owner's runner is the owner's again
    const ListRun::Outcome outcome = m_outcome;
    const Finished finished = std::move(m_finished);
    m_finished = nullptr;
    // The run is over: its progress and Cancel go before anything is said about it.
    if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget()))
        frame->hide();
    else
        hide();
    // What the lines had to say comes first, now that the run's dialogue is over; the window
    // may go away behind a message box, the owner still hears the end.
    const QPointer<CQueView> self(this);
    for (const CQueExecutor::Message &message : outcome.messages) {
        if (self)
            UserMessage::Show(message.text, message.caption);
        else
            UserMessage::ShowLater(message.text, message.caption);
    }
    if (finished)
        finished(outcome);
    if (!self)
        return;
    Q_EMIT RunStopped();
    if (self && GetDocument())
        Q_EMIT GetDocument()->CloseRequested();
}

bool CQueView::IsWaiting() const
{
    return m_dialogue && m_dialogue->IsRunning();
}

void CQueView::Cancel()
{
    if (m_form) {
        // The run winds up and ends on its runner; the window closes then. Between its end and
        // the hand-over there is nothing left to cancel.
        if (m_dialogue)
            m_dialogue->Cancel();
        return;
    }
    if (GetDocument())
        Q_EMIT GetDocument()->CloseRequested();
}

void CQueView::StopNow(bool closeDocument)
{
    if (!m_form)
        return;
    ListRun::Outcome outcome;
    outcome.end = ListRun::End::Cancelled;
    outcome.fieldCut = m_run.Executor().FieldCut();
    if (!IsWaiting())
        outcome = m_outcome; // the run had ended; its end was not yet handed over
    const Finished finished = std::move(m_finished);
    m_finished = nullptr;
    DropRun(true);
    m_form = nullptr;
    // The owner learns it from the event loop: this may be the middle of its own work.
    if (finished)
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [finished, outcome] { finished(outcome); },
            Qt::QueuedConnection);
    Q_EMIT RunStopped();
    if (closeDocument && GetDocument())
        Q_EMIT GetDocument()->CloseRequested();
}

void CQueView::Abandon()
{
    if (!m_form)
        return;
    m_finished = nullptr;
    DropRun(true);
    m_form = nullptr;
    Q_EMIT RunStopped();
    if (GetDocument())
        Q_EMIT GetDocument()->CloseRequested();
}

void CQueView::DropRun(bool windUp)
{
    // A run waiting on the meter is destroyed where it waits, not resumed: its link may belong
    // to a form that is going away.
    if (m_dialogue && m_dialogue->IsRunning()) {
        for (const CQueExecutor::Message &message : m_run.Messages())
            UserMessage::ShowLater(message.text, message.caption);
        m_dialogue->Abort();
    } else {
        windUp = false; // the run had ended: wound up already, if it needed it
        for (const CQueExecutor::Message &message : m_outcome.messages)
            UserMessage::ShowLater(message.text, message.caption);
    }
    m_claim.Release();
    disconnect(m_formWatch);
    if (windUp)
        m_run.WindUpDetached(m_link);
    m_link = nullptr;
    m_dialogue = m_ownRunner;
}

void CQueView::FormDestroyed()
{
    // The form is half destroyed: forget it without signalling it, and close the window nobody
    // runs any more. Only a link of this window's own is still there to wind the meter up.
    m_finished = nullptr;
    DropRun(m_link == &m_serialLink);
    m_form = nullptr;
    if (GetDocument())
        Q_EMIT GetDocument()->CloseRequested();
}

int CQueView::LineSpan() const
{
    return qMax(1, int(m_run.Executor().Lines().size()) - 1);
}

void CQueView::ShowLine(int, const QString &line)
{
    // Steps the bar by one without wrapping past its end (a long send before may have measured
    // its bytes on it).
    m_lineStep = qMin(m_lineStep + 1, LineSpan());
    m_sendingPercent = -1;
    m_progress->setRange(0, LineSpan());
    m_progress->setValue(m_lineStep);
    m_lineText = line;
    m_lineText.replace(QLatin1Char('\t'), QLatin1Char(' '));
    ElideLine();
}

void CQueView::ShowSending(int sent, int total)
{
    // A short command goes out in a moment; a long one (a meter image takes some 20 s at the
    // meter's pacing) measures its bytes on the bar as they go.
    if (total < kLongSendBytes)
        return;
    const int percent = int(qint64(sent) * 100 / total);
    if (percent == m_sendingPercent)
        return;
    m_sendingPercent = percent;
    m_lineText = sent < total
        ? PrintfText::Format("Sending %d of %d bytes to the meter", sent, total)
        : PrintfText::Format("Sent %d bytes, waiting for the meter's answer", total);
    ElideLine();
    m_progress->setRange(0, total);
    m_progress->setValue(sent);
}

void CQueView::ElideLine()
{
    const int width = qMax(0, m_lineLabel->width());
    m_lineLabel->setText(m_lineLabel->fontMetrics().elidedText(m_lineText, Qt::ElideRight, width));
    m_lineLabel->setToolTip(m_lineText);
}

void CQueView::resizeEvent(QResizeEvent *event)
{
    CView::resizeEvent(event);
    ElideLine();
}
