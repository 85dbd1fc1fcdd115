#include "app/StatusIndicators.h"

#include "publish/MqttPublisher.h"
#include "records/RecordsDelivery.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QTimer>

namespace {
// Whether a lock key's light is on, from the kernel's LED class where the machine has one.
int ReadLockLed(const char *which)
{
    const QDir leds(QStringLiteral("/sys/class/leds"));
    const QStringList names = leds.entryList(
        { QStringLiteral("*::") + QLatin1String(which) }, QDir::Dirs | QDir::System);
    if (names.isEmpty())
        return -1;
    int on = 0;
    for (const QString &name : names) {
        QFile file(leds.filePath(name) + QStringLiteral("/brightness"));
        if (file.open(QIODevice::ReadOnly) && file.readAll().trimmed().toInt() > 0)
            on = 1;
    }
    return on;
}
} // namespace

StatusIndicators::StatusIndicators(
    QMainWindow *frame, MqttPublisher *publisher, RecordsDelivery *records)
    : QObject(frame)
    , m_publisher(publisher)
    , m_records(records)
    , m_statusBar(frame->statusBar())
{
    const auto indicator = [this, frame](const QString &text) {
        auto *label = new QLabel(text, frame);
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(text) + 12);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        m_statusBar->addPermanentWidget(label);
        return label;
    };
    m_publishLabel = new QLabel(frame);
    m_publishLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_statusBar->addPermanentWidget(m_publishLabel);
    if (m_publisher)
        connect(m_publisher, &MqttPublisher::Changed, this, &StatusIndicators::ShowPublishing);
    ShowPublishing();
    m_recordsLabel = new QLabel(frame);
    m_recordsLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_statusBar->addPermanentWidget(m_recordsLabel);
    if (m_records)
        connect(m_records, &RecordsDelivery::Changed, this, &StatusIndicators::ShowRecords);
    ShowRecords();
    m_capsLabel = indicator(QStringLiteral("CAP"));
    m_numLabel = indicator(QStringLiteral("NUM"));
    m_scrollLabel = indicator(QStringLiteral("SCRL"));
    m_statusBar->showMessage(QStringLiteral("Ready"));
    // The idle text comes back whenever a prompt goes away.
    connect(m_statusBar, &QStatusBar::messageChanged, this, [this](const QString &message) {
        if (message.isEmpty())
            m_statusBar->showMessage(QStringLiteral("Ready"));
    });
    UpdateLockIndicators();
}

void StatusIndicators::ShowPublishing()
{
    MqttPublisher *publisher = m_publisher;
    const bool shown = publisher && (publisher->Started() || publisher->Queued() > 0);
    m_publishLabel->setVisible(shown);
    if (!publisher)
        return;
    m_publishLabel->setText(publisher->StatusText());
    // Permanent widgets are squeezed to their minimum: the whole text stays readable.
    m_publishLabel->setMinimumWidth(
        m_publishLabel->fontMetrics().horizontalAdvance(m_publishLabel->text()) + 12);
    m_publishLabel->setToolTip(publisher->LastError());
}

void StatusIndicators::ShowRecords()
{
    RecordsDelivery *records = m_records;
    const qint64 waiting = records ? records->Waiting() : 0;
    const bool shown = records && (waiting > 0 || (waiting < 0 && !records->Problem().isEmpty()));
    m_recordsLabel->setVisible(shown);
    if (!shown)
        return;
    m_recordsLabel->setText(waiting > 0 ? QStringLiteral("%1 service record%2 waiting")
                                              .arg(waiting)
                                              .arg(waiting == 1 ? "" : "s")
                                        : QStringLiteral("Service records out of reach"));
    m_recordsLabel->setMinimumWidth(
        m_recordsLabel->fontMetrics().horizontalAdvance(m_recordsLabel->text()) + 12);
    m_recordsLabel->setToolTip(records->Problem().isEmpty()
            ? QStringLiteral("Being delivered to %1").arg(records->Target().Url())
            : records->Problem()
                + QStringLiteral("\nThe audit trail keeps them; they go when the store is back."));
}

bool StatusIndicators::OnLockKey(int key)
{
    if (key == Qt::Key_CapsLock)
        m_capsOn = !m_capsOn;
    else if (key == Qt::Key_NumLock)
        m_numOn = !m_numOn;
    else if (key == Qt::Key_ScrollLock)
        m_scrollOn = !m_scrollOn;
    else
        return false;
    // The LED follows the key a moment later.
    QTimer::singleShot(100, this, &StatusIndicators::UpdateLockIndicators);
    UpdateLockIndicators();
    return true;
}

void StatusIndicators::UpdateLockIndicators()
{
    const int caps = ReadLockLed("capslock");
    const int num = ReadLockLed("numlock");
    const int scroll = ReadLockLed("scrolllock");
    if (caps >= 0)
        m_capsOn = caps;
    if (num >= 0)
        m_numOn = num;
    if (scroll >= 0)
        m_scrollOn = scroll;
    // An indicator shows its text only while its lock is on, as a keyboard's lights do.
    const auto show = [](QLabel *label, bool on) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText,
            on ? label->palette().color(QPalette::Active, QPalette::Text)
               : palette.color(QPalette::Disabled, QPalette::WindowText));
        label->setPalette(palette);
        label->setEnabled(on);
    };
    show(m_capsLabel, m_capsOn);
    show(m_numLabel, m_numOn);
    show(m_scrollLabel, m_scrollOn);
}
