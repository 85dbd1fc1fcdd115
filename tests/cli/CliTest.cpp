// tarvik-cli end to end against tarvik-metersim: its read gives the bytes the form saves after a
// Read of the same meter, a read sent back leaves the meter as it was, set then send changes
// exactly the edited variables, its datasheet is the one the form prints, and bad input, a port
// the window holds, a silent meter and Ctrl+C each give their status and leave no file behind.
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "audit/AuditLog.h"
#include "audit/AuditRecord.h"
#include "audit/AuditSettings.h"
#include "base/AppServices.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "datalog/PcLogger.h"
#include "link/CSerial.h"
#include "link/LinkTiming.h"
#include "meter/CMeterDoc.h"
#include "meter/KelvaneSheet.h"
#include "meter/MeterVars.h"
#include "meter/ZarnFormView.h"
#include "meterqx/QXMeterDoc.h"
#include "meterqx/QuixalSheet.h"
#include "meterqx/ZarnQXFormView.h"
#include "support/PtyPair.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <termios.h>

namespace {

struct CliRun
{
    int status = -1;
    QString out;
    QString err;
};

CliRun Cli(const QStringList &args, const QString &folder = {},
    const QString &program = QStringLiteral(TARVIK_CLI),
    const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessEnvironment(env);
    process.start(program, args);
    CliRun run;
    if (!process.waitForFinished(60000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// Whether the process has the device behind pty open.
bool HoldsPort(qint64 pid, const QString &pty)
{
    const QString device = QFileInfo(pty).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == device)
            return true;
    return false;
}

// The variables whose values differ between two meter files of the same layout.
QStringList Changed(const QString &a, const QString &b)
{
    CMeterDoc first, second;
    if (!first.OnOpenDocument(a) || !second.OnOpenDocument(b))
        return { QStringLiteral("(unreadable)") };
    QStringList names;
    for (int i = 0; i < first.Vars()->Count(); ++i) {
        const QString name = first.Vars()->Name(i);
        const int width = first.Vars()->Size(i);
        if (first.Vars()->Value(name, width) != second.Vars()->Value(name, width))
            names << name;
    }
    return names;
}

class CliEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        TestEnv::ClearPreferences();
        QDir::setCurrent(TestEnv::WorkDir());
        m_simImage = QDir::current().filePath(QStringLiteral("cli-sim.mtr"));
        QFile::remove(m_simImage);
    }
    void TearDown() override
    {
        m_sim.kill();
        m_sim.waitForFinished(5000);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    }
    QString StartSim(const QStringList &extra = {})
    {
        m_sim.start(TestEnv::MeterSimPath(),
            QStringList { QStringLiteral("--serial"), QStringLiteral("31415"),
                QStringLiteral("--range"), QStringLiteral("2"), QStringLiteral("--interval"),
                QStringLiteral("600000"), QStringLiteral("--image"), m_simImage,
                QStringLiteral("--data-dir"), TestEnv::DataDir() }
                + extra);
        if (!m_sim.waitForStarted(5000) || !m_sim.waitForReadyRead(5000))
            return QString();
        return QString::fromLocal8Bit(m_sim.readLine()).trimmed();
    }

    QProcess m_sim;
    QString m_simImage;
};

const QString kPace = QStringLiteral("0.04");

// The lines of the datasheet a form prints for the file at path, opened as the document manager
// opens it, with no meter connected.
template <typename Doc, typename Form, typename Sheet> QStringList FormSheet(const QString &path)
{
    ResetGlobals();
    Doc doc;
    if (!doc.OnOpenDocument(path))
        return {};
    doc.SetPathName(path);
    Form form(&doc);
    form.OnInitialUpdate();
    return Sheet::Build(form.SheetFields(), SheetMetrics {}).Texts();
}

} // namespace

TEST_F(CliEndToEnd, ReadIsTheFormsSaveAndSendChangesOnlyWhatWasSet)
{
    const QString pty = StartSim();
    ASSERT_FALSE(pty.isEmpty());
    // The form reads the meter and saves, as a technician would, while the window holds the
    // port: the command-line program is refused it meanwhile.
    {
        auto store = CPrefs::OpenStore();
        store->setValue(QStringLiteral("Port/COM"), pty);
        store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
    }
    QStringList said;
    const auto old = UserMessage::SetHandler([&](const QString &t, const QString &) { said << t; });
    {
        LinkTiming timing;
        timing.pacingScale = 0.04;
        CTarvikApp app(timing, false);
        ASSERT_TRUE(app.InitInstance());
        app.OnNewMeterForm();
        auto *form = qobject_cast<ZarnFormView *>(app.MainFrame()->ActiveView());
        ASSERT_NE(form, nullptr);
        form->OnReadActive();
        ASSERT_TRUE(
            TestEnv::WaitUntil([&] { return form->RunningList() != ZarnFormView::kReadTimer; }));
        ASSERT_TRUE(form->Save()) << qPrintable(said.join(QLatin1Char('|')));
        EXPECT_EQ(AppServices::Meter().Serial(), QStringLiteral("31415"))
            << "the meter's own, from its image";

        const CliRun held = Cli({ QStringLiteral("read"), QStringLiteral("--port"), pty,
            QStringLiteral("--out"), QStringLiteral("held.mtr"), QStringLiteral("--pace"), kPace });
        EXPECT_EQ(held.status, 3) << qPrintable(held.err);
        EXPECT_TRUE(held.err.startsWith(QStringLiteral("tarvik-cli: Cannot use the port")))
            << qPrintable(held.err);
        EXPECT_FALSE(QFileInfo::exists(QStringLiteral("held.mtr")));
    }
    UserMessage::SetHandler(old);
    const QByteArray formFile = ReadFile(QStringLiteral("31415_2.mtr"));
    ASSERT_FALSE(formFile.isEmpty());
    QFile::remove(QStringLiteral("31415_2.mtr"));

    // The same read from the shell, named as the form names it: the same bytes.
    const CliRun readRun = Cli(
        { QStringLiteral("read"), QStringLiteral("--port"), pty, QStringLiteral("--pace"), kPace });
    ASSERT_EQ(readRun.status, 0) << qPrintable(readRun.err);
    EXPECT_EQ(readRun.out.trimmed(), QDir::current().filePath(QStringLiteral("31415_2.mtr")));
    EXPECT_EQ(ReadFile(QStringLiteral("31415_2.mtr")), formFile);
    EXPECT_TRUE(readRun.err.isEmpty()) << "no progress when standard error is no terminal";

    // The serial number comes from the meter's identification text; its main screen has none.
    const CliRun id = Cli({ "identify", "--port", pty, "--pace", kPace });
    ASSERT_EQ(id.status, 0) << qPrintable(id.err);
    EXPECT_TRUE(id.out.contains("\nserial\t31415\n") && id.out.contains("\nrange\t2\n"))
        << qPrintable(id.out);

    // Sent back as read (--force, as the meter holds it already): the image does not change.
    const QByteArray before = ReadFile(m_simImage);
    const CliRun same = Cli(
        { QStringLiteral("send"), QStringLiteral("31415_2.mtr"), QStringLiteral("--port"), pty,
            QStringLiteral("--pace"), kPace, QStringLiteral("--yes"), QStringLiteral("--force") });
    ASSERT_EQ(same.status, 0) << qPrintable(same.err);
    EXPECT_TRUE(
        same.out.contains(QRegularExpression(QStringLiteral("^\\d+ fields unchanged\\.\n"))))
        << qPrintable(same.out);
    EXPECT_TRUE(same.out.endsWith(QStringLiteral("Meter stored the configuration\n")));
    EXPECT_EQ(ReadFile(m_simImage), before);

    // set by caption, by id and a list by its wording; then send: only those variables change.
    const CliRun set = Cli({ QStringLiteral("set"), QStringLiteral("31415_2.mtr"),
        QStringLiteral("Relay #2 OFF Value=2500"), QStringLiteral("1035=17"),
        QStringLiteral("Relay #1 ON Function=High Flow"), QStringLiteral("--out"),
        QStringLiteral("edited.mtr") });
    ASSERT_EQ(set.status, 0) << qPrintable(set.err);
    EXPECT_EQ(Changed(QStringLiteral("31415_2.mtr"), QStringLiteral("edited.mtr")),
        (QStringList {
            QStringLiteral("event[1]"), QStringLiteral("pad_1"), QStringLiteral("evalue[2]") }));
    const CliRun sent = Cli({ QStringLiteral("send"), QStringLiteral("edited.mtr"),
        QStringLiteral("--port"), pty, QStringLiteral("--pace"), kPace, QStringLiteral("--yes") });
    ASSERT_EQ(sent.status, 0) << qPrintable(sent.err);
    EXPECT_EQ(Changed(QStringLiteral("31415_2.mtr"), m_simImage),
        Changed(QStringLiteral("31415_2.mtr"), QStringLiteral("edited.mtr")));
    const CliRun shown = Cli({ QStringLiteral("show"), m_simImage });
    EXPECT_TRUE(shown.out.contains(QStringLiteral("Relay #1 ON Function\t1007\tHigh Flow")))
        << qPrintable(shown.out);

    // A value the form refuses is refused with its words, and nothing is written.
    const QByteArray edited = ReadFile(QStringLiteral("edited.mtr"));
    const CliRun refused = Cli({ QStringLiteral("set"), QStringLiteral("edited.mtr"),
        QStringLiteral("Full Scale=90"), QStringLiteral("Modbus Addr=12x") });
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("Modbus Addr"))) << qPrintable(refused.err);
    EXPECT_EQ(ReadFile(QStringLiteral("edited.mtr")), edited);

    // Another serial number is refused unless forced, and the meter keeps its image.
    const CliRun serial = Cli({ QStringLiteral("set"), QStringLiteral("edited.mtr"),
        QStringLiteral("Serial Number=27182"), QStringLiteral("--out"),
        QStringLiteral("other.mtr") });
    ASSERT_EQ(serial.status, 0) << qPrintable(serial.err);
    const QByteArray meter = ReadFile(m_simImage);
    const CliRun other = Cli({ QStringLiteral("send"), QStringLiteral("other.mtr"),
        QStringLiteral("--port"), pty, QStringLiteral("--pace"), kPace });
    EXPECT_EQ(other.status, 2);
    EXPECT_TRUE(other.err.contains(QStringLiteral("serial number 31415"))) << qPrintable(other.err);
    EXPECT_EQ(ReadFile(m_simImage), meter);
}

TEST_F(CliEndToEnd, BadInputSaysWhatFailedWithItsStatus)
{
    QFile::copy(QStringLiteral("41A_Template.mtr"), QStringLiteral("kelvane.qxm"));
    const QByteArray image = ReadFile(QStringLiteral("41A_Template.mtr"));
    WriteFile(QStringLiteral("cut.mtr"), image.left(600));
    WriteFile(QStringLiteral("long.mtr"), image + "AB CD EF ");
    WriteFile(QStringLiteral("empty.qxm"), QByteArray());
    WriteFile(QStringLiteral("notes.txt"), image); // a meter file by its content
    WriteFile(QStringLiteral("found.mtr"), image);
    ASSERT_TRUE(QFile::link(QStringLiteral("found.mtr"), QStringLiteral("link.mtr")));
    ASSERT_TRUE(QFile::link(QStringLiteral("gone.mtr"), QStringLiteral("dangling.mtr")));
    struct Case
    {
        QStringList args;
        int status;
        const char *said; // in standard error
    };
    const Case cases[] = {
        { { "frobnicate" }, 2, "no command of tarvik-cli" },
        { { "read", "--port", "COM1", "--colour" }, 2, "read takes no option --colour" },
        { { "read", "--port" }, 2, "--port needs a value" },
        { { "show", "missing.mtr" }, 2, "missing.mtr: no such file" },
        { { "show", "kelvane.qxm" }, 2, "Kelvane meter" },
        { { "set", "41A_Template.mtr", "Nonsense=1" }, 2, "no field of the Kelvane form" },
        { { "set", "41A_Template.mtr", "Desired=7" }, 2, "Desired is a range from 1 to 4" },
        { { "set", "41A_Template.mtr", "Modbus Addr=200" }, 2,
            "Modbus Addr accepts a whole number from 0 to 127" },
        { { "identify", "--port", "/dev/no-such-port" }, 3, "Cannot use the port" },
        { {}, 2, "Usage: tarvik-cli COMMAND" },
        // Opening checks the image whole, as the forms do.
        { { "show", "cut.mtr" }, 2, "cut.mtr: It is incomplete: 200 of the 245 bytes" },
        { { "show", "long.mtr" }, 2, "It holds 3 bytes more than the 245 bytes" },
        { { "show", "empty.qxm" }, 2, "empty.qxm is empty: it holds no meter image" },
        // Every option is checked before a port is opened (the port here would give 3).
        { { "read", "--port", "/dev/no-such-port", "--baud", "abc" }, 2,
            "--baud abc is no speed of the meter link: give 9600, 14400" },
        { { "identify", "--port", "/dev/no-such-port", "--baud", "9600x" }, 2, "--baud 9600x" },
        { { "read", "--port", "/dev/no-such-port", "--pace", "abc" }, 2,
            "--pace abc is no factor" },
        { { "modbus", "--port", "/dev/no-such-port", "--addresses", "1", "--parity", "8N1" }, 2,
            "is no character format: give \"1 8 NONE 1\", \"1 8 EVEN 1\"" },
        { { "log", "--port", "/dev/no-such-port", "--interval", "1", "--seconds", "5", "--out",
              "/no-such-folder/x" },
            2, "the folder /no-such-folder does not exist" },
        { { "modbus", "--port", "/dev/no-such-port", "--scan", "--timeout", "0" }, 2,
            "--timeout MS from 1 to 60000" },
        { { "modbus", "--port", "/dev/no-such-port", "--scan", "--csv" }, 2,
            "modbus --scan takes --port P" },
        { { "watch", "--port", "/dev/no-such-port", "--for", "soon" }, 2, "watch takes --port P" },
        { { "show", "41A_Template.mtr", "--baud", "9600" }, 2, "show takes no option --baud" },
        { { "modbus", "--port", "/dev/no-such-port", "--addresses", "1", "--csv-dialect", "tsv" },
            2, "--csv-dialect tsv is no CSV dialect: give excel, rfc4180, semicolon" },
        { { "transfer", "--port", "/dev/no-such-port", "--out", "/no-such-folder/x" }, 2,
            "does not exist" },
        { { "show", "-x" }, 2, "show takes no option -x" },
        // Nothing is replaced unasked, a log never over a meter file.
        { { "read", "--port", "/dev/no-such-port", "--out", "found.mtr" }, 2,
            "found.mtr exists; --force to replace it" },
        { { "set", "found.mtr", "Full Scale=90", "--out", "link.mtr" }, 2,
            "link.mtr is the input file itself" },
        { { "convert", "found.mtr", "--to", "3.9G", "--out", "dangling.mtr" }, 2,
            "dangling.mtr exists (a link to" },
        { { "convert", "found.mtr", "--to", "3.9G", "--out", "./found.mtr" }, 2,
            "is the input file itself; --force to replace it" },
        { { "log", "--port", "/dev/no-such-port", "--interval", "1", "--seconds", "5", "--out",
              "found.mtr", "--force" },
            2, "found.mtr is a meter file; a log is never written over one" },
        { { "transfer", "--port", "/dev/no-such-port", "--out", "notes.txt", "--force" }, 2,
            "notes.txt is a meter file" },
    };
    for (const Case &c : cases) {
        const CliRun run = Cli(c.args);
        EXPECT_EQ(run.status, c.status) << qPrintable(c.args.join(QLatin1Char(' ')));
        EXPECT_TRUE(run.err.contains(QLatin1String(c.said)))
            << qPrintable(c.args.join(QLatin1Char(' '))) << ": " << qPrintable(run.err);
        EXPECT_TRUE(run.out.isEmpty()) << qPrintable(run.out);
    }
    // The user's files are as they were, the links too.
    EXPECT_EQ(ReadFile(QStringLiteral("found.mtr")), image);
    EXPECT_EQ(ReadFile(QStringLiteral("notes.txt")), image);
    EXPECT_EQ(QFileInfo(QStringLiteral("link.mtr")).symLinkTarget(),
        QFileInfo(QStringLiteral("found.mtr")).absoluteFilePath());
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("gone.mtr")));
    // Asked with --force, the link's file is written through it.
    const CliRun forced
        = Cli({ "set", "found.mtr", "Modbus Addr=12", "--out", "link.mtr", "--force" });
    EXPECT_EQ(forced.status, 0) << qPrintable(forced.err);
    EXPECT_TRUE(QFileInfo(QStringLiteral("link.mtr")).isSymLink());
    EXPECT_EQ(Changed(QStringLiteral("41A_Template.mtr"), QStringLiteral("found.mtr")),
        QStringList { QStringLiteral("pad_1") });
    // A file an editor touched (byte-order mark, CRLF, trailing blanks) shows as the original.
    WriteFile(QStringLiteral("edited.mtr"), "\xEF\xBB\xBF" + image + "  \r\n");
    const CliRun touched = Cli({ "show", "edited.mtr" });
    EXPECT_EQ(touched.status, 0) << qPrintable(touched.err);
    EXPECT_EQ(touched.out, Cli({ "show", "41A_Template.mtr" }).out);

    // Output that cannot be written is a failure, with the reason.
    for (const auto &[line, said] : { std::pair { "\"$0\" show found.mtr >/dev/full",
                                          "Could not write the output: No space left" },
             std::pair { "\"$0\" ports >&-", "standard output is closed" } }) {
        const CliRun shell = Cli({ "-c", line, TARVIK_CLI }, {}, QStringLiteral("bash"));
        EXPECT_EQ(shell.status, 1) << line;
        EXPECT_TRUE(shell.err.contains(QLatin1String(said))) << qPrintable(shell.err);
    }
    EXPECT_EQ(Cli({ "-h" }).out, Cli({ "--help" }).out);
    const CliRun version = Cli({ "--version" });
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("tarvik-cli (Tarvik) 2.")));
    EXPECT_TRUE(version.out.contains(QStringLiteral("JSON output format 1")));

    // Away from the layout files, a good meter file is not called one of another kind.
    QTemporaryDir elsewhere;
    const CliRun away = Cli(
        { QStringLiteral("show"), QFileInfo(QStringLiteral("Quixal.qxm")).absoluteFilePath() },
        elsewhere.path());
    EXPECT_EQ(away.status, 2);
    EXPECT_TRUE(away.err.contains(QStringLiteral("without the layout file varsQX.dat")))
        << qPrintable(away.err);
    // Every command has its help from the table, and the manual page carries the same text.
    const CliRun man = Cli({ QStringLiteral("--man") });
    for (const char *section : { ".SH FILES", "TARVIK_DATA", "/share/tarvik", ".SH EXAMPLES",
             "\\-\\-version", ".SH SEE ALSO" })
        EXPECT_TRUE(man.out.contains(QLatin1String(section))) << section;
    for (const char *command : { "ports", "identify", "read", "send", "show", "set" }) {
        const CliRun help = Cli({ QLatin1String(command), QStringLiteral("--help") });
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: tarvik-cli %1").arg(command)));
        EXPECT_TRUE(man.out.contains(QStringLiteral(".SS %1").arg(command))) << command;
    }
}

TEST_F(CliEndToEnd, SilentMeterAndCtrlCLeaveNoFileAndThePortFree)
{
    const QString pty = StartSim({ QStringLiteral("--silent") });
    ASSERT_FALSE(pty.isEmpty());
    // Each job that talks to the meter first checks that it answers, so none waits out its
    // own time-outs (the logger's run to minutes) and none leaves a file.
    for (const QStringList &job : { QStringList { "read", "--pace", kPace, "--out", "silent.mtr" },
             QStringList { "log", "--interval", "1", "--seconds", "60", "--out", "silent.log" },
             QStringList { "transfer", "--out", "stored.log" } }) {
        const CliRun silent = Cli(job + QStringList { "--port", pty });
        EXPECT_EQ(silent.status, 1) << qPrintable(job.first() + silent.err);
        EXPECT_TRUE(silent.err.contains(
            QStringLiteral("Meter did not answer: nothing came from the meter on %1").arg(pty)))
            << qPrintable(silent.err);
        EXPECT_FALSE(QFileInfo::exists(job.last())) << qPrintable(job.last());
    }

    // Ctrl+C mid-read: the exchange stops at once, no file, and the port is free again.
    QFile::copy(QStringLiteral("41A_Template.mtr"), QStringLiteral("kept.mtr"));
    const QByteArray kept = ReadFile(QStringLiteral("kept.mtr"));
    QProcess process;
    process.start(QStringLiteral(TARVIK_CLI),
        { QStringLiteral("read"), QStringLiteral("--port"), pty, QStringLiteral("--out"),
            QStringLiteral("kept.mtr"), QStringLiteral("--force") });
    ASSERT_TRUE(process.waitForStarted(5000));
    // Mid-read is once the program has the port open (its Ctrl+C handler is set before that).
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return HoldsPort(process.processId(), pty); }));
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(5000)) << "Ctrl+C ends the run at its next wait";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(QString::fromLocal8Bit(process.readAllStandardError())
                    .contains(QStringLiteral("Interrupted")));
    EXPECT_EQ(ReadFile(QStringLiteral("kept.mtr")), kept) << "the old file is left whole";
    const CliRun after = Cli({ QStringLiteral("identify"), QStringLiteral("--port"), pty });
    EXPECT_EQ(after.status, 1) << "the port opens again (the silent meter does not answer)";
}

// Ctrl+C in the middle of a send: the list's own run-mode command still goes out, so the meter
// streams its readings again and the next identify works; the meter keeps its old image.
TEST_F(CliEndToEnd, CtrlCMidSendLeavesTheMeterInRunMode)
{
    const QString pty = StartSim({ "--interval", "300" });
    ASSERT_FALSE(pty.isEmpty());
    const CliRun read = Cli({ "read", "--port", pty, "--out", "meter.mtr", "--pace", kPace });
    ASSERT_EQ(read.status, 0) << qPrintable(read.err);
    const QByteArray image = ReadFile(m_simImage);
    QProcess process;
    // Standard error on a terminal, so that the send shows its progress: the interrupt comes
    // once some of the image is out. At the meter's own pacing the image takes many seconds.
    PtyPair terminal;
    process.setStandardErrorFile(terminal.SlavePath());
    // Without the comparing read first, so that the interrupt falls in the send itself.
    process.start(QStringLiteral(TARVIK_CLI),
        { "send", "meter.mtr", "--port", pty, "--yes", "--no-compare", "--no-verify" });
    ASSERT_TRUE(process.waitForStarted(5000));
    QByteArray err;
    const QRegularExpression sending(QStringLiteral("sending (\\d+) of"));
    ASSERT_TRUE(TestEnv::WaitUntil(
        [&] {
            err += terminal.Receive(100);
            const auto match = sending.match(QString::fromLatin1(err.right(200)));
            return match.hasMatch() && match.captured(1).toInt() >= 200;
        },
        60000))
        << err.right(300).constData();
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 1);
    err += terminal.Receive(1000);
    EXPECT_TRUE(err.contains("Interrupted")) << err.right(300).constData();
    EXPECT_TRUE(err.contains("The meter is back in run mode.")) << err.right(300).constData();
    EXPECT_TRUE(err.contains("The meter may now hold part of the new configuration"))
        << err.right(300).constData();
    EXPECT_EQ(ReadFile(m_simImage), image);

    {
        CSerial link(pty, LinkTiming());
        link.SetBaudText("9600");
        ASSERT_EQ(link.OpenPort(), 1);
        QByteArray stream;
        EXPECT_TRUE(TestEnv::WaitUntil(
            [&] {
                unsigned char b = 0;
                while (link.ReadByte(&b) == 1)
                    stream.append(char(b));
                return stream.count("SCFM") >= 2;
            },
            8000))
            << stream.right(200).constData();
    }
    const CliRun identify = Cli({ "identify", "--port", pty });
    EXPECT_EQ(identify.status, 0) << qPrintable(identify.err);
    EXPECT_TRUE(identify.out.contains("31415")) << qPrintable(identify.out);
}

TEST_F(CliEndToEnd, ModbusCsvPollsTheNetworkAsTheWindowDoes)
{
    m_sim.start(TestEnv::MeterSimPath(),
        { QStringLiteral("--modbus"), QStringLiteral("--addr"), QStringLiteral("1,2,3"),
            QStringLiteral("--silent"), QStringLiteral("3") });
    ASSERT_TRUE(m_sim.waitForStarted(5000));
    ASSERT_TRUE(m_sim.waitForReadyRead(5000));
    const QString pty = QString::fromLocal8Bit(m_sim.readLine()).trimmed();
    const CliRun run = Cli(
        { QStringLiteral("modbus"), QStringLiteral("--port"), pty, QStringLiteral("--addresses"),
            QStringLiteral("1-3"), QStringLiteral("--count"), QStringLiteral("2"),
            QStringLiteral("--interval"), QStringLiteral("100"), QStringLiteral("--csv") });
    EXPECT_EQ(run.status, 1) << "a meter that never answered";
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 7) << qPrintable(run.out);
    EXPECT_EQ(lines.at(0),
        QStringLiteral("sweep,time,UTC offset,address,serial,flow,flow unit,totalizer,totalizer "
                       "unit,temperature,temperature unit,status"));
    // The silent meter's rows keep their cells, empty, and name the failure.
    const char *const expected[][2]
        = { { "1", "1" }, { "1", "2" }, { "1", "3" }, { "2", "1" }, { "2", "2" }, { "2", "3" } };
    for (int i = 0; i < 6; ++i) {
        const QStringList cells = lines.at(i + 1).split(QLatin1Char(','));
        ASSERT_EQ(cells.size(), 12) << qPrintable(lines.at(i + 1));
        const bool silent = i % 3 == 2;
        EXPECT_EQ(cells.at(11),
            silent ? QStringLiteral("Address 3: Response Timed Out") : QStringLiteral("ok"));
        EXPECT_EQ(cells.at(0), QLatin1String(expected[i][0]));
        // The program's one CSV time: local date-time to the millisecond, then its offset.
        EXPECT_TRUE(QDateTime::fromString(cells.at(1) + cells.at(2).mid(3), Qt::ISODate).isValid())
            << qPrintable(lines.at(i + 1));
        EXPECT_EQ(cells.at(1).size(), 23) << qPrintable(cells.at(1));
        EXPECT_EQ(cells.at(3), QLatin1String(expected[i][1]));
        // Serial number and units as the static block told them; none from a silent meter.
        EXPECT_EQ(cells.at(4), silent ? QString() : QStringLiteral("2026000") + cells.at(3));
        EXPECT_EQ(cells.at(6), silent ? QString() : QStringLiteral("SCFM"));
        EXPECT_EQ(cells.at(8), silent ? QString() : QStringLiteral("SCF"));
        for (int c : { 5, 7, 9 }) {
            bool ok = false;
            cells.at(c).toDouble(&ok);
            EXPECT_TRUE(silent ? cells.at(c).isEmpty() : ok) << qPrintable(lines.at(i + 1));
        }
    }
    // Said for each sweep (the static read before them only fills in serial and units).
    EXPECT_EQ(run.err.count(QStringLiteral("Address 3: Response Timed Out")), 2)
        << qPrintable(run.err);
    EXPECT_FALSE(run.out.contains(QLatin1Char('\r'))) << "lines end as a shell's do";

    // The semicolon dialect: ";" between cells, the decimal comma, CR LF.
    const CliRun semicolon
        = Cli({ "modbus", "--port", pty, "--addresses", "1", "--csv-dialect", "semicolon" });
    EXPECT_EQ(semicolon.status, 0) << qPrintable(semicolon.err);
    const QStringList rows = semicolon.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 2) << qPrintable(semicolon.out);
    EXPECT_TRUE(
        rows.at(0).endsWith(QStringLiteral("sweep;time;UTC offset;address;serial;flow;flow unit;"
                                           "totalizer;totalizer unit;temperature;temperature "
                                           "unit;status")))
        << qPrintable(rows.at(0));
    const QStringList cells = rows.at(1).split(QLatin1Char(';'));
    ASSERT_EQ(cells.size(), 12) << qPrintable(rows.at(1));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^-?\\d+,\\d+$")).match(cells.at(5)).hasMatch())
        << qPrintable(cells.at(5));
    EXPECT_EQ(cells.at(10), QStringLiteral("\u00B0F"));
}

// A scan lists the addresses that answer with their static block, at the wire's pace, and says
// an address whose replies are garbled (two meters at one address).
TEST_F(CliEndToEnd, ModbusScanListsWhoAnswersAndSaysFaultyAddresses)
{
    m_sim.start(TestEnv::MeterSimPath(), { "--modbus", "--addr", "2,5,9", "--badcrc", "9" });
    ASSERT_TRUE(m_sim.waitForStarted(5000) && m_sim.waitForReadyRead(5000));
    const QString pty = QString::fromLocal8Bit(m_sim.readLine()).trimmed();
    const CliRun table = Cli({ "modbus", "--port", pty, "--scan", "--addresses", "1-6", "--timeout",
        "200", "--retries", "0" });
    EXPECT_EQ(table.status, 0) << qPrintable(table.err);
    EXPECT_EQ(table.out.toStdString(),
        "address\tserial\tflow units\ttotalizer units\tmax range\tfull scale\n"
        "2\t20260002\tSCFM\tSCF\t2000.000000\t1000.000000\n"
        "5\t20260005\tSCFM\tSCF\t5000.000000\t2500.000000\n");
    EXPECT_TRUE(table.err.contains(QStringLiteral("2 of 6 addresses answered.")))
        << qPrintable(table.err);

    const CliRun json = Cli({ "modbus", "--port", pty, "--scan", "--addresses", "4-10", "--json",
        "--timeout", "200", "--retries", "1" });
    EXPECT_EQ(json.status, 1) << "a faulty address";
    const QJsonArray rows = QJsonDocument::fromJson(json.out.toUtf8()).array();
    ASSERT_EQ(rows.size(), 2) << qPrintable(json.out);
    EXPECT_EQ(rows.at(0).toObject().value("serial").toString(), QStringLiteral("20260005"));
    EXPECT_EQ(rows.at(0).toObject().value("full_scale").toDouble(), 2500.0);
    EXPECT_EQ(rows.at(1).toObject().value("address").toInt(), 9);
    EXPECT_EQ(
        rows.at(1).toObject().value("failure").toString(), QStringLiteral("Address 9: CRC Error"));
    EXPECT_EQ(json.err.count(QStringLiteral("Address 9: CRC Error")), 1) << qPrintable(json.err);
}

TEST_F(CliEndToEnd, LogAndTransferWriteTheDataloggersFormat)
{
    const QByteArray stored
        = "\"Serial#  31415   Start Date: 01/31/2007   Time: 02:15:07 PM\n\n"
          "\"Snapshot Interval = 9 secs   Flow Units = SCFM   Total Units = SCF\n\n"
          "\"Options Selected:\r\n;Line ; Flow \n; 1; 12.25 \n; 2; 12.50 \n"
          "\n\"Stop Ocurred 01/31/2007 02:20:00 PM\n";
    {
        QFile f(QStringLiteral("stored.bin"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(stored);
    }
    m_sim.start(TestEnv::MeterSimPath(),
        { QStringLiteral("--serial"), QStringLiteral("31415"), QStringLiteral("--interval"),
            QStringLiteral("200"), QStringLiteral("--log"), QStringLiteral("stored.bin"),
            QStringLiteral("--data-dir"), TestEnv::DataDir() });
    ASSERT_TRUE(m_sim.waitForStarted(5000));
    ASSERT_TRUE(m_sim.waitForReadyRead(5000));
    const QString pty = QString::fromLocal8Bit(m_sim.readLine()).trimmed();

    // A few seconds of PC logging: the datalogger's header, column line, rows and stop line.
    const CliRun log
        = Cli({ QStringLiteral("log"), QStringLiteral("--port"), pty, QStringLiteral("--interval"),
            QStringLiteral("1"), QStringLiteral("--seconds"), QStringLiteral("3"),
            QStringLiteral("--out"), QStringLiteral("pc.log"), QStringLiteral("--options"),
            QStringLiteral("time,flow,relay1"), QStringLiteral("--pace"), kPace });
    ASSERT_EQ(log.status, 0) << qPrintable(log.err);
    const QByteArray pc = ReadFile(QStringLiteral("pc.log"));
    EXPECT_TRUE(pc.startsWith("\"Halvren - PC Datalog Filename pc.log\r\n\"Full Scale Flow Rate = "
                              "80.000000\r\n\"Serial#  31415   Start Date: "))
        << pc.constData();
    QByteArray columns
        = PcLogger::ColumnHeaderLine({ false, true, true, false, false, false, true, false });
    columns.replace("\n", "\r\n");
    EXPECT_TRUE(pc.contains(columns)) << pc.constData();
    EXPECT_GE(pc.count("\r\n; "), 2) << pc.constData();
    EXPECT_TRUE(pc.contains("\r\n\r\n\"Stop Ocurred ")) << pc.constData();

    // "-" is standard output: the log itself, and no file name after it.
    const CliRun piped = Cli({ "log", "--port", pty, "--interval", "1", "--seconds", "2", "--out",
        "-", "--pace", kPace });
    ASSERT_EQ(piped.status, 0) << qPrintable(piped.err);
    EXPECT_TRUE(piped.out.startsWith(QStringLiteral("\"Halvren - PC Datalog Filename ")))
        << qPrintable(piped.out);
    EXPECT_TRUE(piped.out.contains(QStringLiteral("\r\n; 1; "))
        && piped.out.endsWith(QStringLiteral("\r\n")))
        << qPrintable(piped.out);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("-")));

    // Ctrl+C ends a long log with its stop line.
    QProcess process;
    process.start(QStringLiteral(TARVIK_CLI),
        { QStringLiteral("log"), QStringLiteral("--port"), pty, QStringLiteral("--interval"),
            QStringLiteral("1"), QStringLiteral("--seconds"), QStringLiteral("600"),
            QStringLiteral("--out"), QStringLiteral("long.log"), QStringLiteral("--pace"), kPace });
    ASSERT_TRUE(process.waitForStarted(5000));
    ASSERT_TRUE(TestEnv::WaitUntil(
        [] { return ReadFile(QStringLiteral("long.log")).contains("\r\n; 1; "); }, 20000));
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(ReadFile(QStringLiteral("long.log")).contains("\r\n\"Stop Ocurred "));

    // The stored log, transferred exactly as the datalogger writes it.
    const CliRun transfer = Cli({ QStringLiteral("transfer"), QStringLiteral("--port"), pty,
        QStringLiteral("--out"), QStringLiteral("meter.log"), QStringLiteral("--pace"), kPace });
    ASSERT_EQ(transfer.status, 0) << qPrintable(transfer.err);
    QByteArray onDisk = stored;
    onDisk.replace('\n', "\r\n");
    EXPECT_EQ(ReadFile(QStringLiteral("meter.log")).toStdString(),
        ("\"Halvren - Flow Meter Datalog Filename meter.log\r\n\"Full Scale Flow Rate = "
         "80.000000\r\n"
            + onDisk)
            .toStdString());
}

// watch prints the stream as it comes and sends nothing; Ctrl+C is its normal end; a meter that
// streams no reading is said within seconds.
TEST_F(CliEndToEnd, WatchPrintsTheStreamSendsNothingAndSaysASilentMeter)
{
    PtyPair meter;
    ASSERT_TRUE(meter.IsValid());
    QProcess watch;
    watch.start(TARVIK_CLI, { "watch", "--port", meter.SlavePath(), "--json" });
    ASSERT_TRUE(watch.waitForStarted(5000));
    // Open and set up: until watch has switched the line's echo off, the terminal driver
    // itself would echo the test's bytes back as if watch had sent them.
    ASSERT_TRUE(TestEnv::WaitUntil([&] {
        termios line {};
        return watch.state() != QProcess::Running
            || (HoldsPort(watch.processId(), meter.SlavePath())
                && ::tcgetattr(meter.MasterFd(), &line) == 0 && !(line.c_lflag & ECHO));
    }));
    ASSERT_EQ(watch.state(), QProcess::Running) << watch.readAllStandardError().constData();
    const QByteArray reading = "12.50 SCFM  1234.5678 SCF  30.00  10.00  RL1. RL2*\x06\r\n";
    // Streamed as a meter does, until watch has printed some (the port's set-up may purge the
    // first bytes).
    QByteArray out;
    QElapsedTimer sinceSent;
    ASSERT_TRUE(TestEnv::WaitUntil([&] {
        // A meter's pace, not the test loop's: a flood would only measure the machine's load.
        if (!sinceSent.isValid() || sinceSent.elapsed() >= 50) {
            meter.Send("\r" + reading + "GARBAGE ~~\r\n" + reading);
            sinceSent.start();
        }
        out += watch.readAllStandardOutput();
        return out.count('\n') >= 2 || watch.state() != QProcess::Running;
    })) << out.constData();
    ASSERT_EQ(watch.state(), QProcess::Running) << watch.readAllStandardError().constData();
    ::kill(pid_t(watch.processId()), SIGINT);
    ASSERT_TRUE(watch.waitForFinished(10000));
    EXPECT_EQ(watch.exitCode(), 0);
    out += watch.readAllStandardOutput();
    const QList<QByteArray> lines = out.trimmed().split('\n');
    ASSERT_GE(lines.size(), 2) << out.constData();
    for (const QByteArray &line : lines) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        EXPECT_EQ(o.value("flow").toObject().value("value").toDouble(), 12.5) << line.constData();
        EXPECT_EQ(o.value("relay2").toBool(), true);
        EXPECT_TRUE(QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs).isValid());
    }
    // Every reading printed is counted, and the garbage between them is counted apart.
    const QRegularExpressionMatch counts
        = QRegularExpression(QStringLiteral("(\\d+) readings, (\\d+) lines that were no reading"))
              .match(QString::fromLocal8Bit(watch.readAllStandardError()));
    ASSERT_TRUE(counts.hasMatch());
    EXPECT_EQ(counts.captured(1).toInt(), lines.size());
    EXPECT_GE(counts.captured(2).toInt(), lines.size() / 2 - 1);
    EXPECT_TRUE(meter.Receive(300).isEmpty()) << "nothing is sent to the meter";

    const QString silent = StartSim({ "--silent" });
    ASSERT_FALSE(silent.isEmpty());
    const CliRun none = Cli({ "watch", "--port", silent, "--for", "4" });
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(none.err.contains(QStringLiteral("No readings from %1 for 3 s").arg(silent)))
        << qPrintable(none.err);
    EXPECT_TRUE(none.out.isEmpty());
}

// Ctrl+C in a transfer says at once what it waits for, and at the end what was kept; an output
// that takes nothing (a FIFO nobody opens) does not keep SIGTERM from ending the program.
TEST_F(CliEndToEnd, InterruptedTransferSaysWhatItWaitsForAndWhatWasKept)
{
    const QByteArray stored(6000, 'x'); // some 6 s at 9600 baud
    WriteFile(QStringLiteral("long.bin"), stored);
    const QString pty = StartSim({ "--log", "long.bin", "--baud", "9600" });
    ASSERT_FALSE(pty.isEmpty());
    const CliRun piped
        = Cli({ "transfer", "--port", pty, "--out", "/dev/stdout", "--pace", kPace });
    EXPECT_TRUE(piped.out.endsWith(QString::fromLatin1(stored)));

    PtyPair terminal;
    ASSERT_TRUE(terminal.IsValid());
    QProcess process;
    process.setStandardErrorFile(terminal.SlavePath());
    process.start(TARVIK_CLI, { "transfer", "--port", pty, "--out", "cut.log", "--pace", kPace });
    QByteArray err;
    ASSERT_TRUE(TestEnv::WaitUntil([&] {
        return (err += terminal.Receive(100)).contains(" bytes");
    })) << err.constData();
    ::kill(pid_t(process.processId()), SIGINT);
    EXPECT_TRUE(TestEnv::WaitUntil([&] {
        return (err += terminal.Receive(100)).contains("waiting for the meter to finish sending");
    })) << err.constData();
    ASSERT_TRUE(process.state() == QProcess::NotRunning || process.waitForFinished(30000));
    err += terminal.Receive(500);
    EXPECT_TRUE(err.contains("cut.log was not written, what arrived is kept in cut.partial.log"))
        << err.right(300).constData();

    ASSERT_EQ(QProcess::execute("mkfifo", { "unread" }), 0);
    QProcess stuck;
    stuck.start(TARVIK_CLI,
        { "log", "--port", pty, "--interval", "1", "--seconds", "60", "--out", "unread", "--pace",
            kPace });
    const QString wchan = QStringLiteral("/proc/%1/wchan").arg(stuck.processId());
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return ReadFile(wchan) == "wait_for_partner"; }, 30000));
    ::kill(pid_t(stuck.processId()), SIGTERM);
    ASSERT_TRUE(stuck.waitForFinished(10000));
    EXPECT_EQ(stuck.exitCode(), 1);
    EXPECT_TRUE(stuck.readAllStandardError().contains("Interrupted while an output did not take"));
}

TEST_F(CliEndToEnd, FailedTransferLeavesTheOldFile)
{
    const QString pty = StartSim(); // a meter whose log memory is empty
    ASSERT_FALSE(pty.isEmpty());
    QFile::copy(QStringLiteral("Datalog.log"), QStringLiteral("kept.log"));
    const QByteArray kept = ReadFile(QStringLiteral("kept.log"));
    const CliRun run = Cli({ QStringLiteral("transfer"), QStringLiteral("--port"), pty,
        QStringLiteral("--out"), QStringLiteral("kept.log"), QStringLiteral("--pace"), kPace,
        QStringLiteral("--force") });
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("stored log is empty"))) << qPrintable(run.err);
    EXPECT_EQ(ReadFile(QStringLiteral("kept.log")), kept);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("kept.log.tarvik-old")));
}

TEST_F(CliEndToEnd, ConvertMovesTheDataIntoTheTargetLayout)
{
    const CliRun run = Cli(
        { QStringLiteral("convert"), QStringLiteral("41A_Template.mtr"), QStringLiteral("--to"),
            QStringLiteral("3.9G"), QStringLiteral("--out"), QStringLiteral("old.mtr") });
    ASSERT_EQ(run.status, 0) << qPrintable(run.err);
    CMeterDoc doc;
    ASSERT_TRUE(doc.OnOpenDocument(QStringLiteral("old.mtr")));
    EXPECT_EQ(doc.Vars()->SectionName(), QStringLiteral("[3.9G]"));
    EXPECT_FALSE(doc.LayoutMismatch());
    // The values the form shows survive the move.
    const auto shown = [](const QString &file) {
        QStringList kept;
        for (const QString &line :
            Cli({ QStringLiteral("show"), file }).out.split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("Serial Number\t"))
                || line.startsWith(QLatin1String("Full Scale\t"))
                || line.startsWith(QLatin1String("C Factor\t")))
                kept << line;
        return kept;
    };
    EXPECT_EQ(shown(QStringLiteral("old.mtr")), shown(QStringLiteral("41A_Template.mtr")));
    EXPECT_EQ(shown(QStringLiteral("old.mtr")).size(), 3);
    const CliRun bad = Cli(
        { QStringLiteral("convert"), QStringLiteral("41A_Template.mtr"), QStringLiteral("--to"),
            QStringLiteral("1.4A"), QStringLiteral("--out"), QStringLiteral("bad.mtr") });
    EXPECT_EQ(bad.status, 2);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("bad.mtr")));
}

namespace {
// The clock's date and time masked: on a slow machine a second turns between two renderings.
QStringList Clockless(QStringList lines)
{
    static const QRegularExpression clock(
        QStringLiteral("\\d{1,2}:\\d{2}(:\\d{2})?|\\d{1,2}/\\d{1,2}/\\d{2,4}"));
    for (QString &line : lines)
        line.replace(clock, QStringLiteral("#"));
    return lines;
}
} // namespace

TEST_F(CliEndToEnd, SheetIsWhatTheFormPrints)
{
    const struct
    {
        const char *file;
        QStringList (*form)(const QString &);
        int lines;
    } files[] = {
        { "41A_Template.mtr", FormSheet<CMeterDoc, ZarnFormView, KelvaneSheet>, 61 },
        { "39G_Template.mtr", FormSheet<CMeterDoc, ZarnFormView, KelvaneSheet>, 41 },
        { "Quixal.qxm", FormSheet<QXMeterDoc, ZarnQXFormView, QuixalSheet>, 43 },
    };
    for (const auto &f : files) {
        const QString name = QLatin1String(f.file);
        const QString path = QDir::current().filePath(name);
        const QString pdf = name + QStringLiteral(".pdf");
        const QStringList form = Clockless(f.form(path));
        const CliRun run = Cli(
            { QStringLiteral("sheet"), name, QStringLiteral("--text"), QStringLiteral("--pdf"), pdf,
                QStringLiteral("--operator"), QStringLiteral("Jo"), QStringLiteral("--force") });
        ASSERT_EQ(run.status, 0) << qPrintable(run.err);
        EXPECT_TRUE(run.err.isEmpty()) << qPrintable(run.err);
        QStringList shell = Clockless(run.out.split(QLatin1Char('\n')));
        shell.removeLast();
        EXPECT_EQ(form.size(), f.lines) << f.file;
        EXPECT_EQ(shell, form) << f.file;

        // The PDF: one page, every line of the sheet in order.
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            continue;
        const QString info = ToolOutput(QStringLiteral("pdfinfo"), { pdf });
        EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))));
        EXPECT_TRUE(info.contains(QStringLiteral("operator Jo"))) << qPrintable(info);
        QString text = ToolOutput(
            QStringLiteral("pdftotext"), { QStringLiteral("-layout"), pdf, QStringLiteral("-") })
                           .simplified();
        text = Clockless({ text }).value(0);
        qsizetype at = 0;
        for (const QString &line : form) {
            if (line.simplified().isEmpty())
                continue;
            const qsizetype found = text.indexOf(line.simplified(), at);
            EXPECT_GE(found, at) << f.file << ": " << qPrintable(line);
            at = std::max(at, found);
        }
    }

    // An OUT without ".pdf" takes it, as the form's export does: a meter file given by mistake
    // stays as it was.
    const QByteArray meterFile = ReadFile(QStringLiteral("41A_Template.mtr"));
    const CliRun mistaken = Cli({ QStringLiteral("sheet"), QStringLiteral("41A_Template.mtr"),
        QStringLiteral("--pdf"), QStringLiteral("41A_Template.mtr"), QStringLiteral("--force") });
    EXPECT_EQ(mistaken.status, 0) << qPrintable(mistaken.err);
    EXPECT_EQ(mistaken.out, QStringLiteral("41A_Template.mtr.pdf\n"));
    EXPECT_EQ(ReadFile(QStringLiteral("41A_Template.mtr")), meterFile);
    EXPECT_TRUE(ReadFile(QStringLiteral("41A_Template.mtr.pdf")).startsWith("%PDF"));

    // A PDF that cannot be written is said, and a sheet never reads a file of the other series.
    const QByteArray kept = ReadFile(QStringLiteral("Quixal.qxm.pdf"));
    const CliRun nowhere = Cli({ QStringLiteral("sheet"), QStringLiteral("Quixal.qxm"),
        QStringLiteral("--pdf"), QStringLiteral("no/such/folder/x.pdf") });
    EXPECT_EQ(nowhere.status, 2);
    EXPECT_TRUE(nowhere.err.startsWith(QStringLiteral(
        "tarvik-cli: no/such/folder/x.pdf: the folder %1/no/such/folder does not exist.")
                                           .arg(QDir::currentPath())))
        << qPrintable(nowhere.err);
    ASSERT_TRUE(QFile::copy(QStringLiteral("Quixal.qxm"), QStringLiteral("renamed.mtr")));
    const CliRun other = Cli({ QStringLiteral("sheet"), QStringLiteral("renamed.mtr"),
        QStringLiteral("--pdf"), QStringLiteral("Quixal.qxm.pdf"), QStringLiteral("--force") });
    EXPECT_EQ(other.status, 2);
    EXPECT_EQ(ReadFile(QStringLiteral("Quixal.qxm.pdf")), kept);
}

// The package's layout: the program in bin/, its data in share/tarvik beside it, the bench's own
// folder elsewhere. Data is found there (or where TARVIK_DATA says, first), and everything
// written lands where the user asked, never in the data folder.
TEST_F(CliEndToEnd, PackagedLayoutFindsItsDataAndWritesWhereAsked)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QDir top(root.path());
    for (const char *folder : { "usr/bin", "usr/share/tarvik", "bench/gone" })
        ASSERT_TRUE(top.mkpath(QLatin1String(folder)));
    const QString cli = top.filePath("usr/bin/tarvik-cli");
    ASSERT_TRUE(QFile::copy(QStringLiteral(TARVIK_CLI), cli));
    const QDir data(TestEnv::DataDir());
    QString installed = top.filePath("usr/share/tarvik");
    for (const QString &name : data.entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(data.filePath(name), installed + QLatin1Char('/') + name));
    const QString bench = top.filePath("bench");
    ASSERT_TRUE(QFile::copy(data.filePath("41A_Template.mtr"), bench + "/found.mtr"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("TARVIK_DATA");
    const auto run = [&](const QStringList &args) { return Cli(args, bench, cli, env); };
    const QStringList before = QDir(installed).entryList(QDir::Files);

    // Bad input from the bench's folder: its paths are the bench's, /dev/stdout is not read.
    ASSERT_TRUE(QFile::copy(bench + "/found.mtr", bench + "/orig.mtr"));
    WriteFile(bench + "/visit.pdf", "kept");
    AuditRecord visit = AuditRecord::Now(QStringLiteral("send"), QStringLiteral("Ann"));
    visit.serial = QStringLiteral("31415");
    QString error;
    ASSERT_TRUE(AuditLog(AuditSettings::TrailPathIn(bench)).Append(visit, &error))
        << qPrintable(error);
    const std::tuple<QStringList, int, const char *> bad[] = {
        { { "diff", "orig.mtr", "found.mtr" }, 0, "" },
        { { "diff", "orig.mtr", "--port", "/dev/no-such-port" }, 3, "Cannot use the port" },
        { { "report", "31415", "--pdf", "visit" }, 2, "visit.pdf exists; --force to replace it" },
        { { "log", "--port", "/dev/no-such-port", "--interval", "1", "--seconds", "5", "--out",
              "/dev/stdout" },
            3, "Cannot use the port" },
    };
    for (const auto &[args, status, said] : bad) {
        const CliRun done = run(args);
        EXPECT_EQ(done.status, status) << qPrintable(args.join(' ') + ": " + done.err);
        EXPECT_TRUE(done.err.contains(QLatin1String(said))) << qPrintable(done.err);
    }
    EXPECT_EQ(run({ "report", "31415", "--pdf", "visit", "--force" }).out, "visit.pdf\n");
    EXPECT_TRUE(ReadFile(bench + "/visit.pdf").startsWith("%PDF"));

    const CliRun shown = run({ "show", "found.mtr" });
    ASSERT_EQ(shown.status, 0) << qPrintable(shown.err);
    EXPECT_EQ(shown.out, Cli({ "show", "41A_Template.mtr" }).out);
    const CliRun converted = run({ "convert", "found.mtr", "--to", "3.9G", "--out", "old.mtr" });
    EXPECT_EQ(converted.status, 0) << qPrintable(converted.err);
    EXPECT_TRUE(QFileInfo::exists(bench + "/old.mtr"));

    // The meter read lands in the bench's folder under the form's name, and is not read over.
    const QString pty = StartSim();
    ASSERT_FALSE(pty.isEmpty());
    const QStringList readArgs = { "read", "--port", pty, "--pace", kPace };
    const CliRun read = run(readArgs);
    ASSERT_EQ(read.status, 0) << qPrintable(read.err);
    EXPECT_EQ(read.out.trimmed(), bench + "/31415_2.mtr");
    EXPECT_TRUE(QFileInfo::exists(bench + "/31415_2.mtr"));
    // A port named relative to the bench's folder (a link to the device) is found from there.
    ASSERT_TRUE(QFile::link(pty, bench + "/meter"));
    const CliRun linked = run({ "identify", "--port", "meter", "--pace", kPace });
    EXPECT_EQ(linked.status, 0) << qPrintable(linked.err);
    EXPECT_TRUE(linked.out.contains("serial\t31415")) << qPrintable(linked.out);
    const CliRun again = run(readArgs);
    EXPECT_EQ(again.status, 2);
    EXPECT_TRUE(again.err.contains("31415_2.mtr exists; --force to replace it"))
        << qPrintable(again.err);

    // A log against a meter that streams no reading has no row, not empty ones.
    const CliRun log = run({ "log", "--port", pty, "--interval", "1", "--seconds", "2", "--out",
        "night.log", "--pace", kPace });
    EXPECT_EQ(log.status, 0) << qPrintable(log.err);
    const QByteArray night = ReadFile(bench + "/night.log");
    EXPECT_TRUE(night.contains("\"Stop Ocurred ")) << night.constData();
    EXPECT_FALSE(night.contains("\r\n; 1")) << night.constData();

    // The output's folder vanishes while the meter is read: said, and nothing left behind.
    QProcess vanishing;
    vanishing.setWorkingDirectory(bench);
    vanishing.start(cli, { "read", "--port", pty, "--pace", kPace, "--out", "gone/x.mtr" });
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return HoldsPort(vanishing.processId(), pty); }, 30000));
    ASSERT_TRUE(QDir(bench + "/gone").removeRecursively());
    ASSERT_TRUE(vanishing.waitForFinished(60000));
    EXPECT_EQ(vanishing.exitCode(), 1);
    const QString vanished = QString::fromLocal8Bit(vanishing.readAllStandardError());
    EXPECT_TRUE(vanished.contains("Could not write ") && vanished.contains("gone/x.mtr"))
        << qPrintable(vanished);
    EXPECT_FALSE(QFileInfo::exists(bench + "/gone"));

    EXPECT_EQ(QDir(installed).entryList(QDir::Files), before);

    // TARVIK_DATA comes before the installed folder; with neither, the places looked are named.
    const QString moved = top.filePath("data");
    ASSERT_TRUE(QDir().rename(installed, moved));
    env.insert("TARVIK_DATA", moved);
    EXPECT_EQ(run({ "show", "found.mtr" }).out, shown.out);
    env.remove("TARVIK_DATA");
    const CliRun lost = run({ "show", "found.mtr" });
    EXPECT_EQ(lost.status, 2);
    EXPECT_TRUE(lost.err.contains(QStringLiteral(
        "looked in the working folder %1, TARVIK_DATA (not set), the installed folder (none)")
                                      .arg(bench)))
        << qPrintable(lost.err);
}
