// The service records on SQLite and on a throw-away PostgreSQL cluster: schema, delivery from the
// trail, visits, history and due dates.
#include "audit/AuditLog.h"
#include "records/JournalReader.h"
#include "records/RecordsDelivery.h"
#include "records/RecordsStore.h"
#include "support/PgCluster.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimeZone>

#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// One cluster for the whole binary, made on first use.
PgCluster &SharedCluster()
{
    static PgCluster cluster;
    static const bool made = cluster.Create();
    EXPECT_TRUE(made) << qPrintable(cluster.Error());
    return cluster;
}

enum class Backend { Sqlite, Postgresql };

// A store of its own for each test: a new file, or a new database in the shared cluster.
RecordsTarget FreshTarget(Backend backend, const QString &folder)
{
    static int serial = 0;
    ++serial;
    if (backend == Backend::Sqlite)
        return RecordsTarget::BesideTrail(
            QDir(folder).filePath(QStringLiteral("t%1/tarvik-audit.jsonl").arg(serial)));
    PgCluster &pg = SharedCluster();
    const QString name = QStringLiteral("t%1_%2").arg(serial).arg(getpid());
    EXPECT_TRUE(pg.Psql(QStringLiteral("CREATE DATABASE %1 OWNER %2").arg(name, PgCluster::kUser)))
        << qPrintable(pg.Error());
    QString error;
    RecordsTarget target = *RecordsTarget::Parse(
        QStringLiteral("postgresql://tarvik@127.0.0.1:%1/%2").arg(pg.Port()).arg(name), &error);
    target.password = QString::fromLatin1(PgCluster::kPassword);
    return target;
}

// The first column of sql's rows, through a connection of the test's own.
QStringList RecordsColumn(const RecordsTarget &target, const QString &sql)
{
    QStringList values;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(
            target.kind == RecordsTarget::Kind::Sqlite ? "QSQLITE" : "QPSQL", "records-test");
        db.setDatabaseName(
            target.kind == RecordsTarget::Kind::Sqlite ? target.path : target.database);
        db.setHostName(target.host);
        db.setPort(target.port);
        db.setUserName(target.user);
        db.setPassword(target.password);
        EXPECT_TRUE(db.open());
        QSqlQuery query(db);
        EXPECT_TRUE(query.exec(sql)) << qPrintable(sql);
        while (query.next())
            values << query.value(0).toString();
    }
    QSqlDatabase::removeDatabase("records-test");
    return values;
}

struct RecordsAction
{
    const char *serial;
    const char *operatorName;
    int minutes; // after the first action
    const char *action;
};

QByteArray RecordsLine(const RecordsAction &a, int n)
{
    AuditRecord r;
    r.lineId = QStringLiteral("line-%1").arg(n);
    r.time = QDateTime(QDate(2026, 3, 2), QTime(8, 0), QTimeZone(3600)).addSecs(a.minutes * 60);
    r.operatorName = QString::fromLatin1(a.operatorName);
    r.action = QString::fromLatin1(a.action);
    r.series = QStringLiteral("Kelvane");
    r.serial = QString::fromLatin1(a.serial);
    r.result = QStringLiteral("ok");
    r.changes
        = { { QStringLiteral("Flow range"), 7, QStringLiteral("100"), QStringLiteral("200") } };
    return r.ToJsonLine();
}

class RecordsStoreTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        m_target = FreshTarget(GetParam(), m_dir.path());
        m_trail = QDir(m_dir.path()).filePath(QStringLiteral("trail-%1.jsonl").arg(++m_n));
    }
    void Journal(const std::vector<RecordsAction> &actions, const QByteArray &extra = {})
    {
        QByteArray bytes;
        int n = 0;
        for (const RecordsAction &a : actions)
            bytes += RecordsLine(a, ++n);
        WriteFile(m_trail, bytes + extra);
    }
    RecordsDelivery::Progress DeliverAll(RecordsStore &store)
    {
        RecordsDelivery::Progress progress;
        EXPECT_TRUE(RecordsDelivery::DeliverAll(store, m_trail, &progress))
            << qPrintable(store.Error());
        return progress;
    }

    QTemporaryDir m_dir;
    RecordsTarget m_target;
    QString m_trail;
    int m_n = 0;
};

TEST_P(RecordsStoreTest, VisitsAreOneOperatorsActionsOnAMeterWithinTheSession)
{
    struct Case
    {
        const char *name;
        std::vector<RecordsAction> actions;
        std::vector<int> visitSizes; // of meter 00123, oldest first
    };
    const Case cases[] = {
        { "one session", { { "00123", "Ann", 0, "read" }, { "00123", "Ann", 470, "send" } },
            { 2 } },
        { "past 8 h", { { "00123", "Ann", 0, "read" }, { "00123", "Ann", 481, "send" } },
            { 1, 1 } },
        { "another operator between",
            { { "00123", "Ann", 0, "read" }, { "00123", "Bob", 5, "send" },
                { "00123", "Ann", 10, "send" } },
            { 1, 1, 1 } },
        { "another meter between",
            { { "00123", "Ann", 0, "read" }, { "555", "Bob", 5, "send" },
                { "00123", "Ann", 10, "save" } },
            { 2 } },
    };
    for (const Case &c : cases) {
        SetUp();
        Journal(c.actions);
        RecordsStore store(m_target);
        ASSERT_TRUE(store.Open()) << qPrintable(store.Error());
        EXPECT_EQ(store.StoredVersion(), RecordsStore::kSchemaVersion);
        EXPECT_EQ(DeliverAll(store).taken, int(c.actions.size())) << c.name;
        const auto visits = store.History(QStringLiteral("00123"));
        ASSERT_TRUE(visits);
        std::vector<int> sizes;
        for (const RecordsStore::Visit &v : *visits)
            sizes.push_back(int(v.actions.size()));
        EXPECT_EQ(sizes, c.visitSizes) << c.name;
        ASSERT_FALSE(visits->empty());
        EXPECT_EQ(visits->front().actions.front().changes.size(), 1u) << c.name;
    }
}

TEST_P(RecordsStoreTest, EachLineIsTakenOnceInOrderWhateverTheRetries)
{
    Journal({ { "00123", "Ann", 0, "read" }, { "00123", "Ann", 1, "send" },
                { "00123", "Ann", 2, "save" } },
        "{\"time\":\"2026-03-02T09:00:00+01:00\",\"serial\":\"00123\",\"operator\":\"Ann\","
        "\"action\":\"read\",\"id\":\"new\",\"humidity\":\"41 %\"}\n"
        "{\"time\":\"2026-03-02T09:0");
    RecordsStore store(m_target);
    ASSERT_TRUE(store.Open()) << qPrintable(store.Error());
    // One line per slice, then everything again, then from a second name for the same trail.
    const JournalReader journal(m_trail);
    RecordsDelivery::Progress slices;
    do
        ASSERT_TRUE(RecordsDelivery::DeliverSlice(store, journal, 1, &slices))
            << qPrintable(store.Error());
    while (slices.more);
    EXPECT_EQ(slices.taken, 4);
    EXPECT_EQ(DeliverAll(store).taken, 0);
    RecordsStore::Delivered again;
    ASSERT_TRUE(store.Deliver("elsewhere", journal.Head(), journal.Read(0, 100).lines, 0, &again));
    EXPECT_EQ(again.taken, 0);
    EXPECT_EQ(again.duplicates, 4);
    EXPECT_EQ(RecordsColumn(m_target, "SELECT act FROM actions ORDER BY at_utc"),
        QStringList({ "read", "send", "save", "read" }));
    // The newer program's field is kept in the stored line; the torn tail waits, untaken.
    EXPECT_TRUE(RecordsColumn(m_target, "SELECT line FROM actions WHERE line_id = 'new'")
                    .value(0)
                    .contains("\"humidity\":\"41 %\""));
    EXPECT_EQ(journal.LinesAfter(slices.offset), 0);
    EXPECT_LT(slices.offset, QFileInfo(m_trail).size());
    EXPECT_TRUE(store.History(QStringLiteral("123"))->empty());
}

TEST_P(RecordsStoreTest, ASchemaOfANewerProgramIsRefusedAndLeftUntouched)
{
    Journal({ { "00123", "Ann", 0, "read" } });
    {
        RecordsStore store(m_target);
        ASSERT_TRUE(store.Open());
    }
    RecordsColumn(m_target, "UPDATE tarvik_schema SET version = 99");
    RecordsStore store(m_target);
    EXPECT_FALSE(store.Open());
    EXPECT_TRUE(store.Error().contains("schema version 99; this one knows up to version 1"))
        << qPrintable(store.Error());
    EXPECT_EQ(RecordsColumn(m_target, "SELECT COUNT(*) FROM actions"), QStringList { "0" });
    EXPECT_EQ(RecordsColumn(m_target, "SELECT version FROM tarvik_schema"), QStringList { "99" });
}

TEST_P(RecordsStoreTest, DueDatesFollowTheMetersOwnIntervalElseTheLabs)
{
    const qint64 daysAgo400 = -400 * 24 * 60, daysAgo100 = -100 * 24 * 60;
    QByteArray bytes;
    int n = 0;
    for (const RecordsAction &a : { RecordsAction { "A1", "Ann", 0, "send" },
             RecordsAction { "B2", "Ann", 0, "send" }, RecordsAction { "C3", "Ann", 0, "read" } }) {
        AuditRecord r = *AuditRecord::FromJson(RecordsLine(a, ++n));
        r.time = QDateTime::currentDateTime().addSecs(60 * (n == 2 ? daysAgo100 : daysAgo400));
        bytes += r.ToJsonLine();
    }
    WriteFile(m_trail, bytes);
    RecordsStore store(m_target);
    ASSERT_TRUE(store.Open());
    DeliverAll(store);
    const auto dueSerials = [&store] {
        QStringList serials;
        // The answer is held: a range over a member of a temporary would outlive it.
        const auto due = store.Due(QDate::currentDate());
        for (const RecordsStore::Meter &m : *due)
            serials << m.serial;
        return serials;
    };
    EXPECT_EQ(dueSerials(), QStringList({ "A1", "C3" }));
    ASSERT_TRUE(store.SetIntervalDays("B2", 30));
    ASSERT_TRUE(store.SetIntervalDays("C3", 500));
    EXPECT_EQ(dueSerials(), QStringList({ "A1", "B2" }));
    ASSERT_TRUE(store.SetIntervalDays(QString(), 1000));
    EXPECT_EQ(dueSerials(), QStringList({ "B2" }));
    EXPECT_FALSE(store.SetIntervalDays("Z9", 10));
}

INSTANTIATE_TEST_SUITE_P(Backends, RecordsStoreTest,
    ::testing::Values(Backend::Sqlite, Backend::Postgresql),
    [](const ::testing::TestParamInfo<Backend> &backend) {
        return backend.param == Backend::Sqlite ? "Sqlite" : "Postgresql";
    });

TEST(RecordsStoreRefusal, AStoreThatCannotBeUsedIsSaidAndTheTrailKeepsItsLines)
{
    QTemporaryDir dir;
    const QString corrupt = dir.filePath("corrupt.sqlite");
    WriteFile(corrupt, QByteArray(4096, 'x'));
    PgCluster &pg = SharedCluster();
    struct Case
    {
        QString url;
        QString password;
        const char *said;
    };
    const Case cases[] = {
        { corrupt, {}, "file is not a database" },
        { pg.Url(), "wrong", "password authentication failed" },
        { QStringLiteral("postgresql://nobody@127.0.0.1:%1/records").arg(pg.Port()), "x",
            "password authentication failed" },
    };
    for (const Case &c : cases) {
        QString error;
        RecordsTarget target = *RecordsTarget::Parse(c.url, &error);
        target.password = c.password;
        RecordsStore store(target);
        EXPECT_FALSE(store.Open()) << qPrintable(c.url);
        EXPECT_TRUE(store.Error().contains(c.said)) << qPrintable(store.Error());
        EXPECT_TRUE(store.Error().contains(target.Url())) << qPrintable(store.Error());
    }
    EXPECT_EQ(ReadFile(corrupt), QByteArray(4096, 'x'));
}

TEST(RecordsDeliveryTest, LinesWaitWhileTheServerIsDownAndArriveOnceWhenItIsBack)
{
    QTemporaryDir dir;
    RecordsTarget target = FreshTarget(Backend::Postgresql, dir.path());
    const QString trail = dir.filePath("tarvik-audit.jsonl");
    const AuditLog log(trail);
    RecordsDelivery delivery;
    AuditLog::SetAppendedHook([&delivery](const QString &path) { delivery.Appended(path); });
    delivery.Start(target, 8, trail);
    QString error;
    AuditRecord record = AuditRecord::Now("read", "Ann");
    record.serial = "00777";
    ASSERT_TRUE(log.Append(record, &error));
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return delivery.Waiting() == 0; }, 30000))
        << qPrintable(delivery.Problem());

    PgCluster &pg = SharedCluster();
    ASSERT_TRUE(pg.Stop());
    record = AuditRecord::Now("send", "Ann");
    record.serial = "00777";
    ASSERT_TRUE(log.Append(record, &error));
    EXPECT_TRUE(TestEnv::WaitUntil([&] { return !delivery.Problem().isEmpty(); }, 30000));
    EXPECT_EQ(delivery.Waiting(), 1);
    ASSERT_TRUE(pg.Start());
    EXPECT_TRUE(TestEnv::WaitUntil([&] { return delivery.Waiting() == 0; }, 90000))
        << qPrintable(delivery.Problem());
    AuditLog::SetAppendedHook({});
    EXPECT_TRUE(delivery.Problem().isEmpty());
    EXPECT_EQ(
        RecordsColumn(target, "SELECT act FROM actions WHERE serial = '00777' ORDER BY at_utc"),
        QStringList({ "read", "send" }));
}

} // namespace
