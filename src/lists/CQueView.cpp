#include "lists/CQueView.h"

#include "base/AppServices.h"
#include "base/PrintfText.h"
#include "lists/CQueDoc.h"
#include "lists/ListDialogue.h"

#include <QCloseEvent>
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

    LoadList(int(Lines().size()));
}

CQueView::~CQueView()
{
    // The run is its owner's: a window deleted after it was closed (a run's end closes it, and
    // the owner may have started its next list meanwhile) leaves the run alone.
    Unfollow();
}

void CQueView::closeEvent(QCloseEvent *event)
{
    CView::closeEvent(event);
    // Closing the window by any means ends the run it shows, at once.
    if (!event->isAccepted() || !IsRunning())
        return;
    ListDialogue *run = m_run.data();
    Unfollow();
    run->StopNow();
}

void CQueView::OnInitialUpdate()
{
    if (!IsRunning())
        LoadList(int(Lines().size()));
}

QStringList CQueView::Lines() const
{
    const auto *document = qobject_cast<const CQueDoc *>(GetDocument());
    return document ? document->Lines() : QStringList();
}

void CQueView::LoadList(int lineCount)
{
    // The bar spans 0 ... lines - 1. A list of one line or none still gets a span of one, since a
    // bar whose minimum equals its maximum shows a busy animation instead of progress.
    m_lineCount = lineCount;
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

bool CQueView::FollowsOther(const ListDialogue *run) const
{
    return m_run && m_run != run && m_run->IsRunning() && m_run->RunNumber() == m_runNumber;
}

bool CQueView::Follow(ListDialogue *run)
{
    if (!run || FollowsOther(run))
        return false;
    Unfollow();
    m_run = run;
    m_runNumber = run->RunNumber();
    m_follow = {
        connect(run, &ListDialogue::LineShown, this,
            [this](int, const QString &line) { ShowLine(line); }),
        connect(run, &ListDialogue::Sending, this, &CQueView::ShowSending),
        connect(run, &ListDialogue::WindingUp, this,
            [this] {
                m_lineText = QStringLiteral("Returning the meter to run mode");
                ElideLine();
            }),
        connect(run, &ListDialogue::Ending, this, &CQueView::RunEnding),
        connect(run, &ListDialogue::Stopped, this, &CQueView::RunStoppedAt),
    };
    LoadList(int(run->Executor().Lines().size()));
    return true;
}

void CQueView::Unfollow()
{
    for (const QMetaObject::Connection &connection : m_follow)
        disconnect(connection);
    m_follow.clear();
    m_run = nullptr;
}

bool CQueView::IsRunning() const
{
    return m_run && m_run->IsRunning() && m_run->RunNumber() == m_runNumber;
}

bool CQueView::IsWaiting() const
{
    return IsRunning() && m_run->IsWaiting();
}

int CQueView::LineIndex() const
{
    return m_run && m_run->RunNumber() == m_runNumber ? m_run->LineIndex() : -1;
}

void CQueView::RunEnding(int number)
{
    if (number != m_runNumber)
        return;
    if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget()))
        frame->hide();
    else
        hide();
}

void CQueView::RunStoppedAt(int number)
{
    if (number != m_runNumber)
        return; // a later run of the same owner is followed, here or in another window
    Unfollow();
    const QPointer<CQueView> self(this);
    Q_EMIT RunStopped();
    if (self && GetDocument())
        Q_EMIT GetDocument()->CloseRequested();
}

void CQueView::Cancel()
{
    if (IsRunning()) {
        // The run winds up and ends; the window closes then.
        m_run->Cancel();
        return;
    }
    if (GetDocument())
        Q_EMIT GetDocument()->CloseRequested();
}

int CQueView::LineSpan() const
{
    return qMax(1, m_lineCount - 1);
}

void CQueView::ShowLine(const QString &line)
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

ListDialogue *CQueView::Run() const
{
    return m_run.data();
}
