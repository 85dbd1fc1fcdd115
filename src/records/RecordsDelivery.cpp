#include "records/RecordsDelivery.h"

#include "records/JournalReader.h"
#include "records/RecordsStore.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSysInfo>
#include <QTcpSocket>
#include <QTimerEvent>

#include <algorithm>

namespace {
constexpr int kRecordsFirstRetryMs = 2000;
constexpr int kRecordsLastRetryMs = 60000;
constexpr int kRecordsProbeMs = 5000;
} // namespace

RecordsDelivery::RecordsDelivery(QObject *parent)
    : QObject(parent)
{
}

RecordsDelivery::~RecordsDelivery() = default;

QString RecordsDelivery::JournalName(const QString &path)
{
    return QSysInfo::machineHostName() + QLatin1Char(':') + QFileInfo(path).absoluteFilePath();
}

bool RecordsDelivery::DeliverSlice(
    RecordsStore &store, const JournalReader &journal, int maxLines, Progress *progress)
{
    const QString name = JournalName(journal.Path());
    const auto position = store.PositionOf(name);
    if (!position)
        return false;
    // A trail begun anew under the same name is taken from its start (lines the store holds
    // already are refused by their ids).
    const QString head = journal.Head();
    const qint64 from = position->head == head ? position->offset : 0;
    JournalReader::Batch batch = journal.Read(from, maxLines);
    progress->skipped += batch.skipped;
    progress->more = batch.more;
    progress->offset = batch.end;
    if (!batch.error.isEmpty())
        return false;
    if (batch.end == position->offset && position->head == head)
        return true;
    RecordsStore::Delivered delivered;
    if (!store.Deliver(name, head, batch.lines, batch.end, &delivered))
        return false;
    progress->taken += delivered.taken;
    progress->duplicates += delivered.duplicates;
    return true;
}

bool RecordsDelivery::DeliverAll(RecordsStore &store, const QString &trailPath, Progress *total)
{
    const JournalReader journal(trailPath);
    do {
        if (!DeliverSlice(store, journal, 500, total))
            return false;
    } while (total->more);
    return true;
}

void RecordsDelivery::Start(const RecordsTarget &target, int sessionHours, const QString &trailPath)
{
    m_store.reset();
    delete m_probe;
    m_probe = nullptr;
    m_reachable = false;
    m_target = target;
    m_sessionHours = sessionHours;
    m_trail = QFileInfo(trailPath).absoluteFilePath();
    m_offset = -1;
    m_waiting = -1;
    m_problem.clear();
    m_backoffMs = 0;
    Schedule(0);
    Q_EMIT Changed();
}

void RecordsDelivery::Appended(const QString &path)
{
    if (QFileInfo(path).absoluteFilePath() != m_trail)
        return;
    if (m_waiting >= 0)
        ++m_waiting;
    // While the store is out of reach the next try comes at its own time.
    if (m_problem.isEmpty() && !m_timer.isActive())
        Schedule(0);
    Q_EMIT Changed();
}

void RecordsDelivery::Schedule(int ms)
{
    m_timer.start(ms, this);
}

void RecordsDelivery::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_timer.timerId()) {
        m_timer.stop();
        Step();
    } else if (event->timerId() == m_probeTimer.timerId()) {
        m_probeTimer.stop();
        if (m_probe)
            Fail(QStringLiteral("The service records %1 cannot be reached: no answer from %2 "
                                "port %3 within %4 s.")
                     .arg(m_target.Url(), m_target.host)
                     .arg(m_target.port)
                     .arg(kRecordsProbeMs / 1000));
    } else {
        QObject::timerEvent(event);
    }
}

void RecordsDelivery::Probe()
{
    m_probe = new QTcpSocket(this);
    connect(m_probe, &QTcpSocket::connected, this, [this] {
        m_probeTimer.stop();
        m_probe->deleteLater();
        m_probe = nullptr;
        m_reachable = true;
        Schedule(0);
    });
    connect(m_probe, &QTcpSocket::errorOccurred, this, [this] {
        m_probeTimer.stop();
        const QString why = m_probe->errorString();
        m_probe->deleteLater();
        m_probe = nullptr;
        Fail(QStringLiteral("The service records %1 cannot be reached: %2.")
                 .arg(m_target.Url(), why));
    });
    m_probeTimer.start(kRecordsProbeMs, this);
    m_probe->connectToHost(m_target.host, quint16(m_target.port));
}

void RecordsDelivery::Step()
{
    if (m_trail.isEmpty() || m_probe)
        return;
    // Nothing to deliver yet: the store is made with the trail's first line, not before.
    if (!QFileInfo::exists(m_trail)) {
        m_waiting = 0;
        Q_EMIT Changed();
        return;
    }
    if (!m_store || !m_store->IsOpen()) {
        if (m_target.kind == RecordsTarget::Kind::Postgresql && !m_reachable) {
            Probe();
            return;
        }
        m_reachable = false;
        m_store = std::make_unique<RecordsStore>(m_target);
        m_store->SetSessionHours(m_sessionHours);
        if (!m_store->Open()) {
            Fail(m_store->Error());
            return;
        }
    }
    const JournalReader journal(m_trail);
    Progress progress;
    QElapsedTimer clock;
    clock.start();
    if (!DeliverSlice(*m_store, journal, m_sliceLines, &progress)) {
        Fail(m_store->Error().isEmpty()
                ? QStringLiteral("The audit trail %1 cannot be read.").arg(m_trail)
                : m_store->Error());
        return;
    }
    // A slice takes about 20 ms of the event loop, however fast the store answers.
    const qint64 ms = clock.elapsed();
    if (ms < 10)
        m_sliceLines = std::min(m_sliceLines * 2, kMaxSliceLines);
    else if (ms > 40)
        m_sliceLines = std::max(m_sliceLines / 2, kMinSliceLines);
    // The trail is counted once; each slice then takes its lines off the count.
    if (!progress.more)
        m_waiting = 0;
    else if (m_offset < 0 || m_waiting < 0)
        m_waiting = journal.LinesAfter(progress.offset);
    else
        m_waiting = std::max<qint64>(
            0, m_waiting - progress.taken - progress.duplicates - progress.skipped);
    m_offset = progress.offset;
    m_problem.clear();
    m_backoffMs = 0;
    if (progress.more)
        Schedule(0);
    Q_EMIT Changed();
}

void RecordsDelivery::Fail(const QString &why)
{
    m_store.reset();
    m_reachable = false;
    m_problem = why;
    if (m_offset >= 0)
        m_waiting = JournalReader(m_trail).LinesAfter(m_offset);
    m_backoffMs
        = m_backoffMs == 0 ? kRecordsFirstRetryMs : std::min(2 * m_backoffMs, kRecordsLastRetryMs);
    Schedule(m_backoffMs);
    Q_EMIT Changed();
}
