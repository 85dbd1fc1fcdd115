// tarvik-cli's checks around a send, end to end against tarvik-metersim.
#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "support/PtyPair.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>

#include <gtest/gtest.h>

#include <csignal>

namespace {

struct AuditCliRun
{
    int status = -1;
    QString out;
    QString err;
};

AuditCliRun AuditCli(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral(TARVIK_CLI), args);
    AuditCliRun run;
    if (!process.waitForFinished(90000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

class CliAuditEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        TestEnv::ClearPreferences();
        QDir::setCurrent(TestEnv::WorkDir());
        m_image = QDir::current().filePath(QStringLiteral("audit-sim.mtr"));
        QFile::remove(m_image);
        QFile::remove(QStringLiteral("tarvik-audit.jsonl"));
        QDir(QStringLiteral("as-found")).removeRecursively();
    }
    void TearDown() override
    {
        StopSim();
        QFile::remove(QStringLiteral("tarvik-audit.jsonl"));
        QDir(QStringLiteral("as-found")).removeRecursively();
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    }
    void StopSim()
    {
        m_sim.kill();
        m_sim.waitForFinished(5000);
    }
    QString StartSim(const QStringList &extra = {})
    {
        m_sim.start(TestEnv::MeterSimPath(),
            QStringList { "--serial", "31415", "--range", "2", "--interval", "600000", "--image",
                m_image, "--data-dir", TestEnv::DataDir() }
                + extra);
        if (!m_sim.waitForStarted(5000) || !m_sim.waitForReadyRead(5000))
            return QString();
        return QString::fromLocal8Bit(m_sim.readLine()).trimmed();
    }
    // "read" of the meter into name, then "set" of the edits into edited.
    void ReadAndEdit(const QString &pty, const QString &name, const QString &edited)
    {
        const AuditCliRun read
            = AuditCli({ "read", "--port", pty, "--out", name, "--pace", m_pace, "--force" });
        ASSERT_EQ(read.status, 0) << qPrintable(read.err);
        const AuditCliRun set = AuditCli({ "set", name, "Relay #2 OFF Value=2500", "1035=17",
            "--out", edited, "--operator", "Ann", "--force" });
        ASSERT_EQ(set.status, 0) << qPrintable(set.err);
    }
    QStringList SendArgs(const QString &pty, const QString &file) const
    {
        return { "send", file, "--port", pty, "--pace", m_pace, "--yes", "--operator", "Ann" };
    }

    QProcess m_sim;
    QString m_image;
    const QString m_pace = QStringLiteral("0.04");
};

} // namespace

TEST_F(CliAuditEndToEnd, SendShowsWritesVerifiesAndLogsExactlyTheEditedFields)
{
    const QString pty = StartSim({ "--model", "777" });
    ASSERT_FALSE(pty.isEmpty());
    // The operator of the settings names the lines no --operator names.
    AuditSettings::SetOperator(QStringLiteral("Kim"));
    ReadAndEdit(pty, "found.mtr", "edited.mtr");
    const QString relay = AuditCli({ "show", "found.mtr" })
                              .out.section("Relay #2 OFF Value\t1012\t", 1)
                              .section(QLatin1Char('\n'), 0, 0);
    ASSERT_FALSE(relay.isEmpty());
    const QByteArray held = ReadFile(m_image);

    // Without a terminal and without --yes, nothing is sent.
    QStringList unconfirmed = SendArgs(pty, "edited.mtr");
    unconfirmed.removeAll(QStringLiteral("--yes"));
    const AuditCliRun asked = AuditCli(unconfirmed);
    EXPECT_EQ(asked.status, 2);
    EXPECT_TRUE(asked.err.contains("--yes")) << qPrintable(asked.err);
    EXPECT_EQ(ReadFile(m_image), held);
    // On a terminal the question is asked, and Ctrl+C leaves it at once: nothing is sent.
    {
        PtyPair terminal;
        ASSERT_TRUE(terminal.IsValid());
        QProcess asking;
        asking.setStandardInputFile(terminal.SlavePath());
        asking.setStandardErrorFile(terminal.SlavePath());
        asking.start(QStringLiteral(TARVIK_CLI), unconfirmed);
        QByteArray said;
        ASSERT_TRUE(TestEnv::WaitUntil(
            [&] {
                said += terminal.Receive(100);
                return said.contains("[y/N]");
            },
            60000))
            << said.right(300).constData();
        ::kill(pid_t(asking.processId()), SIGINT);
        EXPECT_TRUE(asking.waitForFinished(3000));
        EXPECT_EQ(asking.exitCode(), 1);
        said += terminal.Receive(500);
        EXPECT_TRUE(said.contains("Nothing was sent.")) << said.right(300).constData();
        EXPECT_EQ(ReadFile(m_image), held);
    }

    const AuditCliRun sent = AuditCli(SendArgs(pty, "edited.mtr"));
    ASSERT_EQ(sent.status, 0) << qPrintable(sent.err);
    const QStringList lines = sent.out.split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 5) << qPrintable(sent.out);
    EXPECT_EQ(lines.mid(0, 2),
        (QStringList {
            QStringLiteral("Relay #2 OFF Value: %1 -> 2500").arg(relay), "Modbus Addr: 1 -> 17" }))
        << qPrintable(sent.out);
    EXPECT_TRUE(lines[2].endsWith(" fields unchanged.")) << qPrintable(lines[2]);
    EXPECT_TRUE(lines[3].startsWith("As found: "));
    EXPECT_EQ(lines[4], "Meter stored the configuration");
    const QString kept = lines[3].mid(10);
    EXPECT_TRUE(
        QFileInfo(kept).fileName().contains(QRegularExpression("^31415_\\d{8}-\\d{6}\\.mtr$")))
        << qPrintable(kept);
    EXPECT_EQ(ReadFile(kept), held);
    EXPECT_NE(ReadFile(m_image), held);

    // The trail: the read, the save of the edits and the send, with before and after.
    const AuditLog::Loaded trail = AuditLog(AuditSettings::TrailPath()).Load();
    ASSERT_EQ(trail.records.size(), 5u) << "read, save, two unconfirmed sends, send";
    EXPECT_EQ(trail.skipped, 0);
    const AuditRecord &send = trail.records[4];
    EXPECT_EQ((QStringList { trail.records[0].action, trail.records[0].operatorName,
                  trail.records[0].model, trail.records[1].action, trail.records[2].result,
                  trail.records[3].result, send.action, send.operatorName, send.serial, send.series,
                  send.model, send.firmware, send.result }),
        (QStringList { "read", "Kim", "777", "save", "cancelled", "cancelled", "send", "Ann",
            "31415", "Kelvane", "777", "4.1A", "ok" }));
    // The save of the edits names the firmware and model as the send does, and the send its
    // as-found copy.
    EXPECT_EQ((QStringList { trail.records[1].firmware, trail.records[1].model }),
        (QStringList { send.firmware, send.model }));
    EXPECT_EQ(send.asFound, kept);
    EXPECT_EQ(trail.records[1].changes.size(), 2u);
    EXPECT_EQ(send.sha256, AuditLog::Sha256Of("edited.mtr"));
    EXPECT_EQ(send.changes,
        (std::vector<AuditRecord::Change> {
            { "Relay #2 OFF Value", 1012, relay, "2500" }, { "Modbus Addr", 1035, "1", "17" } }));

    // diff: two files, a file and the meter, as text and JSON, with diff(1)'s statuses.
    const AuditCliRun files = AuditCli({ "diff", "found.mtr", "edited.mtr" });
    EXPECT_EQ(files.status, 1);
    EXPECT_EQ(files.out,
        QStringLiteral("Relay #2 OFF Value\t1012\t%1\t2500\nModbus Addr\t1035\t1\t17\n")
            .arg(relay));
    const AuditCliRun json = AuditCli({ "diff", "found.mtr", "edited.mtr", "--json" });
    const QJsonArray list = QJsonDocument::fromJson(json.out.toUtf8()).array();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[1].toObject().value(QStringLiteral("b")).toString(), "17");
    const AuditCliRun equal = AuditCli({ "diff", "edited.mtr", "--port", pty, "--pace", m_pace });
    EXPECT_EQ(equal.status, 0) << qPrintable(equal.out + equal.err);
    EXPECT_TRUE(equal.out.isEmpty());
    const AuditCliRun meter = AuditCli({ "diff", "found.mtr", "--port", pty, "--pace", m_pace });
    EXPECT_EQ(meter.status, 1);
    EXPECT_EQ(meter.out, files.out);
    EXPECT_EQ(AuditCli({ "diff", "found.mtr", "missing.mtr" }).status, 2);
    EXPECT_EQ(AuditCli({ "diff", "found.mtr", "--port", "/dev/no-such-port" }).status, 3);

    // The change report: the visit's page with as found and as left side by side.
    const AuditCliRun report = AuditCli({ "report", "31415", "--text" });
    ASSERT_EQ(report.status, 0) << qPrintable(report.err);
    for (const char *part : { "Meter 31415", "Operator:  Ann", "Modbus Addr +1 +17" })
        EXPECT_TRUE(report.out.contains(QRegularExpression(part))) << part;
    const AuditCliRun pdf = AuditCli({ "report", "31415", "--pdf", "visit" });
    ASSERT_EQ(pdf.status, 0) << qPrintable(pdf.err);
    EXPECT_TRUE(ReadFile("visit.pdf").startsWith("%PDF"));
    EXPECT_EQ(AuditCli({ "report", "99999", "--text" }).status, 2);
}

TEST_F(CliAuditEndToEnd, AWrongByteASilentReadBackAndUnwritableFoldersAreCaught)
{
    // A meter that stores one byte wrong, then one silent after the send: the read back tells.
    const struct
    {
        QStringList sim;
        const char *said;
    } faults[] = { { { "--store-wrong", "40" }, "did not store the configuration as sent" },
        { { "--answer-wakes", "2" }, "could not be read back" } };
    QString pty;
    for (const auto &fault : faults) {
        SCOPED_TRACE(fault.said);
        pty = StartSim(fault.sim);
        ASSERT_FALSE(pty.isEmpty());
        const bool first = &fault == faults;
        if (first)
            ReadAndEdit(pty, "found.mtr", "edited.mtr");
        const AuditCliRun run = AuditCli(SendArgs(pty, "edited.mtr"));
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.err.contains(QLatin1String(fault.said))) << qPrintable(run.err);
        if (first) {
            EXPECT_FALSE(run.out.contains("Meter stored the configuration"));
            EXPECT_EQ(
                AuditLog(AuditSettings::TrailPath()).Load().records.back().result, "mismatch");
        }
        StopSim();
    }

    // An as-found folder that cannot be made: nothing is sent. A trail that cannot be written:
    // said, and the send goes on.
    pty = StartSim();
    ASSERT_FALSE(pty.isEmpty());
    WriteFile("not-a-folder", "x");
    AuditSettings::SetAsFoundFolder(QDir::current().filePath("not-a-folder"));
    AuditSettings::SetFolder("/proc");
    const QByteArray held = ReadFile(m_image);
    const AuditCliRun blocked = AuditCli(SendArgs(pty, "found.mtr"));
    EXPECT_EQ(blocked.status, 2);
    EXPECT_TRUE(blocked.err.contains("not-a-folder/as-found")) << qPrintable(blocked.err);
    EXPECT_TRUE(blocked.err.contains("/proc/tarvik-audit.jsonl")) << qPrintable(blocked.err);
    EXPECT_EQ(ReadFile(m_image), held);
    AuditSettings::SetAsFoundFolder(QString());
    const AuditCliRun unlogged = AuditCli(SendArgs(pty, "found.mtr"));
    EXPECT_EQ(unlogged.status, 0) << qPrintable(unlogged.err);
    EXPECT_TRUE(unlogged.err.contains("this line is not in the trail")) << qPrintable(unlogged.err);
    AuditSettings::SetFolder(QString());

    // What the meter holds already is not written again, nor kept as found; --force writes it,
    // and --no-verify does not claim what the meter stored.
    for (const QStringList &extra :
        { QStringList(), QStringList { "--force" }, QStringList { "--no-verify", "--force" } }) {
        const AuditCliRun run = AuditCli(SendArgs(pty, "found.mtr") + extra);
        const QString said = extra.isEmpty()
            ? "The meter already holds this configuration; nothing was sent"
            : extra.size() == 1 ? "Meter stored the configuration"
                                : "The meter acknowledged the configuration (not read back)";
        EXPECT_TRUE(run.status == 0 && run.out.endsWith(said + "\n")) << qPrintable(run.out);
        EXPECT_EQ(run.out.contains("As found: "), !extra.isEmpty()) << qPrintable(run.out);
        EXPECT_EQ(AuditLog(AuditSettings::TrailPath()).Load().records.back().message, said);
    }

    // With both checks off, a send is the send list alone, still confirmed first.
    AuditSettings::SetCompareBeforeSend(false);
    AuditSettings::SetReadBackAfterSend(false);
    QStringList unconfirmed = SendArgs(pty, "edited.mtr");
    unconfirmed.removeAll(QStringLiteral("--yes"));
    const QByteArray unsent = ReadFile(m_image);
    const AuditCliRun refused = AuditCli(unconfirmed);
    EXPECT_TRUE(refused.status == 2 && refused.err.contains("confirm the send with --yes"));
    EXPECT_EQ(ReadFile(m_image), unsent);
    const AuditCliRun plain = AuditCli(SendArgs(pty, "found.mtr"));
    EXPECT_EQ(plain.status, 0) << qPrintable(plain.err);
    EXPECT_EQ(plain.out, "The meter acknowledged the configuration (not read back)\n");
    EXPECT_EQ(AuditLog(AuditSettings::TrailPath()).Load().records.back().message,
        "The meter acknowledged the configuration (not read back)");
}
