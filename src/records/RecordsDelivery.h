#pragma once

#include "records/RecordsTarget.h"

#include <QBasicTimer>
#include <QObject>
#include <QString>
#include <QThread>

#include <memory>

class JournalReader;
class QTcpSocket;
class RecordsStore;

// Fills the service records from the audit trail after the action that wrote a line has
// finished: a slice of lines at a time, each slice one transaction. The database work (reading
// the trail, the store's connection, its round trips and commits) runs on a thread of its own
// with a connection of its own, one slice at a time, so the window only posts a step and takes
// its answer: a server's commit or a backlog of thousands of lines never holds the event loop.
// A store that cannot be reached leaves the lines in the trail; they go, once and in order, when
// a later try (every 2 s, backing off to a minute) reaches it. A server is first reached by a
// socket that never holds the window, so a network that is gone costs no freeze.
class RecordsDelivery : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMinSliceLines = 10;
    static constexpr int kMaxSliceLines = 2000;

    explicit RecordsDelivery(QObject *parent = nullptr);
    ~RecordsDelivery() override;

    // The store and the trail to fill it from; delivery starts at once.
    void Start(const RecordsTarget &target, int sessionHours, const QString &trailPath);
    // A line was written to the trail at path (another folder's is ignored).
    void Appended(const QString &path);
    // Lines of the trail the store has not taken; -1 while that is not known (the store was
    // never reached).
    qint64 Waiting() const { return m_waiting; }
    // Why lines wait (empty while the store is reached).
    QString Problem() const { return m_problem; }
    // A slice or a try is due or under way (nothing delivered yet).
    bool Pending() const { return m_timer.isActive() || m_probe || m_busy || m_again; }
    const RecordsTarget &Target() const { return m_target; }

    // The name a store knows this computer's trail at path by.
    static QString JournalName(const QString &path);
    struct Progress
    {
        int taken = 0;
        int duplicates = 0;
        int skipped = 0;
        qint64 offset = 0;
        bool more = false;
    };
    // Delivers at most maxLines lines of the trail into an open store, in one transaction.
    static bool DeliverSlice(
        RecordsStore &store, const JournalReader &journal, int maxLines, Progress *progress);
    // Everything the trail holds that the store lacks (tarvik-cli, which may wait for it); false
    // with the store's error.
    static bool DeliverAll(RecordsStore &store, const QString &trailPath, Progress *total);

Q_SIGNALS:
    void Changed();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    struct Worker; // the store, on m_thread
    // One slice asked of the worker, and its answer.
    struct StepRequest
    {
        int generation = 0; // of Start(): a new one drops the store the worker holds
        RecordsTarget target;
        int sessionHours = 8;
        QString trail;
        int sliceLines = 100;
        qint64 from = -1; // the offset delivered up to (-1: not known yet)
        bool count = false; // count the lines still waiting after the slice
    };
    struct StepAnswer
    {
        int generation = 0;
        QString problem; // empty when the slice went
        Progress progress;
        qint64 ms = 0;
        qint64 waiting = -1; // counted (when asked, or after a failure from a known offset)
    };
    static StepAnswer RunStep(Worker &worker, const StepRequest &request);
    void Step();
    void Stepped(const StepAnswer &answer);
    void Probe();
    void Fail(const QString &why, qint64 waiting);
    void Schedule(int ms);

    RecordsTarget m_target;
    int m_sessionHours = 8;
    QString m_trail;
    std::shared_ptr<Worker> m_worker;
    QThread m_thread;
    QObject *m_threadContext = nullptr; // lives on m_thread: what steps are posted to
    int m_generation = 0;
    bool m_busy = false; // a step is with the worker
    bool m_again = false; // another step is due when it answers
    QTcpSocket *m_probe = nullptr;
    bool m_reachable = false;
    QBasicTimer m_timer;
    QBasicTimer m_probeTimer;
    int m_backoffMs = 0;
    int m_sliceLines = 100;
    qint64 m_offset = -1;
    qint64 m_waiting = -1;
    QString m_problem;
};
