#include "records/RecordsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <atomic>

namespace {
std::atomic<int> g_recordsConnections { 0 };

// The schema, one statement a line, in the SQL both databases take alike: TEXT, INTEGER and
// BIGINT columns, no generated keys (a visit is known by its first line's id).
const char *const kRecordsSchemaV1[] = {
    "CREATE TABLE tarvik_schema (version INTEGER NOT NULL)",
    "CREATE TABLE actions (line_id TEXT PRIMARY KEY, visit_id TEXT, at_text TEXT NOT NULL, "
    "at_utc BIGINT NOT NULL, operator_name TEXT, account TEXT, computer TEXT, "
    "program_version TEXT, act TEXT, series TEXT, model TEXT, firmware TEXT, serial TEXT, "
    "file_path TEXT, sha256 TEXT, as_found TEXT, result TEXT, message TEXT, line TEXT NOT NULL, "
    "journal_offset BIGINT NOT NULL)",
    "CREATE INDEX actions_serial ON actions (serial, at_utc, journal_offset)",
    "CREATE INDEX actions_visit ON actions (visit_id)",
    "CREATE TABLE changes (line_id TEXT NOT NULL, n INTEGER NOT NULL, caption TEXT, "
    "field_id INTEGER, before_text TEXT, after_text TEXT, PRIMARY KEY (line_id, n))",
    "CREATE TABLE visits (visit_id TEXT PRIMARY KEY, series TEXT NOT NULL, serial TEXT NOT NULL, "
    "operator_name TEXT, computer TEXT, first_utc BIGINT NOT NULL, first_text TEXT, "
    "last_utc BIGINT NOT NULL, last_text TEXT, actions INTEGER NOT NULL)",
    "CREATE INDEX visits_serial ON visits (serial, series, last_utc)",
    "CREATE TABLE meters (series TEXT NOT NULL, serial TEXT NOT NULL, model TEXT, firmware TEXT, "
    "last_utc BIGINT, last_text TEXT, serviced_utc BIGINT, interval_days INTEGER, "
    "PRIMARY KEY (series, serial))",
    "CREATE TABLE journals (journal TEXT PRIMARY KEY, head TEXT, offset_bytes BIGINT NOT NULL)",
    "CREATE TABLE lab_settings (name TEXT PRIMARY KEY, value TEXT)",
};

QString RecordsWhy(const QSqlError &error)
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.text().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

qint64 RecordsUtcMs(const QDateTime &time)
{
    return time.toMSecsSinceEpoch();
}
} // namespace

struct RecordsStore::VisitState
{
    QString series;
    QString serial;
    QString id;
    QString operatorName;
    QString computer;
    qint64 firstUtc = 0;
    QString firstText;
    qint64 lastUtc = 0;
    QString lastText;
    int actions = 0;
    bool stored = false; // the row exists, else it is inserted
    bool changed = false;
    // The meter's row: what this batch learnt of it.
    QString model;
    QString firmware;
    qint64 servicedUtc = 0;
};

RecordsStore::RecordsStore(RecordsTarget target)
    : m_target(std::move(target))
    , m_connection(QStringLiteral("tarvik-records-%1").arg(++g_recordsConnections))
{
}

RecordsStore::~RecordsStore()
{
    Close();
}

void RecordsStore::Close()
{
    if (!QSqlDatabase::contains(m_connection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
    m_open = false;
}

bool RecordsStore::Failed(const QString &what, const QString &why)
{
    // SQLite's own words for the two troubles a bench's file has, said plainly (its words kept).
    QString plain = why;
    if (m_target.kind == RecordsTarget::Kind::Sqlite) {
        if (why.contains(QLatin1String("readonly"))
            || why.contains(QLatin1String("unable to open")))
            plain = QStringLiteral("the file cannot be written (it or its folder is read-only for "
                                   "this user: %1)")
                        .arg(why);
        else if (why.contains(QLatin1String("not a database"))
            || why.contains(QLatin1String("malformed")))
            plain = QStringLiteral("the file is damaged or no service records database (%1); "
                                   "moved aside, it is made anew from the audit trail")
                        .arg(why);
    }
    m_error = QStringLiteral("The service records %1 %2: %3.").arg(m_target.Url(), what, plain);
    return false;
}

bool RecordsStore::Exec(const QString &sql)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(sql))
        return true;
    return Failed(QStringLiteral("refused a change"), RecordsWhy(query.lastError()));
}

bool RecordsStore::Open()
{
    Close();
    m_error.clear();
    const bool sqlite = m_target.kind == RecordsTarget::Kind::Sqlite;
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver))
        return Failed(QStringLiteral("cannot be used"),
            QStringLiteral("this computer lacks Qt's %1 database driver").arg(driver));
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, m_connection);
    if (sqlite) {
        QDir().mkpath(QFileInfo(m_target.path).absolutePath());
        db.setDatabaseName(m_target.path);
        // Another program of this bench may be writing: wait for it rather than fail.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else {
        db.setHostName(m_target.host);
        db.setPort(m_target.port);
        db.setDatabaseName(m_target.database);
        db.setUserName(m_target.user);
        if (!m_target.password.isEmpty())
            db.setPassword(m_target.password);
        db.setConnectOptions(QStringLiteral("connect_timeout=5"));
    }
    if (!db.open())
        return Failed(QStringLiteral("cannot be reached"), RecordsWhy(db.lastError()));
    if (sqlite) {
        // Write-ahead: the window and tarvik-cli read while the other writes, and a commit
        // waits for no disk flush. The trail, flushed line by line, is what a power cut keeps;
        // the store is filled again from it.
        QSqlQuery pragma(db);
        pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        // The file is read at the first statement: one that is no database, or cannot be
        // opened, is told here rather than as a refused change.
        if (!pragma.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master")))
            return Failed(QStringLiteral("cannot be used"), RecordsWhy(pragma.lastError()));
    }
    // Two programs may meet an empty store at once: the second one's create fails on the first
    // one's tables, and a second look finds them made.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int version = StoredVersion();
        if (version < 0)
            return false;
        if (version > kSchemaVersion)
            return Failed(QStringLiteral("cannot be used"),
                QStringLiteral("they were written by a newer program (schema version %1; this "
                               "one knows up to version %2). Nothing was written to them")
                    .arg(version)
                    .arg(kSchemaVersion));
        if (version == kSchemaVersion) {
            m_open = true;
            return true;
        }
        if (MakeSchema()) {
            m_open = true;
            return true;
        }
    }
    return false;
}

int RecordsStore::StoredVersion()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    // A file that is no database lists no tables; making the schema then says why.
    if (!db.tables().contains(QStringLiteral("tarvik_schema")))
        return 0;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM tarvik_schema")) || !query.next()) {
        Failed(QStringLiteral("cannot be read"), RecordsWhy(query.lastError()));
        return -1;
    }
    return query.value(0).toInt();
}

bool RecordsStore::MakeSchema()
{
    // Each version's statements in order; a store of version n runs those after n. Only the
    // first version exists so far.
    const int from = StoredVersion();
    if (from < 0)
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return Failed(QStringLiteral("refused a change"), RecordsWhy(db.lastError()));
    bool ok = true;
    if (from < 1)
        for (const char *sql : kRecordsSchemaV1)
            if (!(ok = Exec(QString::fromLatin1(sql))))
                break;
    if (ok)
        ok = Exec(from == 0
                ? QStringLiteral("INSERT INTO tarvik_schema (version) VALUES (%1)")
                      .arg(kSchemaVersion)
                : QStringLiteral("UPDATE tarvik_schema SET version = %1").arg(kSchemaVersion));
    if (ok && db.commit())
        return true;
    if (ok)
        Failed(QStringLiteral("refused a change"), RecordsWhy(db.lastError()));
    db.rollback();
    return false;
}

std::optional<RecordsStore::Position> RecordsStore::PositionOf(const QString &journal)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("SELECT head, offset_bytes FROM journals WHERE journal = ?"));
    query.addBindValue(journal);
    if (!query.exec()) {
        Failed(QStringLiteral("cannot be read"), RecordsWhy(query.lastError()));
        return std::nullopt;
    }
    Position position;
    if (query.next()) {
        position.head = query.value(0).toString();
        position.offset = query.value(1).toLongLong();
    }
    return position;
}

bool RecordsStore::Deliver(const QString &journal, const QString &head,
    const std::vector<JournalReader::Line> &lines, qint64 end, Delivered *delivered)
{
    *delivered = {};
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return Failed(QStringLiteral("refused a change"), RecordsWhy(db.lastError()));
    bool ok = TakeLines(lines, delivered);
    if (ok) {
        QSqlQuery query(db);
        query.prepare(QStringLiteral(
            "INSERT INTO journals (journal, head, offset_bytes) VALUES (?, ?, ?) ON CONFLICT "
            "(journal) DO UPDATE SET head = excluded.head, offset_bytes = excluded.offset_bytes"));
        query.addBindValue(journal);
        query.addBindValue(head);
        query.addBindValue(end);
        ok = query.exec()
            || Failed(QStringLiteral("refused a change"), RecordsWhy(query.lastError()));
    }
    if (ok && db.commit())
        return true;
    if (ok)
        Failed(QStringLiteral("refused a change"), RecordsWhy(db.lastError()));
    db.rollback();
    *delivered = {};
    return false;
}

int RecordsStore::MaxValues() const
{
    // A server answers once a statement, so a statement takes many values; SQLite answers at
    // once, and Qt's driver looks each bound value's name up among all of the statement's, so
    // many values a statement cost it the square of their number.
    return m_target.kind == RecordsTarget::Kind::Sqlite ? 120 : 3000;
}

bool RecordsStore::Batch(
    const QString &sql, int columns, const std::vector<QVariant> &values, int *affected)
{
    // Many rows a statement: a server then answers once per few hundred rows, not per row.
    const int perStatement = std::max(1, MaxValues() / columns);
    const int rows = int(values.size()) / columns;
    for (int first = 0; first < rows; first += perStatement) {
        const int count = std::min(perStatement, rows - first);
        QStringList row(columns, QStringLiteral("?"));
        const QString one = QLatin1Char('(') + row.join(QStringLiteral(", ")) + QLatin1Char(')');
        QSqlQuery query(QSqlDatabase::database(m_connection, false));
        if (!query.prepare(QString(sql).replace(
                QStringLiteral("%ROWS%"), QStringList(count, one).join(QStringLiteral(", "))))) {
            return Failed(QStringLiteral("refused a change"), RecordsWhy(query.lastError()));
        }
        for (int i = 0; i < count * columns; ++i)
            query.bindValue(i, values[size_t(first * columns + i)]);
        if (!query.exec())
            return Failed(QStringLiteral("refused a change"), RecordsWhy(query.lastError()));
        if (affected)
            *affected += query.numRowsAffected();
    }
    return true;
}

bool RecordsStore::TakeLines(const std::vector<JournalReader::Line> &lines, Delivered *delivered)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    // The lines the store holds already (an earlier try, another program on this trail).
    QSet<QString> held;
    const size_t perQuery = size_t(MaxValues());
    for (size_t first = 0; first < lines.size(); first += perQuery) {
        const size_t count = std::min(perQuery, lines.size() - first);
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(
            QStringLiteral("SELECT line_id FROM actions WHERE line_id IN (%1)")
                .arg(QStringList(int(count), QStringLiteral("?")).join(QLatin1Char(','))));
        for (size_t i = 0; i < count; ++i)
            query.bindValue(int(i), lines[first + i].record.lineId);
        if (!query.exec())
            return Failed(QStringLiteral("cannot be read"), RecordsWhy(query.lastError()));
        while (query.next())
            held.insert(query.value(0).toString());
    }

    // A field the line lacks is an empty text, never NULL, so both databases compare it alike.
    std::vector<std::pair<const JournalReader::Line *, AuditRecord>> fresh;
    QSet<QString> serials;
    for (const JournalReader::Line &line : lines) {
        if (held.contains(line.record.lineId)) {
            ++delivered->duplicates;
            continue;
        }
        held.insert(line.record.lineId);
        AuditRecord r = line.record;
        for (QString *text :
            { &r.operatorName, &r.account, &r.computer, &r.version, &r.action, &r.series, &r.model,
                &r.firmware, &r.serial, &r.file, &r.sha256, &r.asFound, &r.result, &r.message })
            if (text->isNull())
                *text = QStringLiteral("");
        r.serial = r.serial.trimmed();
        if (!r.serial.isEmpty())
            serials.insert(r.serial);
        fresh.emplace_back(&line, std::move(r));
    }

    // The latest visit of each meter named, to go on with.
    std::vector<VisitState> visits;
    const QStringList serialList(serials.begin(), serials.end());
    for (qsizetype first = 0; first < serialList.size(); first += MaxValues()) {
        const QStringList some = serialList.mid(first, MaxValues());
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(
            QStringLiteral("SELECT v.visit_id, v.operator_name, v.computer, v.first_utc, "
                           "v.first_text, v.last_utc, v.last_text, v.actions, v.series, v.serial "
                           "FROM visits v WHERE v.serial IN (%1) AND v.last_utc = (SELECT "
                           "MAX(w.last_utc) FROM visits w WHERE w.serial = v.serial AND w.series "
                           "= v.series)")
                .arg(QStringList(some.size(), QStringLiteral("?")).join(QLatin1Char(','))));
        for (qsizetype i = 0; i < some.size(); ++i)
            query.bindValue(int(i), some[i]);
        if (!query.exec())
            return Failed(QStringLiteral("cannot be read"), RecordsWhy(query.lastError()));
        while (query.next()) {
            const QString series = query.value(8).toString(), serial = query.value(9).toString();
            if (std::any_of(visits.begin(), visits.end(),
                    [&](const VisitState &v) { return v.series == series && v.serial == serial; }))
                continue;
            VisitState v;
            v.series = series;
            v.serial = serial;
            v.id = query.value(0).toString();
            v.operatorName = query.value(1).toString();
            v.computer = query.value(2).toString();
            v.firstUtc = query.value(3).toLongLong();
            v.firstText = query.value(4).toString();
            v.lastUtc = query.value(5).toLongLong();
            v.lastText = query.value(6).toString();
            v.actions = query.value(7).toInt();
            v.stored = true;
            visits.push_back(v);
        }
    }

    // Each line joins its meter's visit when the same operator began it within the session,
    // else begins one of its own, known by the line's id.
    const qint64 session = qint64(m_sessionHours) * 3600 * 1000;
    std::vector<VisitState> finished;
    std::vector<QVariant> actionRows, changeRows;
    for (auto &[line, r] : fresh) {
        const qint64 at = RecordsUtcMs(r.time);
        const QString atText = AuditRecord::TimeText(r.time);
        QString visitId;
        if (!r.serial.isEmpty()) {
            auto visit = std::find_if(visits.begin(), visits.end(),
                [&](const VisitState &v) { return v.series == r.series && v.serial == r.serial; });
            if (visit == visits.end()) {
                VisitState v;
                v.series = r.series;
                v.serial = r.serial;
                visits.push_back(v);
                visit = visits.end() - 1;
            }
            const bool joins = !visit->id.isEmpty() && visit->operatorName == r.operatorName
                && at >= visit->firstUtc && at - visit->firstUtc <= session;
            if (joins) {
                ++visit->actions;
                if (at >= visit->lastUtc) {
                    visit->lastUtc = at;
                    visit->lastText = atText;
                }
            } else {
                if (visit->changed)
                    finished.push_back(*visit);
                VisitState next;
                next.series = visit->series;
                next.serial = visit->serial;
                next.id = r.lineId;
                next.operatorName = r.operatorName;
                next.computer = r.computer;
                next.firstUtc = next.lastUtc = at;
                next.firstText = next.lastText = atText;
                next.actions = 1;
                next.model = visit->model;
                next.firmware = visit->firmware;
                next.servicedUtc = visit->servicedUtc;
                *visit = next;
            }
            visit->changed = true;
            if (!r.model.isEmpty())
                visit->model = r.model;
            if (!r.firmware.isEmpty())
                visit->firmware = r.firmware;
            if (r.action == QLatin1String("send") && r.result == QLatin1String("ok"))
                visit->servicedUtc = std::max(visit->servicedUtc, at);
            visitId = visit->id;
        }
        actionRows.insert(actionRows.end(),
            { r.lineId, visitId, atText, at, r.operatorName, r.account, r.computer, r.version,
                r.action, r.series, r.model, r.firmware, r.serial, r.file, r.sha256, r.asFound,
                r.result, r.message, QString::fromUtf8(line->bytes), line->offset });
        int n = 0;
        for (const AuditRecord::Change &c : r.changes)
            changeRows.insert(changeRows.end(),
                { r.lineId, n++, c.caption.isNull() ? QStringLiteral("") : c.caption, c.id,
                    c.before.isNull() ? QStringLiteral("") : c.before,
                    c.after.isNull() ? QStringLiteral("") : c.after });
    }
    if (fresh.empty())
        return true;

    int taken = 0;
    if (!Batch(QStringLiteral("INSERT INTO actions (line_id, visit_id, at_text, at_utc, "
                              "operator_name, account, computer, program_version, act, series, "
                              "model, firmware, serial, file_path, sha256, as_found, result, "
                              "message, line, journal_offset) VALUES %ROWS% ON CONFLICT (line_id) "
                              "DO NOTHING"),
            20, actionRows, &taken))
        return false;
    // Another program took some of these lines since they were looked up: this slice goes
    // again, and finds them held.
    if (taken != int(fresh.size()))
        return Failed(QStringLiteral("refused a change"),
            QStringLiteral("another program delivered the same lines at once; they are taken "
                           "on the next try"));
    delivered->taken += taken;
    if (!Batch(QStringLiteral("INSERT INTO changes (line_id, n, caption, field_id, before_text, "
                              "after_text) VALUES %ROWS%"),
            6, changeRows, nullptr))
        return false;

    std::vector<QVariant> visitRows, meterRows;
    for (const std::vector<VisitState> *list : { &finished, &visits })
        for (const VisitState &v : *list)
            if (v.changed)
                visitRows.insert(visitRows.end(),
                    { v.id, v.series, v.serial, v.operatorName, v.computer, v.firstUtc, v.firstText,
                        v.lastUtc, v.lastText, v.actions });
    for (const VisitState &v : visits)
        if (v.changed)
            meterRows.insert(meterRows.end(),
                { v.series, v.serial, v.model, v.firmware, v.lastUtc, v.lastText, v.servicedUtc });
    // The meter keeps the model and firmware it last told and the time of its last good send.
    return Batch(QStringLiteral("INSERT INTO visits (visit_id, series, serial, operator_name, "
                                "computer, first_utc, first_text, last_utc, last_text, actions) "
                                "VALUES %ROWS% ON CONFLICT (visit_id) DO UPDATE SET last_utc = "
                                "excluded.last_utc, last_text = excluded.last_text, actions = "
                                "excluded.actions"),
               10, visitRows, nullptr)
        && Batch(QStringLiteral(
                     "INSERT INTO meters (series, serial, model, firmware, last_utc, last_text, "
                     "serviced_utc) VALUES %ROWS% ON CONFLICT (series, serial) DO UPDATE SET "
                     "model = CASE WHEN excluded.model <> '' THEN excluded.model ELSE "
                     "meters.model END, firmware = CASE WHEN excluded.firmware <> '' THEN "
                     "excluded.firmware ELSE meters.firmware END, last_text = CASE WHEN "
                     "excluded.last_utc >= meters.last_utc THEN excluded.last_text ELSE "
                     "meters.last_text END, last_utc = CASE WHEN excluded.last_utc >= "
                     "meters.last_utc THEN excluded.last_utc ELSE meters.last_utc END, "
                     "serviced_utc = CASE WHEN excluded.serviced_utc > meters.serviced_utc THEN "
                     "excluded.serviced_utc ELSE meters.serviced_utc END"),
            7, meterRows, nullptr);
}

std::optional<std::vector<RecordsStore::Visit>> RecordsStore::History(const QString &serial)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
        "SELECT visit_id, line_id, at_text, operator_name, account, computer, program_version, "
        "act, series, model, firmware, serial, file_path, sha256, as_found, result, message "
        "FROM actions WHERE serial = ? ORDER BY at_utc, journal_offset, line_id"));
    query.addBindValue(serial.trimmed());
    if (!query.exec()) {
        Failed(QStringLiteral("cannot be read"), RecordsWhy(query.lastError()));
        return std::nullopt;
    }
    std::vector<Visit> visits;
    // Where each action stands, by its line: its changes are read next.
    QHash<QString, std::pair<size_t, size_t>> where;
    while (query.next()) {
        const auto text = [&query](int column) { return query.value(column).toString(); };
        auto visit = std::find_if(
            visits.begin(), visits.end(), [&](const Visit &v) { return v.id == text(0); });
        if (visit == visits.end()) {
            visits.push_back(
                Visit { text(0), text(8), text(11), text(3), text(5), text(2), text(2), {} });
            visit = visits.end() - 1;
        }
        AuditRecord r;
        r.lineId = text(1);
        r.time = QDateTime::fromString(text(2), Qt::ISODate);
        r.operatorName = text(3);
        r.account = text(4);
        r.computer = text(5);
        r.version = text(6);
        r.action = text(7);
        r.series = text(8);
        r.model = text(9);
        r.firmware = text(10);
        r.serial = text(11);
        r.file = text(12);
        r.sha256 = text(13);
        r.asFound = text(14);
        r.result = text(15);
        r.message = text(16);
        visit->last = text(2);
        where.insert(r.lineId, { size_t(visit - visits.begin()), visit->actions.size() });
        visit->actions.push_back(std::move(r));
    }
    // The changes by the actions' own keys, never by a join a planner may answer with a scan of
    // every change the store holds (as it does before a fresh store's statistics are made).
    const QStringList lines = where.keys();
    for (qsizetype first = 0; first < lines.size(); first += MaxValues()) {
        const QStringList some = lines.mid(first, MaxValues());
        QSqlQuery changes(db);
        changes.setForwardOnly(true);
        changes.prepare(
            QStringLiteral("SELECT line_id, caption, field_id, before_text, "
                           "after_text FROM changes WHERE line_id IN (%1) ORDER BY "
                           "line_id, n")
                .arg(QStringList(some.size(), QStringLiteral("?")).join(QLatin1Char(','))));
        for (qsizetype i = 0; i < some.size(); ++i)
            changes.bindValue(int(i), some[i]);
        if (!changes.exec()) {
            Failed(QStringLiteral("cannot be read"), RecordsWhy(changes.lastError()));
            return std::nullopt;
        }
        while (changes.next()) {
            const auto at = where.value(changes.value(0).toString());
            visits[at.first].actions[at.second].changes.push_back(
                { changes.value(1).toString(), changes.value(2).toInt(),
                    changes.value(3).toString(), changes.value(4).toString() });
        }
    }
    return visits;
}

std::optional<std::vector<RecordsStore::Meter>> RecordsStore::Meters(const QString &search)
{
    QString pattern = search.trimmed();
    for (const char *special : { "!", "%", "_" })
        pattern.replace(QLatin1String(special), QLatin1Char('!') + QLatin1String(special));
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
        "SELECT m.series, m.serial, m.model, m.firmware, m.last_text, m.last_utc, "
        "m.serviced_utc, m.interval_days, (SELECT COUNT(*) FROM visits v WHERE v.serial = "
        "m.serial AND v.series = m.series) FROM meters m WHERE m.serial LIKE ? ESCAPE '!' "
        "ORDER BY m.serial, m.series"));
    query.addBindValue(QLatin1Char('%') + pattern + QLatin1Char('%'));
    if (!query.exec()) {
        Failed(QStringLiteral("cannot be read"), RecordsWhy(query.lastError()));
        return std::nullopt;
    }
    std::vector<Meter> meters;
    std::vector<qint64> since;
    while (query.next()) {
        Meter m;
        m.series = query.value(0).toString();
        m.serial = query.value(1).toString();
        m.model = query.value(2).toString();
        m.firmware = query.value(3).toString();
        m.lastVisit = query.value(4).toString();
        const qint64 serviced = query.value(6).toLongLong();
        since.push_back(serviced > 0 ? serviced : query.value(5).toLongLong());
        m.intervalDays = query.value(7).toInt();
        m.visits = query.value(8).toInt();
        meters.push_back(m);
    }
    // Due: the interval after the last good send (the last visit for a meter never sent to).
    const int lab = LabIntervalDays();
    for (size_t i = 0; i < meters.size(); ++i)
        meters[i].due = QDateTime::fromMSecsSinceEpoch(since[i]).date().addDays(
            meters[i].intervalDays > 0 ? meters[i].intervalDays : lab);
    return meters;
}

std::optional<std::vector<RecordsStore::Meter>> RecordsStore::Due(QDate day)
{
    auto meters = Meters(QString());
    if (meters)
        meters->erase(std::remove_if(meters->begin(), meters->end(),
                          [day](const Meter &m) { return m.due > day; }),
            meters->end());
    return meters;
}

bool RecordsStore::SetIntervalDays(const QString &serial, int days)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (serial.trimmed().isEmpty()) {
        query.prepare(QStringLiteral("INSERT INTO lab_settings (name, value) VALUES "
                                     "('interval_days', ?) ON CONFLICT (name) DO UPDATE SET "
                                     "value = excluded.value"));
        query.addBindValue(QString::number(days));
    } else {
        query.prepare(QStringLiteral("UPDATE meters SET interval_days = ? WHERE serial = ?"));
        query.addBindValue(days);
        query.addBindValue(serial.trimmed());
    }
    if (!query.exec())
        return Failed(QStringLiteral("refused a change"), RecordsWhy(query.lastError()));
    if (!serial.trimmed().isEmpty() && query.numRowsAffected() == 0)
        return Failed(QStringLiteral("hold no meter"), serial.trimmed());
    return true;
}

int RecordsStore::LabIntervalDays()
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(QStringLiteral("SELECT value FROM lab_settings WHERE name = 'interval_days'"))
        && query.next() && query.value(0).toInt() > 0)
        return query.value(0).toInt();
    return kDefaultIntervalDays;
}
