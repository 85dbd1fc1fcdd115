#pragma once

#include "records/RecordsTarget.h"

#include <QBasicTimer>
#include <QObject>
#include <QString>

#include <memory>

class JournalReader;
class QTcpSocket;
class RecordsStore;

// Fills the service records from the audit trail on the event loop, after the action that wrote
// a line has finished: a slice of lines at a time, each slice one transaction. A store that
// cannot be reached leaves the lines in the trail; they go, once and in order, when a later try
// (every 2 s, backing off to a minute) reaches it. A server is first reached by a socket that
// never holds the window, so a network that is gone costs no freeze.
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
    // A slice or a try is due (nothing delivered yet).
    bool Pending() const { return m_timer.isActive() || m_probe; }
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
    void Step();
    void Probe();
    void Fail(const QString &why);
    void Schedule(int ms);

    RecordsTarget m_target;
    int m_sessionHours = 8;
    QString m_trail;
    std::unique_ptr<RecordsStore> m_store;
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
