// tarvik-cli's service records end to end: sends to simulated meters recorded in SQLite and in
// PostgreSQL, a server stopped during a send, a torn trail line and `history`.
#include "audit/AuditRecord.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "records/KeyringPassword.h"
#include "support/PgCluster.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>

#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct RecordsCliRun
{
    int status = -1;
    QString out;
    QString err;
};

// As another user, the CLI runs under the nobody account when this test runs as root (whom no
// file mode stops).
std::unique_ptr<QProcess> RecordsCliStart(
    const QString &folder, const QStringList &args, bool asNobody = false)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TARVIK_DATA", TestEnv::WorkDir());
    env.insert("PGPASSWORD", PgCluster::kPassword);
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(folder);
    if (asNobody && geteuid() == 0)
        process->start("setpriv",
            QStringList { "--reuid=nobody", "--regid=nogroup", "--clear-groups", TARVIK_CLI }
                + args);
    else
        process->start(QStringLiteral(TARVIK_CLI), args);
    return process;
}

RecordsCliRun RecordsCliWait(QProcess &process)
{
    RecordsCliRun run;
    if (!process.waitForFinished(120000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

RecordsCliRun RecordsCli(const QString &folder, const QStringList &args, bool asNobody = false)
{
    return RecordsCliWait(*RecordsCliStart(folder, args, asNobody));
}

// A bench: a folder of its own (its trail, its meter files) and a simulated meter.
class RecordsBench
{
public:
    RecordsBench(const QString &root, const QString &serial)
        : m_folder(QDir(root).filePath(serial))
    {
        QDir().mkpath(m_folder);
        m_sim.start(TestEnv::MeterSimPath(),
            { "--serial", serial, "--range", "2", "--interval", "600000", "--image",
                QDir(m_folder).filePath("sim.mtr"), "--data-dir", TestEnv::DataDir() });
        if (m_sim.waitForStarted(5000) && m_sim.waitForReadyRead(5000))
            m_pty = QString::fromLocal8Bit(m_sim.readLine()).trimmed();
    }
    ~RecordsBench()
    {
        m_sim.kill();
        m_sim.waitForFinished(5000);
    }
    // Reads the meter and edits the copy, ready for SendArgs.
    void ReadAndEdit(const QStringList &db)
    {
        ASSERT_FALSE(m_pty.isEmpty());
        const RecordsCliRun read = RecordsCli(m_folder,
            QStringList { "read", "--port", m_pty, "--out", "found.mtr", "--pace", "0.04",
                "--operator", "Ann" }
                + db);
        ASSERT_EQ(read.status, 0) << qPrintable(read.err);
        const RecordsCliRun set = RecordsCli(m_folder,
            { "set", "found.mtr", "Relay #2 OFF Value=2500", "--out", "edited.mtr", "--operator",
                "Ann" });
        ASSERT_EQ(set.status, 0) << qPrintable(set.err);
    }
    QStringList SendArgs(const QStringList &db) const
    {
        return QStringList { "send", "edited.mtr", "--port", m_pty, "--pace", "0.04", "--yes",
            "--operator", "Ann" }
        + db;
    }
    QString Folder() const { return m_folder; }

private:
    QString m_folder;
    QProcess m_sim;
    QString m_pty;
};

// The actions of history --json, visit by visit.
std::vector<QStringList> RecordsVisits(const QString &json)
{
    std::vector<QStringList> visits;
    for (const QJsonValue &v : QJsonDocument::fromJson(json.toUtf8())["visits"].toArray()) {
        QStringList actions;
        for (const QJsonValue &a : v["actions"].toArray())
            actions << a["action"].toString();
        visits.push_back(actions);
    }
    return visits;
}

class RecordsCliTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        TestEnv::ClearPreferences();
    }
    QTemporaryDir m_dir;
};

TEST_F(RecordsCliTest, ASendIsRecordedInSqliteAndHistoryTellsItAndWhatIsDue)
{
    RecordsBench bench(m_dir.path(), "31415");
    bench.ReadAndEdit({});
    // A line a kill cut short: passed over, and the lines after it still go to the store.
    const QString trail = QDir(bench.Folder()).filePath("tarvik-audit.jsonl");
    QFile cut(trail);
    ASSERT_TRUE(cut.open(QIODevice::Append));
    cut.write("{\"time\":\"2026-12-09T10:00:00+01:00\",\"operator\":\"Bo");
    cut.close();
    const RecordsCliRun sent = RecordsCli(bench.Folder(), bench.SendArgs({}));
    ASSERT_EQ(sent.status, 0) << qPrintable(sent.err);
    EXPECT_TRUE(QFile::exists(QDir(bench.Folder()).filePath("tarvik-records.sqlite")));

    const RecordsCliRun json = RecordsCli(bench.Folder(), { "history", "31415", "--json" });
    ASSERT_EQ(json.status, 0) << qPrintable(json.err);
    EXPECT_EQ(RecordsVisits(json.out), std::vector<QStringList>({ { "read", "save", "send" } }))
        << qPrintable(json.out);
    const RecordsCliRun text = RecordsCli(bench.Folder(), { "history", "31415" });
    EXPECT_TRUE(text.out.contains("send ok")) << qPrintable(text.out);
    EXPECT_TRUE(
        text.out.contains(QRegularExpression("Relay #2 OFF Value \\(\\d+\\): \\S+ -> 2500")))
        << qPrintable(text.out);

    // A meter last sent to 400 days ago is due; the one sent now is not.
    AuditRecord old = AuditRecord::Now("send", "Ann");
    old.time = old.time.addDays(-400);
    old.series = "Kelvane";
    old.serial = "0027182";
    old.result = "ok";
    ASSERT_TRUE(cut.open(QIODevice::Append));
    cut.write(old.ToJsonLine());
    cut.close();
    struct Case
    {
        QStringList args;
        int status;
        const char *said; // on standard output, or error when the status is not 0
    };
    const Case cases[] = {
        { { "history", "--due" }, 0, "Kelvane 0027182: 1 visit(s)" },
        { { "history", "27182" }, 1, "hold no visit of the meter 27182" },
        { { "history" }, 2, "history takes one serial number" },
        { { "history", "31415", "--due" }, 2, "history takes one serial number" },
        { { "history", "31415", "--db", "ftp://somewhere/x" }, 2, "names no store" },
        { { "history", "31415", "--db", "postgresql://tarvik@127.0.0.1:1/records" }, 3,
            "cannot be reached" },
        { { "history", "--interval", "10" }, 0, "Recalibration interval of the lab: 10 days" },
        { { "history", "--due" }, 0, "0027182" },
    };
    for (const Case &c : cases) {
        const RecordsCliRun run = RecordsCli(bench.Folder(), c.args);
        EXPECT_EQ(run.status, c.status) << qPrintable(c.args.join(' ') + "\n" + run.err);
        EXPECT_TRUE((c.status == 0 ? run.out : run.err).contains(c.said))
            << qPrintable(c.args.join(' ') + "\n" + run.out + run.err);
        if (c.args == QStringList { "history", "--due" }) {
            EXPECT_FALSE(run.out.contains("31415")) << qPrintable(run.out);
        }
    }
}

TEST_F(RecordsCliTest, TwoBenchesShareAServerThatIsStoppedDuringASendAndComesBack)
{
    PgCluster pg;
    ASSERT_TRUE(pg.Create()) << qPrintable(pg.Error());
    const QStringList db { "--db", pg.Url() };
    RecordsBench a(m_dir.path(), "11111"), b(m_dir.path(), "22222");
    a.ReadAndEdit(db);
    b.ReadAndEdit(db);
    auto sendA = RecordsCliStart(a.Folder(), a.SendArgs(db));
    auto sendB = RecordsCliStart(b.Folder(), b.SendArgs(db));
    for (QProcess *send : { sendA.get(), sendB.get() }) {
        const RecordsCliRun run = RecordsCliWait(*send);
        EXPECT_EQ(run.status, 0) << qPrintable(run.err);
        EXPECT_FALSE(run.err.contains("service records")) << qPrintable(run.err);
    }
    // The server goes away during the second send to A: the send itself goes on, its lines wait.
    auto again = RecordsCliStart(a.Folder(), a.SendArgs(db));
    ASSERT_TRUE(pg.Stop());
    const RecordsCliRun late = RecordsCliWait(*again);
    EXPECT_EQ(late.status, 0) << qPrintable(late.err);
    EXPECT_TRUE(late.err.contains("keeps every record")) << qPrintable(late.err);
    ASSERT_TRUE(pg.Start());
    for (int round = 0; round < 2; ++round) {
        const RecordsCliRun history
            = RecordsCli(a.Folder(), QStringList { "history", "11111", "--json" } + db);
        ASSERT_EQ(history.status, 0) << qPrintable(history.err);
        EXPECT_EQ(RecordsVisits(history.out),
            std::vector<QStringList>({ { "read", "save", "send", "send" } }));
    }
    const RecordsCliRun other
        = RecordsCli(a.Folder(), QStringList { "history", "22222", "--json" } + db);
    EXPECT_EQ(RecordsVisits(other.out), std::vector<QStringList>({ { "read", "save", "send" } }))
        << qPrintable(other.err);
    EXPECT_EQ(RecordsCli(a.Folder(), QStringList { "history", "022222" } + db).status, 1);
}

// An SQLite file the bench cannot write, or one that is no database: said plainly, nothing of the
// trail lost, and its lines delivered by the first command after the file is mended.
TEST_F(RecordsCliTest, AStoreFileThatCannotBeWrittenOrIsNoDatabaseLeavesTheLinesWaiting)
{
    struct Case
    {
        const char *name;
        bool readOnly; // else corrupt
        int status; // of history while the file is bad
        const char *said;
    };
    const Case cases[] = {
        { "read-only", true, 3, "the file cannot be written (it or its folder is read-only" },
        { "corrupt", false, 3, "is damaged or no service records database" },
    };
    // Readable by the nobody account, writable only by its owner.
    QFile::setPermissions(m_dir.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
            | QFile::ExeOther);
    for (const Case &c : cases) {
        const QString folder = QDir(m_dir.path()).filePath(c.name);
        QDir().mkpath(folder);
        QFile::setPermissions(folder,
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                | QFile::ExeOther);
        const QString store = QDir(folder).filePath("tarvik-records.sqlite");
        if (c.readOnly) {
            // An empty store, made by its owner.
            ASSERT_EQ(RecordsCli(folder, { "history", "0042" }).status, 1);
            QFile::setPermissions(store, QFile::ReadOwner | QFile::ReadOther);
        } else {
            WriteFile(store, QByteArray(4096, 'x'));
        }
        AuditRecord sent = AuditRecord::Now("send", "Ann");
        sent.series = "Kelvane";
        sent.serial = "0042";
        sent.result = "ok";
        const QString trail = QDir(folder).filePath("tarvik-audit.jsonl");
        WriteFile(trail, sent.ToJsonLine());
        const QByteArray storeBytes = ReadFile(store);

        const RecordsCliRun bad = RecordsCli(folder, { "history", "0042" }, c.readOnly);
        EXPECT_EQ(bad.status, c.status) << c.name << qPrintable("\n" + bad.err);
        EXPECT_TRUE(bad.err.contains(c.said)) << c.name << qPrintable("\n" + bad.err);
        EXPECT_EQ(ReadFile(trail), sent.ToJsonLine()) << c.name;
        EXPECT_EQ(ReadFile(store), storeBytes) << c.name;

        // Mended: made writable again, or the damaged file moved aside.
        if (c.readOnly)
            QFile::setPermissions(store, QFile::ReadOwner | QFile::WriteOwner);
        else
            ASSERT_TRUE(QFile::rename(store, store + ".damaged"));
        const RecordsCliRun good = RecordsCli(folder, { "history", "0042", "--json" });
        ASSERT_EQ(good.status, 0) << c.name << qPrintable("\n" + good.err);
        EXPECT_EQ(RecordsVisits(good.out), std::vector<QStringList>({ { "send" } })) << c.name;
    }
}

// The settings' server with no password in the preferences: the CLI asks the keyring, and where
// none answers (no desktop session here) it goes on without one after a bounded wait.
TEST_F(RecordsCliTest, WithNoKeyringTheSettingsServerIsTriedAfterABoundedWait)
{
    {
        std::unique_ptr<QSettings> prefs = CPrefs::OpenStore();
        prefs->setValue("Records/UseServer", "true");
        prefs->setValue("Records/Host", "127.0.0.1");
        prefs->setValue("Records/Port", 1);
        prefs->setValue("Records/Database", "records");
        prefs->setValue("Records/User", "tarvik");
    }
    QElapsedTimer clock;
    clock.start();
    const RecordsCliRun run = RecordsCli(m_dir.path(), { "history", "0042" });
    EXPECT_EQ(run.status, 3) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains("postgresql://tarvik@127.0.0.1:1/records cannot be reached"))
        << qPrintable(run.err);
    EXPECT_LT(clock.elapsed(), KeyringPassword::kWaitMs + 15000);
}

} // namespace
