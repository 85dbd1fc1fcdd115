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

struct RecordsDelivery::Worker
{
    int generation = -1;
    std::unique_ptr<RecordsStore> store;
};

RecordsDelivery::RecordsDelivery(QObject *parent)
    : QObject(parent)
    , m_worker(std::make_shared<Worker>())
    , m_threadContext(new QObject)
{
    m_thread.setObjectName(QStringLiteral("tarvik-records"));
    m_threadContext->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_threadContext, &QObject::deleteLater);
}

RecordsDelivery::~RecordsDelivery()
{
    if (!m_thread.isRunning()) {
        delete m_threadContext;
        return;
    }
    // The store's connection is closed on the thread that made it, after the step under way.
    QMetaObject::invokeMethod(m_threadContext, [worker = m_worker] {
        worker->store.reset();
        QThread::currentThread()->quit();
    });
    m_thread.wait();
}

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
    if (!m_thread.isRunning())
        m_thread.start();
    // A step still with the worker answers for the store before; the worker drops that store.
    ++m_generation;
    delete m_probe;
    m_probe = nullptr;
    m_probeTimer.stop();
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
                     .arg(kRecordsProbeMs / 1000),
                -1);
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
                 .arg(m_target.Url(), why),
            -1);
    });
    m_probeTimer.start(kRecordsProbeMs, this);
    m_probe->connectToHost(m_target.host, quint16(m_target.port));
}

void RecordsDelivery::Step()
{
    if (m_trail.isEmpty() || m_probe)
        return;
    // One slice at a time, so lines go in order; the next follows the answer.
    if (m_busy) {
        m_again = true;
        return;
    }
    // Nothing to deliver yet: the store is made with the trail's first line, not before.
    if (!QFileInfo::exists(m_trail)) {
        m_waiting = 0;
        Q_EMIT Changed();
        return;
    }
    if (m_target.kind == RecordsTarget::Kind::Postgresql && !m_reachable) {
        Probe();
        return;
    }
    StepRequest request;
    request.generation = m_generation;
    request.target = m_target;
    request.sessionHours = m_sessionHours;
    request.trail = m_trail;
    request.sliceLines = m_sliceLines;
    request.from = m_offset;
    // The trail is counted once; each slice then takes its lines off the count.
    request.count = m_offset < 0 || m_waiting < 0;
    m_busy = true;
    m_again = false;
    QMetaObject::invokeMethod(m_threadContext, [worker = m_worker, request, self = this] {
        const StepAnswer answer = RunStep(*worker, request);
        // The delivery outlives every step: its destructor waits for this thread.
        QMetaObject::invokeMethod(self, [self, answer] { self->Stepped(answer); });
    });
}

RecordsDelivery::StepAnswer RecordsDelivery::RunStep(Worker &worker, const StepRequest &request)
{
    StepAnswer answer;
    answer.generation = request.generation;
    const JournalReader journal(request.trail);
    const auto failed = [&](const QString &why) {
        worker.store.reset();
        answer.problem = why;
        if (request.from >= 0)
            answer.waiting = journal.LinesAfter(request.from);
        return answer;
    };
    if (worker.generation != request.generation || !worker.store || !worker.store->IsOpen()) {
        worker.generation = request.generation;
        worker.store = std::make_unique<RecordsStore>(request.target);
        worker.store->SetSessionHours(request.sessionHours);
        if (!worker.store->Open())
            return failed(worker.store->Error());
    }
    QElapsedTimer clock;
    clock.start();
    if (!DeliverSlice(*worker.store, journal, request.sliceLines, &answer.progress))
        return failed(worker.store->Error().isEmpty()
                ? QStringLiteral("The audit trail %1 cannot be read.").arg(request.trail)
                : worker.store->Error());
    answer.ms = clock.elapsed();
    if (answer.progress.more && request.count)
        answer.waiting = journal.LinesAfter(answer.progress.offset);
    return answer;
}

void RecordsDelivery::Stepped(const StepAnswer &answer)
{
    m_busy = false;
    // Start() came meanwhile: this answer was for the store before.
    if (answer.generation != m_generation) {
        if (!m_timer.isActive())
            Schedule(0);
        return;
    }
    if (!answer.problem.isEmpty()) {
        m_again = false;
        Fail(answer.problem, answer.waiting);
        return;
    }
    const Progress &progress = answer.progress;
    // A slice is one transaction of about 20 ms, however fast the store answers: other
    // programs writing to the same store wait for no more than that.
    if (answer.ms < 10)
        m_sliceLines = std::min(m_sliceLines * 2, kMaxSliceLines);
    else if (answer.ms > 40)
        m_sliceLines = std::max(m_sliceLines / 2, kMinSliceLines);
    if (!progress.more)
        m_waiting = 0;
    else if (answer.waiting >= 0)
        m_waiting = answer.waiting;
    else
        m_waiting = std::max<qint64>(
            0, m_waiting - progress.taken - progress.duplicates - progress.skipped);
    m_offset = progress.offset;
    m_problem.clear();
    m_backoffMs = 0;
    // Lines appended while the slice was under way are not in the count yet when it ended
    // before them; the next slice takes them.
    if (progress.more || m_again) {
        m_again = false;
        Schedule(0);
    }
    Q_EMIT Changed();
}

void RecordsDelivery::Fail(const QString &why, qint64 waiting)
{
    m_reachable = false;
    m_problem = why;
    if (waiting >= 0)
        m_waiting = waiting;
    m_backoffMs
        = m_backoffMs == 0 ? kRecordsFirstRetryMs : std::min(2 * m_backoffMs, kRecordsLastRetryMs);
    Schedule(m_backoffMs);
    Q_EMIT Changed();
}
