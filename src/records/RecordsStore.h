#pragma once

#include "audit/AuditRecord.h"
#include "records/JournalReader.h"
#include "records/RecordsTarget.h"

#include <QDate>
#include <QString>

class QVariant;

#include <optional>
#include <vector>

// The service records database: the program's own schema (a version table, created on first use
// and migrated forward; a schema of a newer program is refused and left untouched), every line of
// the audit trail as an action with its changes, the visits they form and the meters they name.
// The same SQL runs on SQLite and PostgreSQL. Each journal line is taken once (its id is the
// key), inside one transaction with the journal's position, so a batch is all in or all out.
class RecordsStore
{
public:
    static constexpr int kSchemaVersion = 1;
    static constexpr int kDefaultSessionHours = 8;
    static constexpr int kDefaultIntervalDays = 365;

    explicit RecordsStore(RecordsTarget target);
    ~RecordsStore();
    RecordsStore(const RecordsStore &) = delete;
    RecordsStore &operator=(const RecordsStore &) = delete;

    // Connects (an SQLite file is created) and makes the schema current. False with Error().
    bool Open();
    bool IsOpen() const { return m_open; }
    void Close();
    QString Error() const { return m_error; }
    const RecordsTarget &Target() const { return m_target; }
    // The schema version the store holds (0 for none yet); -1 when it cannot be told.
    int StoredVersion();

    // Consecutive actions on one meter by one operator within this many hours are one visit.
    void SetSessionHours(int hours) { m_sessionHours = hours > 0 ? hours : kDefaultSessionHours; }

    // How far the store has taken the journal named journal (the bench and the trail's path).
    struct Position
    {
        QString head; // the id of the journal's first record when it was taken from
        qint64 offset = 0;
    };
    std::optional<Position> PositionOf(const QString &journal);
    struct Delivered
    {
        int taken = 0;
        int duplicates = 0; // lines the store already held (delivered by an earlier try)
    };
    // Takes lines (in order) and moves the journal's position to end, in one transaction.
    bool Deliver(const QString &journal, const QString &head,
        const std::vector<JournalReader::Line> &lines, qint64 end, Delivered *delivered);

    struct Visit
    {
        QString id;
        QString series;
        QString serial;
        QString operatorName;
        QString computer;
        QString first; // times as the trail wrote them, with their offsets
        QString last;
        std::vector<AuditRecord> actions; // with their changes, in time order
    };
    struct Meter
    {
        QString series;
        QString serial;
        QString model;
        QString firmware;
        QString lastVisit;
        int visits = 0;
        int intervalDays = 0; // the meter's own; 0: the lab-wide interval
        QDate due;
    };
    // The visits of serial (exactly as written, leading zeros and all), oldest first.
    std::optional<std::vector<Visit>> History(const QString &serial);
    // The meters whose serial contains search (all when empty), by serial.
    std::optional<std::vector<Meter>> Meters(const QString &search);
    // The meters whose recalibration is due on or before day.
    std::optional<std::vector<Meter>> Due(QDate day);
    // The recalibration interval of one meter (every series with that serial; 0: the lab's) or,
    // with an empty serial, the lab-wide one.
    bool SetIntervalDays(const QString &serial, int days);
    int LabIntervalDays();

private:
    struct VisitState;
    bool Exec(const QString &sql);
    bool Failed(const QString &what, const QString &why);
    bool MakeSchema();
    // Runs sql with "%ROWS%" as many rows of columns values as one statement takes, all of
    // values in turn; the rows changed add to *affected.
    bool Batch(const QString &sql, int columns, const std::vector<QVariant> &values, int *affected);
    // The most values one statement binds.
    int MaxValues() const;
    bool TakeLines(const std::vector<JournalReader::Line> &lines, Delivered *delivered);

    RecordsTarget m_target;
    QString m_connection;
    QString m_error;
    bool m_open = false;
    int m_sessionHours = kDefaultSessionHours;
};
