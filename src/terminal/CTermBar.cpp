#include "terminal/CTermBar.h"

#include "base/SaveDialog.h"
#include "terminal/CTermDoc.h"
#include "terminal/ITermBarHost.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

CTermBar::CTermBar(ITermBarHost *host, QWidget *screen)
    : QWidget(screen)
    , m_host(host)
    , m_screen(screen)
{
    setAutoFillBackground(true);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 1, 4, 1);
    layout->setSpacing(8);
    m_timestamps = new QCheckBox(QStringLiteral("&Timestamp"), this);
    m_timestamps->setToolTip(QStringLiteral("Show the time each received line began"));
    m_hex = new QCheckBox(QStringLiteral("He&x"), this);
    m_hex->setToolTip(QStringLiteral("Show the received bytes in hexadecimal"));
    m_capture = new QPushButton(QStringLiteral("Ca&pture..."), this);
    m_capture->setCheckable(true);
    m_capture->setToolTip(QStringLiteral("Write what the meter sends to a file"));
    m_stopPaste = new QPushButton(QStringLiteral("Stop P&aste"), this);
    m_stopPaste->hide();
    m_status = new QLabel(this);
    m_status->setTextInteractionFlags(Qt::NoTextInteraction);
    // A long capture path must not widen the window: the label shortens it in the middle.
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // Alt and the underlined letter reaches each toggle and gives it the keyboard (Space then
    // flips it); a mouse click leaves the keyboard with the screen, so typing still goes to the
    // meter.
    for (QWidget *w :
        std::initializer_list<QWidget *> { m_timestamps, m_hex, m_capture, m_stopPaste })
        w->setFocusPolicy(Qt::TabFocus);
    layout->addWidget(m_timestamps);
    layout->addWidget(m_hex);
    layout->addWidget(m_capture);
    layout->addWidget(m_stopPaste);
    layout->addWidget(m_status, 1);

    connect(m_timestamps, &QCheckBox::toggled, this, [this](bool on) {
        if (CTermDoc *doc = m_host->Document())
            doc->SetTimestamps(on);
    });
    connect(m_hex, &QCheckBox::toggled, this, [this](bool on) {
        if (CTermDoc *doc = m_host->Document())
            doc->SetHex(on);
    });
    connect(m_capture, &QPushButton::clicked, this, &CTermBar::OnCapture);
    connect(m_stopPaste, &QPushButton::clicked, this, [this] { m_host->CancelPaste(); });
    Refresh();
}

void CTermBar::OnCapture()
{
    CTermDoc *doc = m_host->Document();
    if (!doc)
        return;
    if (doc->Capture().IsOn()) {
        m_host->StopCapture();
        return;
    }
    // The file's extension tells the kind: the filter chosen gives a name without one its own.
    SaveDialog::Request request;
    request.caption = QStringLiteral("Capture");
    request.proposed = QStringLiteral("capture.bin");
    request.filters = QStringList { QStringLiteral("Raw bytes as received (*.bin)"),
        QStringLiteral("Text as shown (*.txt)") };
    request.extensions = QStringList { QStringLiteral(".bin"), QStringLiteral(".txt") };
    const QString path = SaveDialog::Ask(this, request);
    if (!path.isEmpty())
        m_host->StartCapture(path,
            path.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive) ? TermCapture::Mode::Shown
                                                                      : TermCapture::Mode::Raw);
    Refresh();
}

void CTermBar::Refresh()
{
    CTermDoc *doc = m_host->Document();
    if (!doc)
        return;
    const QSignalBlocker stampBlock(m_timestamps);
    const QSignalBlocker hexBlock(m_hex);
    m_timestamps->setChecked(doc->Display().Timestamps());
    m_hex->setChecked(doc->Display().Hex());
    const bool capturing = doc->Capture().IsOn();
    m_capture->setChecked(capturing);
    m_capture->setText(capturing ? QStringLiteral("Stop Ca&pture") : QStringLiteral("Ca&pture..."));
    m_stopPaste->setVisible(m_host->PasteActive());
    m_statusText = m_host->StatusText();
    m_status->setToolTip(capturing ? doc->Capture().Path() : QString());
    ShowStatus();
}

bool CTermBar::focusNextPrevChild(bool next)
{
    QList<QWidget *> chain { m_screen, m_timestamps, m_hex, m_capture };
    if (m_stopPaste->isVisible())
        chain << m_stopPaste;
    const qsizetype at = chain.indexOf(QApplication::focusWidget());
    const qsizetype n = chain.size();
    const qsizetype to = at < 0 ? 0 : (at + (next ? 1 : n - 1)) % n;
    chain.at(to)->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void CTermBar::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        m_screen->setFocus(Qt::OtherFocusReason);
        return;
    }
    QWidget::keyPressEvent(event);
}

void CTermBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    ShowStatus();
}

void CTermBar::ShowStatus()
{
    m_status->setText(
        m_status->fontMetrics().elidedText(m_statusText, Qt::ElideMiddle, m_status->width()));
}

#include "moc_CTermBar.cpp"
