// tarvik-cli's checks around a send, end to end against tarvik-metersim: the send shows exactly
// the edited fields, keeps the image the meter held, writes, reads back and logs the change
// with its before and after; a meter that stores a byte wrong or goes silent before the read
// back is caught; diff of two files and of a file with the meter; the change report; and a
// trail or as-found folder that cannot be written.
#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
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
            QStringList { QStringLiteral("--serial"), QStringLiteral("31415"),
                QStringLiteral("--range"), QStringLiteral("2"), QStringLiteral("--interval"),
                QStringLiteral("600000"), QStringLiteral("--image"), m_image,
                QStringLiteral("--data-dir"), TestEnv::DataDir() }
                + extra);
        if (!m_sim.waitForStarted(5000) || !m_sim.waitForReadyRead(5000))
            return QString();
        return QString::fromLocal8Bit(m_sim.readLine()).trimmed();
    }
    // "read" of the meter into name, then "set" of the edits into edited.
    void ReadAndEdit(const QString &pty, const QString &name, const QString &edited)
    {
        const AuditCliRun read = AuditCli({ QStringLiteral("read"), QStringLiteral("--port"), pty,
            QStringLiteral("--out"), name, QStringLiteral("--pace"), m_pace });
        ASSERT_EQ(read.status, 0) << qPrintable(read.err);
        const AuditCliRun set = AuditCli({ QStringLiteral("set"), name,
            QStringLiteral("Relay #2 OFF Value=2500"), QStringLiteral("1035=17"),
            QStringLiteral("--out"), edited, QStringLiteral("--operator"), QStringLiteral("Ann") });
        ASSERT_EQ(set.status, 0) << qPrintable(set.err);
    }
    QStringList SendArgs(const QString &pty, const QString &file) const
    {
        return { QStringLiteral("send"), file, QStringLiteral("--port"), pty,
            QStringLiteral("--pace"), m_pace, QStringLiteral("--yes"), QStringLiteral("--operator"),
            QStringLiteral("Ann") };
    }

    QProcess m_sim;
    QString m_image;
    const QString m_pace = QStringLiteral("0.04");
};

} // namespace

TEST_F(CliAuditEndToEnd, SendShowsWritesVerifiesAndLogsExactlyTheEditedFields)
{
    const QString pty = StartSim();
    ASSERT_FALSE(pty.isEmpty());
    ReadAndEdit(pty, QStringLiteral("found.mtr"), QStringLiteral("edited.mtr"));
    const QString relay = AuditCli({ QStringLiteral("show"), QStringLiteral("found.mtr") })
                              .out.section(QStringLiteral("Relay #2 OFF Value\t1012\t"), 1)
                              .section(QLatin1Char('\n'), 0, 0);
    ASSERT_FALSE(relay.isEmpty());
    const QByteArray held = ReadFile(m_image);

    // Without a terminal and without --yes, nothing is sent.
    QStringList unconfirmed = SendArgs(pty, QStringLiteral("edited.mtr"));
    unconfirmed.removeAll(QStringLiteral("--yes"));
    const AuditCliRun asked = AuditCli(unconfirmed);
    EXPECT_EQ(asked.status, 2);
    EXPECT_TRUE(asked.err.contains(QStringLiteral("--yes"))) << qPrintable(asked.err);
    EXPECT_EQ(ReadFile(m_image), held);

    const AuditCliRun sent = AuditCli(SendArgs(pty, QStringLiteral("edited.mtr")));
    ASSERT_EQ(sent.status, 0) << qPrintable(sent.err);
    const QStringList lines = sent.out.split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 5) << qPrintable(sent.out);
    EXPECT_EQ(lines.mid(0, 2),
        (QStringList { QStringLiteral("Relay #2 OFF Value: %1 -> 2500").arg(relay),
            QStringLiteral("Modbus Addr: 1 -> 17") }))
        << qPrintable(sent.out);
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral(" fields unchanged."))) << qPrintable(lines[2]);
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("As found: ")));
    EXPECT_EQ(lines[4], QStringLiteral("Meter stored the configuration"));
    // The as-found copy is the image the meter held, under its serial number and the time.
    const QString kept = lines[3].mid(10);
    EXPECT_TRUE(QFileInfo(kept).fileName().contains(
        QRegularExpression(QStringLiteral("^31415_\\d{8}-\\d{6}\\.mtr$"))))
        << qPrintable(kept);
    EXPECT_EQ(ReadFile(kept), held);
    EXPECT_NE(ReadFile(m_image), held);

    // The trail: the read, the save of the edits and the send, with before and after.
    const AuditLog::Loaded trail = AuditLog(AuditSettings::TrailPath()).Load();
    ASSERT_EQ(trail.records.size(), 4u) << "read, save, unconfirmed send, send";
    EXPECT_EQ(trail.skipped, 0);
    EXPECT_EQ(trail.records[0].action, QStringLiteral("read"));
    EXPECT_EQ(trail.records[0].operatorName, QStringLiteral("Anon"));
    EXPECT_EQ(trail.records[1].action, QStringLiteral("save"));
    EXPECT_EQ(trail.records[1].changes.size(), 2u);
    EXPECT_EQ(trail.records[2].result, QStringLiteral("cancelled"));
    const AuditRecord &send = trail.records[3];
    EXPECT_EQ(send.action, QStringLiteral("send"));
    EXPECT_EQ(send.operatorName, QStringLiteral("Ann"));
    EXPECT_EQ(send.serial, QStringLiteral("31415"));
    EXPECT_EQ(send.series, QStringLiteral("Kelvane"));
    EXPECT_EQ(send.firmware, QStringLiteral("4.1A"));
    EXPECT_EQ(send.result, QStringLiteral("ok"));
    EXPECT_EQ(send.sha256, AuditLog::Sha256Of(QStringLiteral("edited.mtr")));
    EXPECT_EQ(send.changes,
        (std::vector<AuditRecord::Change> {
            { QStringLiteral("Relay #2 OFF Value"), 1012, relay, QStringLiteral("2500") },
            { QStringLiteral("Modbus Addr"), 1035, QStringLiteral("1"), QStringLiteral("17") } }));

    // diff: two files, a file and the meter, as text and JSON, with diff(1)'s statuses.
    const AuditCliRun files = AuditCli(
        { QStringLiteral("diff"), QStringLiteral("found.mtr"), QStringLiteral("edited.mtr") });
    EXPECT_EQ(files.status, 1);
    EXPECT_EQ(files.out,
        QStringLiteral("Relay #2 OFF Value\t1012\t%1\t2500\nModbus Addr\t1035\t1\t17\n")
            .arg(relay));
    const AuditCliRun json = AuditCli({ QStringLiteral("diff"), QStringLiteral("found.mtr"),
        QStringLiteral("edited.mtr"), QStringLiteral("--json") });
    const QJsonArray list = QJsonDocument::fromJson(json.out.toUtf8()).array();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[1].toObject().value(QStringLiteral("b")).toString(), QStringLiteral("17"));
    const AuditCliRun equal = AuditCli({ QStringLiteral("diff"), QStringLiteral("edited.mtr"),
        QStringLiteral("--port"), pty, QStringLiteral("--pace"), m_pace });
    EXPECT_EQ(equal.status, 0) << qPrintable(equal.out + equal.err);
    EXPECT_TRUE(equal.out.isEmpty());
    const AuditCliRun meter = AuditCli({ QStringLiteral("diff"), QStringLiteral("found.mtr"),
        QStringLiteral("--port"), pty, QStringLiteral("--pace"), m_pace });
    EXPECT_EQ(meter.status, 1);
    EXPECT_EQ(meter.out, files.out);
    EXPECT_EQ(AuditCli({ QStringLiteral("diff"), QStringLiteral("found.mtr"),
                           QStringLiteral("missing.mtr") })
                  .status,
        2);
    EXPECT_EQ(AuditCli({ QStringLiteral("diff"), QStringLiteral("found.mtr"),
                           QStringLiteral("--port"), QStringLiteral("/dev/no-such-port") })
                  .status,
        3);

    // The change report: the visit's page with as found and as left side by side.
    const AuditCliRun report
        = AuditCli({ QStringLiteral("report"), QStringLiteral("31415"), QStringLiteral("--text") });
    ASSERT_EQ(report.status, 0) << qPrintable(report.err);
    EXPECT_TRUE(report.out.contains(QStringLiteral("Meter 31415")));
    EXPECT_TRUE(report.out.contains(QStringLiteral("Operator:  Ann")));
    EXPECT_TRUE(report.out.contains(QRegularExpression(QStringLiteral("Modbus Addr +1 +17"))))
        << qPrintable(report.out);
    const AuditCliRun pdf = AuditCli({ QStringLiteral("report"), QStringLiteral("31415"),
        QStringLiteral("--pdf"), QStringLiteral("visit") });
    ASSERT_EQ(pdf.status, 0) << qPrintable(pdf.err);
    EXPECT_TRUE(ReadFile(QStringLiteral("visit.pdf")).startsWith("%PDF"));
    EXPECT_EQ(
        AuditCli({ QStringLiteral("report"), QStringLiteral("99999"), QStringLiteral("--text") })
            .status,
        2);
}

TEST_F(CliAuditEndToEnd, AWrongByteASilentReadBackAndUnwritableFoldersAreCaught)
{
    // A meter whose memory stores one byte wrong: acknowledged, but the read back tells.
    QString pty = StartSim({ QStringLiteral("--store-wrong"), QStringLiteral("40") });
    ASSERT_FALSE(pty.isEmpty());
    ReadAndEdit(pty, QStringLiteral("found.mtr"), QStringLiteral("edited.mtr"));
    const AuditCliRun wrong = AuditCli(SendArgs(pty, QStringLiteral("edited.mtr")));
    EXPECT_EQ(wrong.status, 1);
    EXPECT_TRUE(wrong.err.contains(QStringLiteral("did not store the configuration as sent")))
        << qPrintable(wrong.err);
    EXPECT_FALSE(wrong.out.contains(QStringLiteral("Meter stored the configuration")));
    AuditLog::Loaded trail = AuditLog(AuditSettings::TrailPath()).Load();
    ASSERT_FALSE(trail.records.empty());
    EXPECT_EQ(trail.records.back().result, QStringLiteral("mismatch"));
    StopSim();

    // A meter that answers the read before the send and the send, and nothing after.
    pty = StartSim({ QStringLiteral("--answer-wakes"), QStringLiteral("2") });
    ASSERT_FALSE(pty.isEmpty());
    const AuditCliRun silent = AuditCli(SendArgs(pty, QStringLiteral("found.mtr")));
    EXPECT_EQ(silent.status, 1);
    EXPECT_TRUE(silent.err.contains(QStringLiteral("could not be read back")))
        << qPrintable(silent.err);
    StopSim();

    // An as-found folder that cannot be made: nothing is sent. A trail that cannot be written:
    // said, and the send goes on.
    pty = StartSim();
    ASSERT_FALSE(pty.isEmpty());
    WriteFile(QStringLiteral("not-a-folder"), "x");
    AuditSettings::SetAsFoundFolder(QDir::current().filePath(QStringLiteral("not-a-folder")));
    AuditSettings::SetFolder(QStringLiteral("/proc"));
    const QByteArray held = ReadFile(m_image);
    const AuditCliRun blocked = AuditCli(SendArgs(pty, QStringLiteral("edited.mtr")));
    EXPECT_EQ(blocked.status, 2);
    EXPECT_TRUE(blocked.err.contains(QStringLiteral("not-a-folder/as-found")))
        << qPrintable(blocked.err);
    EXPECT_TRUE(blocked.err.contains(QStringLiteral("/proc/tarvik-audit.jsonl")))
        << qPrintable(blocked.err);
    EXPECT_EQ(ReadFile(m_image), held);
    AuditSettings::SetAsFoundFolder(QString());
    const AuditCliRun unlogged = AuditCli(SendArgs(pty, QStringLiteral("edited.mtr")));
    EXPECT_EQ(unlogged.status, 0) << qPrintable(unlogged.err);
    EXPECT_TRUE(unlogged.err.contains(QStringLiteral("this line is not in the trail")))
        << qPrintable(unlogged.err);

    // With both checks off, a send is the send list alone.
    AuditSettings::SetFolder(QString());
    AuditSettings::SetCompareBeforeSend(false);
    AuditSettings::SetReadBackAfterSend(false);
    const AuditCliRun plain = AuditCli(SendArgs(pty, QStringLiteral("found.mtr")));
    EXPECT_EQ(plain.status, 0) << qPrintable(plain.err);
    EXPECT_EQ(plain.out, QStringLiteral("Meter stored the configuration\n"));
    trail = AuditLog(AuditSettings::TrailPath()).Load();
    EXPECT_EQ(trail.records.back().message,
        QStringLiteral("Meter stored the configuration (not read back)"));
}
