// The datalogger's meter dialogue, log transfer and reading stream against tarvik-metersim on a
// pseudo-terminal (and, for a meter that stops half-way, a scripted far end).
#include "DialogueWait.h"
#include "RecordingSink.h"

#include "../metersim/SimHarness.h"
#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "datalog/DatalogCore.h"
#include "datalog/LogLoader.h"
#include "datalog/MeterDialogue.h"
#include "datalog/PcLogger.h"
#include "datalog/ReadingLine.h"
#include "link/CSerial.h"
#include "support/PtyPair.h"
#include "support/RunToEnd.h"
#include "support/TestEnv.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A link on a device with shortened waits: a poll of ReadByte stands for msPerThousandPolls/1000
// ms, so a meter that never answers is given up on within seconds.
std::unique_ptr<CSerial> OpenLink(const QString &path, double msPerThousandPolls)
{
    LinkTiming timing;
    timing.pacingScale = 0.1;
    timing.readMsPerByte = 0;
    timing.msPerThousandPolls = msPerThousandPolls;
    auto link = std::make_unique<CSerial>(path, timing);
    link->SetPortText(path);
    link->SetBaudText(QStringLiteral("9600"));
    if (!link->OpenPort())
        return nullptr;
    return link;
}

// The simulator, a core talking to it, and what the core tells its form.
struct SimRig
{
    explicit SimRig(QStringList args, double msPerThousandPolls = 10.0)
    {
        args << QStringLiteral("--interval") << QStringLiteral("200");
        started = sim.Start(args) == 1;
        if (started) {
            sim.ClosePort();
            link = OpenLink(sim.SlavePath(), msPerThousandPolls);
            started = link != nullptr;
        }
        core.SetSink(&sink);
        core.SetLink(link.get());
        core.OnFirstShown();
        core.fields.fileName = dir.filePath(QStringLiteral("meter.log"));
    }

    QTemporaryDir dir;
    SimHarness sim;
    std::unique_ptr<CSerial> link;
    bool started = false;
    RecordingSink sink;
    DatalogCore core;
};

// A far end that answers only what a test scripts: the greeting with a screen, the wake-up with
// a prompt, then fixed bytes for "953" and "954", then silence. It keeps all it heard.
class ScriptedMeter
{
public:
    ScriptedMeter(PtyPair &pty, QByteArray answer953, QByteArray answer954)
        : m_pty(pty)
        , m_953(std::move(answer953))
        , m_954(std::move(answer954))
        , m_thread([this] { Run(); })
    {
    }
    ~ScriptedMeter()
    {
        m_stop = true;
        m_thread.join();
    }
    QByteArray Heard()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_heard;
    }

private:
    // Like a real meter (and the simulator), an answer goes out once the program has been
    // quiet for a while: the program purges its input right after some commands.
    void Run()
    {
        constexpr int kQuietMs = 100;
        QByteArray heard;
        QByteArray answer;
        while (!m_stop) {
            pollfd p { m_pty.MasterFd(), POLLIN, 0 };
            if (::poll(&p, 1, answer.isEmpty() ? 20 : kQuietMs) <= 0) {
                if (!answer.isEmpty())
                    m_pty.Send(std::exchange(answer, QByteArray()));
                continue;
            }
            char buf[256];
            const ssize_t n = ::read(m_pty.MasterFd(), buf, sizeof buf);
            if (n <= 0)
                continue;
            heard.append(buf, int(n));
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_heard.append(buf, int(n));
            }
            if (heard.contains("[[[[[[[")) {
                heard.clear();
                answer = QByteArray(" MAIN MENU\r\n SELECT: ");
            } else if (heard.count('.') >= 18) {
                heard.clear();
                answer = QByteArray("\r\n>\x1c");
            } else if (heard.contains("953\r\n")) {
                heard.clear();
                answer = m_953;
            } else if (heard.contains("954\r\n")) {
                heard.clear();
                answer = m_954;
            }
        }
    }

    PtyPair &m_pty;
    QByteArray m_953;
    QByteArray m_954;
    std::atomic<bool> m_stop { false };
    std::mutex m_mutex;
    QByteArray m_heard;
    std::thread m_thread;
};

} // namespace

TEST(DatalogSim, UpdateReadsTheMeterAndItsLogMemory)
{
    SimRig rig({ "--serial", "87654321", "--range", "2" });
    ASSERT_TRUE(rig.started);
    ASSERT_TRUE(Press(rig.core, &DatalogCore::Update));
    const DatalogFields &f = rig.core.fields;
    EXPECT_TRUE(rig.sink.messages.isEmpty()) << qPrintable(rig.sink.messages.join('\n'));
    EXPECT_EQ(f.firmwareRev, QStringLiteral("v4.1A"));
    EXPECT_EQ(f.serialNumber, QStringLiteral("87654321"));
    EXPECT_EQ(f.activeRange, QStringLiteral("2"));
    EXPECT_EQ(f.calibrationDate, QStringLiteral("01/31/08"));
    EXPECT_EQ(f.flowRange, QStringLiteral("80.000000"));
    EXPECT_EQ(f.xSection, QStringLiteral("1.000000 FT^2"));
    EXPECT_EQ(f.zeroOffset, QStringLiteral("0.000000e+00"));
    EXPECT_EQ(rig.core.state.flowUnits, QStringLiteral("SCFM"));
    EXPECT_EQ(rig.core.state.totalUnits, QStringLiteral("SCF"));
    // "MEM:7D00": the simulator's empty 32000-byte memory, 12 bytes per Flow snapshot.
    EXPECT_EQ(rig.core.state.memoryFigure, 32000u);
    EXPECT_EQ(f.capacity, QStringLiteral("2666"));
    EXPECT_TRUE(rig.core.state.meterParametersRead);
    EXPECT_EQ(rig.sink.statuses,
        QStringList({ "IDLE", "Contacting Meter", "Refresh Meter", "Contacting Meter",
            "Command Sent To Meter", "Data Transfer in Progress", "Transferring Calib Date",
            "Transferring Flow Range", "Transferring X-sect", "Transferring Offset",
            "Data Transfer Completed", "IDLE" }));
    EXPECT_EQ(rig.sink.modes, QStringList({ "", "METER Comm Mode", "" }));
    // Back in run mode: the meter streams reading lines again.
    QByteArray stream;
    unsigned char b;
    for (int i = 0; i < 300 && !stream.contains("SCFM"); ++i) {
        WaitForInput(*rig.link, 20);
        while (rig.link->ReadByte(&b))
            stream.append(char(b));
    }
    EXPECT_TRUE(stream.contains("SCFM")) << stream.constData();
}

TEST(DatalogSim, OldFirmwareAndSilentMetersAreRefused)
{
    for (const char *version : { "4.0B", "3.9G" }) {
        SimRig rig({ "--firmware", version });
        ASSERT_TRUE(rig.started);
        ASSERT_TRUE(Press(rig.core, &DatalogCore::Update));
        EXPECT_EQ(rig.core.fields.firmwareRev, QStringLiteral("v") + QLatin1String(version));
        EXPECT_EQ(rig.sink.messages,
            QStringList(QStringLiteral("               Flow Meter Firmware Upgrade Required|")
                + MeterDialogue::FirmwareMessage()))
            << version;
        EXPECT_EQ(rig.core.fields.status, QStringLiteral("IDLE"));
        EXPECT_EQ(rig.core.fields.mode, QString());
        // Refused once; the next START is let through until UPDATE asks again.
        EXPECT_TRUE(Await(rig.core, rig.core.Meter().CheckMeter()));
    }

    // Silent two ways, a port nobody reads and a running simulator that never answers: said
    // within seconds, naming the port and speed, before any wake-up is sent. A meter that
    // answers that check and then falls silent still runs into the logger's bounded waits.
    PtyPair silentPty;
    PtyPair greetingPty;
    SimRig silentSim({ "--silent" }, 0.2);
    ASSERT_TRUE(silentSim.started);
    std::unique_ptr<CSerial> ptyLink = OpenLink(silentPty.SlavePath(), 0.2);
    std::unique_ptr<CSerial> greetingLink = OpenLink(greetingPty.SlavePath(), 0.2);
    ASSERT_TRUE(ptyLink && greetingLink);
    ScriptedMeter greetsOnly(greetingPty, QByteArray(), QByteArray());
    for (CSerial *link : { ptyLink.get(), silentSim.link.get(), greetingLink.get() }) {
        const bool greets = link == greetingLink.get();
        SCOPED_TRACE(link == ptyLink.get() ? "silent port" : greets ? "greets only" : "silent sim");
        RecordingSink sink;
        DatalogCore core;
        core.SetSink(&sink);
        core.SetLink(link);
        core.OnFirstShown();
        core.state.memoryFigure = 5;
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(Press(core, &DatalogCore::Update));
        if (!greets) {
            EXPECT_LT(clock.elapsed(), 5000);
            EXPECT_TRUE(link->SilentText().contains(link->PortText() + QStringLiteral(" at 9600")));
        }
        const QString said
            = greets ? QLatin1String(MeterDialogue::kCommErrorText) : link->SilentText();
        EXPECT_EQ(sink.messages,
            QStringList(QStringLiteral("       Flow Meter Communication Error|") + said));
        EXPECT_EQ(core.fields.status, QStringLiteral("IDLE"));
        EXPECT_EQ(core.fields.mode, QString());
        EXPECT_FALSE(core.state.meterParametersRead);
        EXPECT_EQ(core.state.memoryFigure, 5u);
        // Five attempts, each refreshing first, only for a meter that answered.
        EXPECT_EQ(sink.statuses.count(QStringLiteral("Refresh Meter")), greets ? 5 : 0);
        // START (PC) against it does nothing but say so.
        ASSERT_TRUE(Press(core, &DatalogCore::StartPcLogging));
        EXPECT_FALSE(core.state.loggingActive);
        EXPECT_EQ(sink.messages.size(), 2);
    }
    // The silent port heard the two presence checks and nothing more; the meter that answered
    // them had five refreshes by UPDATE, five more by START's own check of the meter.
    EXPECT_EQ(silentPty.Receive(200), QByteArray(14, '['));
    EXPECT_EQ(greetsOnly.Heard().count("rrrrrr\r\n"), 10);
}

// The log memory figure is the "956" token's characters 5 to 8 read as hexadecimal; a token
// too short or not hexadecimal there leaves the figure as it was.
TEST(DatalogSim, LogMemoryFigureIsReadFromTheTokensFifthCharacterOn)
{
    const struct
    {
        const char *token;
        unsigned figure;
    } cases[] = {
        { "MEM:0100", 256 },
        { "MEM:1", 1 },
        { "MEM:7D00FF", 32000 },
        { "MEM", 5 },
        { "MEM:", 5 },
        { "MEM:ZZZZ", 5 },
    };
    for (const auto &c : cases) {
        SimRig rig({ "--mem-token", c.token });
        ASSERT_TRUE(rig.started);
        rig.core.state.memoryFigure = 5;
        ASSERT_TRUE(Press(rig.core, &DatalogCore::Update));
        EXPECT_TRUE(rig.core.state.meterParametersRead) << c.token;
        EXPECT_EQ(rig.core.state.memoryFigure, c.figure) << c.token;
    }
}

TEST(DatalogSim, WakeUpAnsweredOnTheThirdAttempt)
{
    SimRig rig({ "--deaf-wakes", "2" }, 1.0);
    ASSERT_TRUE(rig.started);
    EXPECT_TRUE(Await(rig.core, rig.core.Meter().ContactMeter()));
    EXPECT_EQ(rig.sink.statuses,
        QStringList({ "IDLE", "Contacting Meter", "Refresh Meter", "Contacting Meter",
            "Refresh Meter", "Contacting Meter", "Command Sent To Meter" }));
    EXPECT_EQ(rig.core.fields.mode, QStringLiteral("METER Comm Mode"));
    // STOP (meter) brings the form back from a dialogue's status.
    ASSERT_TRUE(Press(rig.core, &DatalogCore::StopMeter));
    EXPECT_EQ(rig.core.fields.status, QStringLiteral("IDLE"));
}

TEST(DatalogSim, ConfigurationSentIsReadBack)
{
    SimRig rig({});
    ASSERT_TRUE(rig.started);
    DatalogFields &f = rig.core.fields;
    rig.core.state.meterParametersRead = true;
    rig.core.state.memoryFigure = 32000;
    f.startDate = QStringLiteral("1/5/08");
    f.startTime = QStringLiteral("7:08:09");
    f.stopDate = QStringLiteral("12/31/29");
    f.stopTime = QStringLiteral("23:59:58");
    f.hour = QStringLiteral("1");
    f.min = QStringLiteral("2");
    f.sec = QStringLiteral("3");
    f.options = { true, false, true, false, false, true, false, true };
    f.timerEnabled = true;
    f.serialNumber = QStringLiteral("24680");
    f.firmwareRev = QStringLiteral("v4.1A");
    QFile::remove(AuditSettings::TrailPath());
    ASSERT_TRUE(Press(rig.core, &DatalogCore::SendConfiguration));
    EXPECT_EQ(rig.sink.statuses.mid(1),
        QStringList({ "Contacting Meter", "Command Sent To Meter", "Data Transfer in Progress",
            "Transfer Completed", "IDLE" }));

    f.startDate = f.stopDate = f.startTime = f.stopTime = QStringLiteral("x");
    f.hour = f.min = f.sec = QString();
    f.options.fill(false);
    f.timerEnabled = false;
    ASSERT_TRUE(Press(rig.core, &DatalogCore::ReadConfiguration));
    EXPECT_EQ(f.startDate, QStringLiteral("01/05/08"));
    EXPECT_EQ(f.startTime, QStringLiteral("07:08:09"));
    EXPECT_EQ(f.stopDate, QStringLiteral("12/31/29"));
    EXPECT_EQ(f.stopTime, QStringLiteral("23:59:58"));
    EXPECT_EQ(f.hour + f.min + f.sec, QStringLiteral("123"));
    EXPECT_EQ(
        f.options, (std::array<bool, 8> { true, false, true, false, false, true, false, true }));
    EXPECT_TRUE(f.timerEnabled);
    EXPECT_EQ(f.capacity, QString::number(32000 / (11 + 12 + 12 + 7)));
    EXPECT_EQ(f.status, QStringLiteral("IDLE"));

    // Both are lines of the audit trail, with the configuration sent and the one read back.
    const AuditLog::Loaded trail = AuditLog(AuditSettings::TrailPath()).Load();
    QFile::remove(AuditSettings::TrailPath());
    ASSERT_EQ(trail.records.size(), 2u);
    const QString configuration = QStringLiteral(
        "start 01/05/08 07:08:09, stop 12/31/29 "
        "23:59:58, interval 1:2:3, options Date, Flow Rate, Low Flow, Relay 2, timer on");
    for (const AuditRecord &r : trail.records)
        EXPECT_EQ((QStringList { r.result, r.serial, r.series, r.firmware, r.message }),
            (QStringList { "ok", "24680", "Kelvane", "4.1A", configuration }));
    EXPECT_EQ(trail.records[0].action, QStringLiteral("send logger configuration"));
    EXPECT_EQ(trail.records[1].action, QStringLiteral("read logger configuration"));
}

TEST(DatalogSim, MeterLoggerRunsAndItsLogIsTransferredAndLoaded)
{
    SimRig rig({});
    ASSERT_TRUE(rig.started);
    DatalogFields &f = rig.core.fields;
    rig.core.state.meterParametersRead = true;
    f.hour = f.min = QStringLiteral("0");
    f.sec = QStringLiteral("1");
    f.options = { false, true, true, true, false, false, true, false };
    f.timerEnabled = false;
    ASSERT_TRUE(Press(rig.core, &DatalogCore::SendConfiguration));
    ASSERT_TRUE(Press(rig.core, &DatalogCore::StartMeter));
    EXPECT_EQ(f.status, QStringLiteral("Z-Ozuved Running"));
    EXPECT_EQ(f.mode, QStringLiteral("METER Manual Mode"));
    // Other operations wait for STOP (meter).
    ASSERT_TRUE(Press(rig.core, &DatalogCore::LoadLog));
    ASSERT_TRUE(Press(rig.core, &DatalogCore::TransferMeterLog));
    EXPECT_EQ(f.status, QStringLiteral("Z-Ozuved Running"));
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    ASSERT_TRUE(Press(rig.core, &DatalogCore::StopMeter));
    EXPECT_EQ(f.status, QStringLiteral("IDLE"));

    rig.sink.statuses.clear();
    ASSERT_TRUE(Press(rig.core, &DatalogCore::TransferMeterLog));
    EXPECT_EQ(rig.sink.statuses,
        QStringList({ "Contacting Meter", "Command Sent To Meter", "Data Transfer in Progress",
            "Transfer Completed", "IDLE" }));
    const QByteArray file = ReadFile(f.fileName);
    EXPECT_TRUE(file.startsWith("\"Halvren - Flow Meter Datalog Filename " + f.fileName.toLatin1()
        + "\r\n\"Full Scale Flow Rate = 80.000000\r\n\"Serial#  12345678   Start Date: "))
        << file.constData();
    EXPECT_TRUE(
        file.contains("\"Options Selected:\r\r\n;Line ; Time ; Flow ; Total ; Relay1 \r\n; 1; "));
    EXPECT_TRUE(file.contains("\r\n\r\n\"Stop Ocurred "));
    const LogData &log = rig.core.log;
    ASSERT_GE(log.snapshotList.size(), 3);
    EXPECT_EQ(log.headerList.size(), 4);
    EXPECT_EQ(log.stopList.size(), 1);
    EXPECT_EQ(log.columns.Of(ColumnNumbers::Time), 2);
    EXPECT_EQ(log.columns.Of(ColumnNumbers::Relay1), 5);
    EXPECT_EQ(log.logFlowUnits, QStringLiteral("SCFM"));
    EXPECT_EQ(log.intervalSeconds, 1);
    for (const QString &row : log.snapshotList) {
        const QStringList fields = row.split(QLatin1Char(';'));
        bool ok = false;
        fields.value(log.columns.Of(ColumnNumbers::Flow)).trimmed().toDouble(&ok);
        EXPECT_TRUE(ok) << qPrintable(row);
        EXPECT_TRUE(fields.value(log.columns.Of(ColumnNumbers::Relay1))
                        .trimmed()
                        .startsWith(QLatin1String("RL1")));
    }
}

TEST(DatalogSim, StoredLogIsTransferredExactly)
{
    // A count of 1, 5: 261 bytes of log text with LF line ends, one CR LF and one NUL.
    QByteArray text = "\"Serial#  1   Start Date: 01/31/2007   Time: 02:15:07 PM\n\n"
                      "\"Snapshot Interval = 9 secs   Flow Units = LBPM   Total Units = LBP\n\n"
                      "\"Options Selected:\r\n;Line ; Flow \n";
    for (int row = 1; text.size() < 261 - 40; ++row)
        text += "; " + QByteArray::number(row) + "; 12.25 \n";
    text += "\n\"Stop Ocurred 01/31/2007 02:20:00 PM\n";
    text.insert(text.indexOf(";Line"), '\0');
    text.insert(text.indexOf("\n\n\"Stop"), QByteArray(261 - text.size(), ' '));
    ASSERT_EQ(text.size(), 261);
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("stored.bin"));
    {
        QFile f(logPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    SimRig rig({ "--log", logPath });
    ASSERT_TRUE(rig.started);
    ASSERT_TRUE(Press(rig.core, &DatalogCore::TransferMeterLog));
    QByteArray onDisk = text;
    onDisk.replace('\0', QByteArray()).replace('\n', "\r\n");
    EXPECT_EQ(ReadFile(rig.core.fields.fileName).toStdString(),
        ("\"Halvren - Flow Meter Datalog Filename " + rig.core.fields.fileName.toLatin1()
            + "\r\n\"Full Scale Flow Rate = 80.000000\r\n" + onDisk)
            .toStdString());
    EXPECT_EQ(rig.core.log.logFlowUnits, QStringLiteral("LBPM"));
    EXPECT_EQ(rig.core.log.intervalSeconds, 9);
    EXPECT_EQ(rig.core.log.snapshotList.value(0), QStringLiteral("; 1; 12.25 "));
    EXPECT_GE(rig.core.log.snapshotList.size(), 4);
    EXPECT_EQ(rig.core.log.stopList.value(0).trimmed(),
        QStringLiteral("\"Stop Ocurred 01/31/2007 02:20:00 PM"));
    EXPECT_EQ(rig.core.fields.status, QStringLiteral("IDLE"));

    // The same meter after its memory was emptied by a new run that stored nothing.
    SimRig empty({});
    ASSERT_TRUE(empty.started);
    ASSERT_TRUE(Press(empty.core, &DatalogCore::TransferMeterLog));
    EXPECT_TRUE(empty.sink.statuses.contains(QStringLiteral("No Data, File Empty")));
    EXPECT_EQ(empty.core.fields.status, QStringLiteral("IDLE"));
    EXPECT_EQ(ReadFile(empty.core.fields.fileName),
        "\"Halvren - Flow Meter Datalog Filename " + empty.core.fields.fileName.toLatin1()
            + "\r\n\"Full Scale Flow Rate = 80.000000\r\n");
    EXPECT_TRUE(empty.core.log.snapshotList.isEmpty());

    // A file that cannot be created.
    empty.core.fields.fileName = empty.dir.filePath(QStringLiteral("missing/folder.log"));
    ASSERT_TRUE(Press(empty.core, &DatalogCore::TransferMeterLog));
    EXPECT_EQ(empty.sink.messages,
        QStringList(QStringLiteral("               File Creation Error|Could Not Create File")));
    EXPECT_EQ(empty.core.fields.status, QStringLiteral("IDLE"));
}

TEST(DatalogSim, MeterThatStopsHalfWayLeavesWhatArrived)
{
    PtyPair pty;
    // 1 ms per 1000 polls: the 500,000-poll silence that ends the transfer is half a second,
    // long enough for the scripted meter's thread to answer on a busy machine.
    auto link = OpenLink(pty.SlavePath(), 1.0);
    ASSERT_TRUE(link);
    const QByteArray part(100, 'A');
    ScriptedMeter meter(pty, QByteArray("\x01\x00", 2) + part, QByteArray("\x01\x05\x08", 3));
    QTemporaryDir dir;
    RecordingSink sink;
    DatalogCore core;
    core.SetSink(&sink);
    core.SetLink(link.get());
    core.OnFirstShown();
    core.fields.fileName = dir.filePath(QStringLiteral("cut.log"));
    ASSERT_TRUE(Press(core, &DatalogCore::TransferMeterLog));
    // What arrived is kept beside the name the log was meant for, which is not created.
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("cut.partial.log"))),
        "\"Halvren - Flow Meter Datalog Filename " + core.fields.fileName.toLatin1()
            + "\r\n\"Full Scale Flow Rate = 80.000000\r\n" + part);
    EXPECT_FALSE(QFileInfo::exists(core.fields.fileName));
    EXPECT_TRUE(sink.statuses.contains(QStringLiteral("Meter Not Responding")));
    EXPECT_EQ(core.fields.status, QStringLiteral("IDLE"));
    EXPECT_EQ(core.fields.mode, QString());

    // Three of the seventeen configuration bytes: the same ending, the fields untouched.
    sink.statuses.clear();
    core.state.meterParametersRead = true;
    core.fields.startDate = QStringLiteral("02/03/04");
    ASSERT_TRUE(Press(core, &DatalogCore::ReadConfiguration));
    EXPECT_EQ(sink.statuses.mid(sink.statuses.indexOf(QStringLiteral("Data Transfer in Progress"))),
        QStringList({ "Data Transfer in Progress", "Meter Not Responding", "IDLE" }));
    EXPECT_EQ(core.fields.startDate, QStringLiteral("02/03/04"));
}

// PC logging's line reader takes a reading line as it arrives, from the event loop; a stream
// without line ends stops logging, and its message is shown after the reader's step, not in it.
TEST(DatalogSim, LineReaderTakesReadingsAsTheyArriveAndSpeaksAfterItsStep)
{
    PtyPair pty;
    auto link = OpenLink(pty.SlavePath(), 10.0);
    ASSERT_TRUE(link);
    QTemporaryDir dir;
    RecordingSink sink;
    DatalogCore core;
    core.SetSink(&sink);
    core.SetLink(link.get());
    core.OnFirstShown();
    core.state.meterParametersRead = true;
    core.fields.fileName = dir.filePath(QStringLiteral("pc.log"));
    core.Pc().StartPcLogging();
    ASSERT_TRUE(core.Pc().LineReaderRunning());
    ASSERT_TRUE(pty.Send("\r12.5  SCFM  1234.5  SCF  59.12  0.00  RLY1* RLY2\r"));
    EXPECT_TRUE(TestEnv::WaitUntil(
        [&] { return core.fields.flowRate.startsWith(QStringLiteral("12.5")); }, 3000));

    ASSERT_TRUE(pty.Send(QByteArray(300, 'x')));
    const QDeadlineTimer until(3000);
    // Without the event loop turning, so that the reader's own wait does not take them first.
    while (link->PendingCount(1) < 300 && !until.hasExpired())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    core.Pc().ReadPending();
    EXPECT_FALSE(core.state.loggingActive);
    EXPECT_TRUE(sink.messages.isEmpty()) << "shown inside the reader's step";
    EXPECT_TRUE(TestEnv::WaitUntil([&] { return !sink.messages.isEmpty(); }, 3000));
    EXPECT_EQ(sink.messages,
        QStringList(QStringLiteral(
            "        Datalog Error|Data Not Available From Meter\n  Press the Stop Button")));
    EXPECT_FALSE(core.Pc().LineReaderRunning());
}

TEST(DatalogSim, ReadingLinesStayParseableWhateverTheirValues)
{
    struct Case
    {
        const char *flow, *total, *tracking;
        const char *flowValue;
    };
    // The totalizer keeps counting between lines, so it is checked as a number no smaller
    // than where it started.
    const Case cases[] = {
        { "999999999.99", "1234567890123.5", "0", "999999999.99" },
        { "12345.5", "5", "1", "12345.50" },
        { "61002051.87", "1022002.2358", "0", "61002051.87" },
        { "0.5", "1000000001", "1", "0.50" },
    };
    for (const Case &c : cases) {
        SimHarness sim;
        ASSERT_EQ(sim.Start({ "--flow", c.flow, "--total", c.total, "--tracking", c.tracking,
                      "--interval", "100" }),
            1);
        // A complete line: from one line end to the next.
        sim.ReadUntilChar('\r', 3000);
        const QByteArray line = sim.ReadUntilChar('\r', 3000);
        ReadingReceiver rx;
        QByteArray received;
        for (char ch : line) {
            if (rx.Feed((unsigned char)ch) == ReadingReceiver::Result::Line)
                received = rx.Line();
        }
        ASSERT_FALSE(received.isEmpty()) << line.constData();
        const ReadingLine r = ReadingLine::Parse(received);
        EXPECT_EQ(r.flowValue.trimmed().toStdString(), c.flowValue) << line.constData();
        EXPECT_TRUE(r.flowValue.endsWith(QLatin1Char(' ')));
        EXPECT_EQ(r.flowDisplay.right(4), QStringLiteral("SCFM")) << line.constData();
        bool ok = false;
        const double total = r.totalValue.trimmed().toDouble(&ok);
        EXPECT_TRUE(ok && total >= QByteArray(c.total).toDouble()) << line.constData();
        EXPECT_TRUE(r.totalValue.endsWith(QLatin1Char(' ')));
        EXPECT_EQ(r.totalDisplay.right(3), QStringLiteral("SCF")) << line.constData();
        EXPECT_EQ(r.high.toStdString(), c.flowValue);
        EXPECT_TRUE(r.relay1.startsWith(QLatin1String("RL1"))) << line.constData();
        EXPECT_TRUE(r.relay2.startsWith(QLatin1String("RL2"))) << line.constData();
        EXPECT_EQ(line.startsWith('T') || line.startsWith("\nT"), c.tracking[0] == '1')
            << line.constData();
    }
}
