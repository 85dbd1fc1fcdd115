#include "lists/CQueView.h"

#include "base/AppServices.h"
#include "base/DialogueRunner.h"
#include "base/PrintfText.h"
#include "base/UserMessage.h"
#include "lists/CQueDoc.h"
#include "lists/IFieldAccess.h"

#include <QHBoxLayout>
#include <QLabel>
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

    m_dialogue = new DialogueRunner(this);
    m_executor.SetLineHook([this](int index, const QString &line) { ShowLine(index, line); });
    m_executor.SetSendHook([this](int sent, int total) { ShowSending(sent, total); });
    LoadList();
}

CQueView::~CQueView()
{
    // A line waiting on the meter goes first, while everything it refers to is still here.
    delete m_dialogue;
    m_dialogue = nullptr;
    // Closing the window by any means ends the run; the form learns it through its QPointer
    // becoming null and through RunStopped.
    if (m_form) {
        m_claim.Release();
        WindUpMeter();
        m_form = nullptr;
        Q_EMIT RunStopped();
    }
}

void CQueView::OnInitialUpdate()
{
    if (!m_form)
        LoadList();
}

void CQueView::LoadList()
{
    auto *document = qobject_cast<CQueDoc *>(GetDocument());
    m_executor.SetLines(document ? document->Lines() : QStringList());
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

int CQueView::Start(IFieldAccess *form, CSerial *serial)
{
    m_serialLink.SetSerial(serial);
    return Start(form, &m_serialLink);
}

int CQueView::Start(IFieldAccess *form, IMeterLink *link)
{
    if (!form || (m_form && m_form != form))
        return 0;
    SerialPort *port = link ? link->Port() : nullptr;
    if (port && !port->FreeFor(this))
        return 0; // another window's dialogue holds the port
    if (port && !m_claim.Held())
        m_claim = SerialPort::Claim(port, this, [this] { Cancel(); });
    LoadList();
    m_executor.SetLink(link);
    m_link = link;
    m_form = form;
    // Widget forms are QObjects: their going away must not leave this run pointing at them.
    disconnect(m_formWatch);
    if (auto *object = dynamic_cast<QObject *>(form))
        m_formWatch = connect(object, &QObject::destroyed, this, &CQueView::FormDestroyed);
    return 1;
}

int CQueView::Step()
{
    if (!m_form || !m_dialogue || m_dialogue->IsRunning() || m_showingMessages)
        return 0;
    int result = 0;
    if (m_lineDone) {
        // The line that waited on the meter has ended: its result now.
        m_lineDone = false;
        result = m_lineResult;
    } else {
        m_inStep = true;
        m_dialogue->Start(RunLine());
        m_inStep = false;
        if (m_dialogue->IsRunning())
            return 0; // waiting on the meter: StepReady follows
        m_lineDone = false;
        result = m_lineResult;
    }
    // The line's messages come before the run stops and before the form learns the result, as
    // they would have had the line shown them itself.
    if (!ShowLineMessages())
        return result;
    if (m_executor.Stopped())
        StopRun(true, false);
    return result;
}

bool CQueView::ShowLineMessages()
{
    if (m_executor.Messages().isEmpty())
        return true;
    const QPointer<CQueView> self(this);
    m_showingMessages = true;
    m_executor.ShowMessages();
    if (!self)
        return false;
    m_showingMessages = false;
    return true;
}

void CQueView::DropWaitingLine()
{
    // A line waiting on the meter is destroyed where it waits, not resumed: its link may belong
    // to a form that is going away. Nothing calls this while the line itself runs: its messages
    // wait until it has ended (ShowLineMessages), and it gives back to the event loop only at
    // its waits.
    if (!m_dialogue || !m_dialogue->IsRunning())
        return;
    delete m_dialogue;
    m_dialogue = new DialogueRunner(this);
}

void CQueView::ShowUnclaimedMessagesLater()
{
    // A line that ended before the run stopped, and whose result no Step handed over, still says
    // its piece: from the event loop, since the stop may come from inside other work.
    if (!m_lineDone)
        return;
    for (const CQueExecutor::Message &message : m_executor.Messages())
        UserMessage::ShowLater(message.text, message.caption);
    m_lineDone = false;
}

bool CQueView::IsWaiting() const
{
    return m_dialogue && m_dialogue->IsRunning();
}

Task<void> CQueView::RunLine()
{
    const int result = co_await m_executor.StepAsync(m_form, *m_dialogue);
    LineDone(result);
}

void CQueView::LineDone(int result)
{
    m_lineResult = result;
    m_lineDone = true;
    // A line that finished within Step is handed over there; one that waited is announced
    // once the runner has let it go.
    if (!m_inStep && m_form)
        QMetaObject::invokeMethod(this, &CQueView::StepReady, Qt::QueuedConnection);
}

void CQueView::Cancel()
{
    StopRun(true, true);
}

void CQueView::EndRun()
{
    StopRun(true, false);
}

void CQueView::StopRun(bool closeDocument, bool cutShort)
{
    QPointer<CQueView> self(this);
    ShowUnclaimedMessagesLater();
    // A line waiting on the meter ends at once; the port is free again for the others.
    DropWaitingLine();
    m_lineDone = false;
    m_claim.Release();
    disconnect(m_formWatch);
    if (m_form) {
        if (cutShort)
            WindUpMeter();
        m_form = nullptr;
        m_link = nullptr;
        m_executor.SetLink(nullptr);
        Q_EMIT RunStopped();
    }
    if (self && closeDocument && GetDocument())
        Q_EMIT GetDocument()->CloseRequested();
}

void CQueView::WindUpMeter()
{
    const CQueExecutor::WindUp windUp = m_executor.WindUpExchange();
    if (m_link && !windUp.command.isEmpty())
        m_link->SendDetached(windUp.command.toLatin1() + '\r');
}

void CQueView::FormDestroyed()
{
    // The form is half destroyed: forget it without signalling it, and close the window nobody
    // runs any more. Only a link of this window's own is still there to wind the meter up.
    m_form = nullptr;
    ShowUnclaimedMessagesLater();
    DropWaitingLine();
    m_lineDone = false;
    m_claim.Release();
    if (m_link == &m_serialLink)
        WindUpMeter();
    m_link = nullptr;
    m_executor.SetLink(nullptr);
    disconnect(m_formWatch);
    if (GetDocument())
        Q_EMIT GetDocument()->CloseRequested();
}

int CQueView::LineSpan() const
{
    return qMax(1, int(m_executor.Lines().size()) - 1);
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
