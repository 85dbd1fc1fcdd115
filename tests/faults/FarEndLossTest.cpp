// The meter (or the Modbus network) going away in the middle of an operation: the far end of the
// port is killed while the program writes, reads, runs a command list, transfers the meter's log
// or polls a meter. Each
// operation must end within its own time-outs without spinning, tell the user what happened,
// and work again once the far end is back and the port is opened anew.
#include "../datalog/DialogueWait.h"
#include "../datalog/RecordingSink.h"
#include "support/RunToEnd.h"
#include "support/TestEnv.h"

#include "base/Globals.h"
#include "base/UserMessage.h"
#include "datalog/DatalogCore.h"
#include "datalog/MeterDialogue.h"
#include "link/CSerial.h"
#include "link/mbCSerial.h"
#include "lists/CQueExecutor.h"
#include "lists/CSerialMeterLink.h"
#include "lists/IFieldAccess.h"
#include "modbus/ModbusMaster.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <ctime>
#include <functional>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

double ProcessCpuMs()
{
    timespec now = {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A meter's stored log text of about `size` bytes in the layout LOAD reads.
QByteArray StoredLog(int size)
{
    QByteArray text = "\"Serial#  1   Start Date: 01/31/2007   Time: 02:15:07 PM\n\n"
                      "\"Snapshot Interval = 9 secs   Flow Units = LBPM   Total Units = LBP\n\n"
                      "\"Options Selected:\n;Line ; Flow \n";
    for (int row = 1; text.size() < size - 40; ++row)
        text += "; " + QByteArray::number(row) + "; 12.25 \n";
    return text + "\n\"Stop Ocurred 01/31/2007 02:20:00 PM\n";
}

// tarvik-metersim behind a fixed link path, killed as a crash or a pulled cable would end it.
class FarEnd
{
public:
    FarEnd(const QString &link, const QStringList &arguments)
        : m_link(link)
        , m_arguments(arguments)
    {
    }
    ~FarEnd() { Kill(); }

    bool Start()
    {
        QFile::remove(m_link);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(TestEnv::MeterSimPath(),
            m_arguments + QStringList { QStringLiteral("--link"), m_link });
        if (!m_process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100 && !QFileInfo::exists(m_link); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return QFileInfo::exists(m_link);
    }
    qint64 Pid() const { return m_process.processId(); }
    // The name goes before the meter: a link left behind would lead a reviving port to
    // whichever program's pseudo-terminal takes the freed number next (another test's meter).
    void Kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            QFile::remove(m_link);
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

private:
    QString m_link;
    QStringList m_arguments;
    QProcess m_process;
};

class FieldStore : public IFieldAccess
{
public:
    void SetField(int id, const QString &text) override { m_fields[id] = text; }
    QString GetField(int id) override { return m_fields.value(id); }

private:
    QMap<int, QString> m_fields;
};

struct Message
{
    QString text;
    QString caption;
};

class FarEndLossTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        QDir::setCurrent(TestEnv::WorkDir());
        m_old = UserMessage::SetHandler([this](const QString &text, const QString &caption) {
            m_messages.push_back({ text, caption });
        });
    }
    void TearDown() override
    {
        UserMessage::SetHandler(m_old);
        ResetGlobals();
    }

    QStringList ReadList() const
    {
        QFile file(QStringLiteral("read20.que"));
        return file.open(QIODevice::ReadOnly)
            ? QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'))
            : QStringList();
    }

    // Runs a command list to its end (or its failure); the step result that ended it.
    int RunList(CQueExecutor &executor, IFieldAccess &form, int maxSteps = 200)
    {
        DialogueRunner runner;
        for (int step = 0; step < maxSteps; ++step) {
            const int result = RunToEnd(runner, executor.StepAsync(&form, runner));
            executor.ShowMessages();
            if (result != CQueExecutor::kContinue || executor.Stopped())
                return result;
        }
        return 99;
    }

    QTemporaryDir m_dir;
    std::vector<Message> m_messages;
    UserMessage::Handler m_old;
};

// The link's waits shortened for a test: no per-byte share of the read time-out, quick pacing.
LinkTiming QuickTiming()
{
    LinkTiming timing;
    timing.pacingScale = 0.2;
    timing.readMsPerByte = 0;
    return timing;
}

TEST_F(FarEndLossTest, MeterGoesAwayDuringWriteReadAndCommandList)
{
    const QString path = m_dir.filePath(QStringLiteral("meter"));
    const QStringList meterArgs = { QStringLiteral("--firmware"), QStringLiteral("4.1A"),
        QStringLiteral("--data-dir"), TestEnv::DataDir(), QStringLiteral("--image"),
        m_dir.filePath(QStringLiteral("meter.mtr")) };
    FarEnd meter(path, meterArgs);
    ASSERT_TRUE(meter.Start());
    CSerial link(path, QuickTiming());
    link.SetPortText(path);
    link.SetBaudText(QStringLiteral("9600"));
    ASSERT_EQ(link.OpenPort(), 1) << qPrintable(link.LastError());
    CSerialMeterLink meterLink(&link);

    // 1. A command list reads the meter; the meter dies just before the image is asked for.
    CQueExecutor executor;
    executor.SetLink(&meterLink);
    executor.SetLines(ReadList());
    executor.SetLineHook([&meter](int, const QString &line) {
        if (line.contains(QLatin1String("\"110\"")))
            meter.Kill();
    });
    FieldStore form;
    const double cpuStart = ProcessCpuMs();
    auto start = Clock::now();
    const int result = RunList(executor, form);
    const long long listMs = MsSince(start);
    // The port's hang-up ends the image read at once: not its 5 s of interval.
    EXPECT_LT(listMs, 4000);
    EXPECT_EQ(result, CQueExecutor::kBadLabel) << "the list ends saying the port has gone";
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text,
        path + QStringLiteral(" is gone: the adapter was unplugged or the device closed"));
    EXPECT_FALSE(link.IsOpen()) << "the gone device is closed";
    EXPECT_TRUE(form.GetField(1051).isEmpty()) << "no image from a dead meter";
    EXPECT_EQ(form.GetField(1049), QStringLiteral("4.1A")) << "what was read before stays";

    // 2. Writes and reads on the dead port end at once or within their time-outs.
    DialogueRunner runner;
    start = Clock::now();
    EXPECT_EQ(RunToEnd(runner, link.SendCommandAsync(runner, QByteArray(40, 'r'))), 0)
        << "a failed write is reported";
    EXPECT_LT(MsSince(start), 40 * 25 + 1000);
    QByteArray reply;
    start = Clock::now();
    RunToEnd(runner, link.ReadAllAsync(runner, reply, 100, 400));
    EXPECT_TRUE(reply.isEmpty());
    EXPECT_LT(MsSince(start), 2000);
    unsigned char byte = 0;
    EXPECT_EQ(link.ReadByte(&byte), 0);
    const double busy = ProcessCpuMs() - cpuStart;
    EXPECT_LT(busy, double(MsSince(start) + listMs) / 4) << "waiting spun the processor";

    // 3. The meter is back under the same name: the list's first exchange opens the port
    // again by itself and the same list reads it whole.
    ASSERT_TRUE(meter.Start());
    m_messages.clear();
    EXPECT_TRUE(meterLink.Reachable()) << qPrintable(link.LastError());
    executor.SetLineHook({});
    executor.SetLines(ReadList());
    FieldStore again;
    EXPECT_EQ(RunList(executor, again), CQueExecutor::kEnded);
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(again.GetField(1049), QStringLiteral("4.1A"));
    EXPECT_GE(again.GetField(1051).size(), 3 * 26 - 1) << "the image came";
}

// Kills a process a while after it is told to, from a thread of its own, because the operation
// that should be cut runs to its end on the test's thread. Notes the process's CPU time then.
class DelayedKill
{
public:
    // name: the meter's link, removed just before the kill (see FarEnd::Kill).
    DelayedKill(qint64 pid, int delayMs, const QString &name)
        : m_thread([this, pid, delayMs, name] {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_armed || m_quit; });
            if (m_quit)
                return;
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            QFile::remove(name);
            ::kill(pid_t(pid), SIGKILL);
            cpuAtKill = ProcessCpuMs();
            timeOfKill = Clock::now();
            killed = true;
        })
    {
    }
    ~DelayedKill()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    void Arm()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_armed = true;
        }
        m_wake.notify_one();
    }

    std::atomic<bool> killed { false };
    std::atomic<double> cpuAtKill { 0 };
    std::atomic<Clock::time_point> timeOfKill { Clock::time_point() };

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_armed = false;
    bool m_quit = false;
    std::thread m_thread;
};

// A datalogger sink that starts the kill once the log's bytes are coming.
class TransferSink : public RecordingSink
{
public:
    std::function<void()> onTransfer;
    void StatusChanged(const QString &status, const QString &mode) override
    {
        RecordingSink::StatusChanged(status, mode);
        if (status == QLatin1String("Data Transfer in Progress") && onTransfer)
            onTransfer();
    }
};

TEST_F(FarEndLossTest, MeterGoesAwayDuringALogTransfer)
{
    // 12,000 bytes of stored log at 19,200 baud take over 6 s; the meter dies 1.5 s into them.
    const QByteArray big = StoredLog(12000);
    const QByteArray small = StoredLog(400);
    const QString bigPath = m_dir.filePath(QStringLiteral("big.bin"));
    const QString smallPath = m_dir.filePath(QStringLiteral("small.bin"));
    ASSERT_TRUE(WriteFile(bigPath, big));
    ASSERT_TRUE(WriteFile(smallPath, small));
    const QString path = m_dir.filePath(QStringLiteral("meter"));
    auto meter = std::make_unique<FarEnd>(path,
        QStringList {
            QStringLiteral("--baud"), QStringLiteral("19200"), QStringLiteral("--log"), bigPath });
    ASSERT_TRUE(meter->Start());

    LinkTiming timing;
    timing.pacingScale = 0.1;
    timing.readMsPerByte = 0;
    timing.msPerThousandPolls = 2.0; // the 500,000-poll wait for a log byte: 1 s
    CSerial link(path, timing);
    link.SetPortText(path);
    link.SetBaudText(QStringLiteral("9600"));
    ASSERT_EQ(link.OpenPort(), 1) << qPrintable(link.LastError());

    TransferSink sink;
    DatalogCore core;
    core.SetSink(&sink);
    core.SetLink(&link);
    core.OnFirstShown();
    core.fields.fileName = m_dir.filePath(QStringLiteral("meter.log"));
    const QByteArray header = "\"Halvren - Flow Meter Datalog Filename "
        + core.fields.fileName.toLatin1() + "\r\n\"Full Scale Flow Rate = 80.000000\r\n";

    DelayedKill killer(meter->Pid(), 1500, path);
    sink.onTransfer = [&killer] { killer.Arm(); };
    ASSERT_TRUE(Press(core, &DatalogCore::TransferMeterLog));
    const auto end = Clock::now();
    const double cpuEnd = ProcessCpuMs();
    sink.onTransfer = nullptr;
    ASSERT_TRUE(killer.killed) << "the transfer ended before the meter was killed";
    meter->Kill();

    // After the kill: the wait for the next byte (1 s), the pause (0.2 s) and the return to run
    // mode on a dead port (1.1 s of waits and a failed write), nothing more, and all of it asleep.
    const long long afterKill
        = std::chrono::duration_cast<std::chrono::milliseconds>(end - killer.timeOfKill.load())
              .count();
    EXPECT_LT(afterKill, 2300 + 2000);
    // Asleep, the waits cost a few ms of processor; a loop that spins costs hundreds even when
    // the machine is shared by other work.
    EXPECT_LT(cpuEnd - killer.cpuAtKill, double(afterKill) / 10) << "waiting spun the processor";
    ASSERT_GE(sink.statuses.size(), 3);
    EXPECT_EQ(sink.statuses.mid(sink.statuses.size() - 3),
        QStringList({ "Data Transfer in Progress", "Meter Not Responding", "IDLE" }));
    EXPECT_EQ(core.fields.status, QStringLiteral("IDLE"));
    EXPECT_EQ(core.fields.mode, QString());
    // The cut transfer says so; the named file is left alone and what arrived is kept beside it:
    // the two header lines and a true beginning of the log text.
    ASSERT_EQ(sink.messages.size(), 1);
    EXPECT_TRUE(sink.messages.front().contains(QLatin1String("meter.partial.log")))
        << qPrintable(sink.messages.front());
    EXPECT_FALSE(QFile::exists(core.fields.fileName));
    QByteArray onDisk = big;
    onDisk.replace('\n', "\r\n");
    const QByteArray cut = ReadFile(m_dir.filePath(QStringLiteral("meter.partial.log")));
    ASSERT_TRUE(cut.startsWith(header)) << cut.left(200).constData();
    const QByteArray arrived = cut.mid(header.size());
    EXPECT_GT(arrived.size(), 500) << "1.5 s at 19,200 baud brings some 2,800 bytes";
    EXPECT_LT(arrived.size(), onDisk.size());
    EXPECT_TRUE(onDisk.startsWith(arrived)) << "the bytes that arrived, in order, none lost";
    EXPECT_TRUE(core.log.snapshotList.isEmpty()) << "a cut transfer is not loaded";

    // The meter is back with a short log: after the port is opened anew a transfer succeeds.
    meter = std::make_unique<FarEnd>(path, QStringList { QStringLiteral("--log"), smallPath });
    ASSERT_TRUE(meter->Start());
    link.ClosePort();
    link.SetPortText(path);
    link.ReopenPort();
    ASSERT_EQ(link.IsEnabled(), 1) << qPrintable(link.LastError());
    sink.statuses.clear();
    sink.messages.clear();
    ASSERT_TRUE(Press(core, &DatalogCore::TransferMeterLog));
    EXPECT_TRUE(sink.statuses.contains(QStringLiteral("Transfer Completed")))
        << qPrintable(sink.statuses.join('|'));
    EXPECT_EQ(core.fields.status, QStringLiteral("IDLE"));
    QByteArray whole = small;
    whole.replace('\n', "\r\n");
    EXPECT_EQ(ReadFile(core.fields.fileName).toStdString(), (header + whole).toStdString());
    EXPECT_EQ(core.log.logFlowUnits, QStringLiteral("LBPM"));
    EXPECT_GE(core.log.snapshotList.size(), 4);
    EXPECT_TRUE(sink.messages.isEmpty()) << qPrintable(sink.messages.join('\n'));
}

// A sink that starts a kill at a status of the datalogger's dialogue.
class StatusSink : public RecordingSink
{
public:
    QString at;
    std::function<void()> onStatus;
    void StatusChanged(const QString &status, const QString &mode) override
    {
        RecordingSink::StatusChanged(status, mode);
        if (status == at && onStatus)
            onStatus();
    }
};

// The adapter pulled out mid-send and mid-UPDATE: each ends at once with the port named, not
// after its paced bytes or its five attempts, and the port is closed until the device is back.
TEST_F(FarEndLossTest, MeterGoesAwayMidSendAndMidUpdate)
{
    const QString path = m_dir.filePath(QStringLiteral("meter"));
    const QStringList meterArgs = { QStringLiteral("--firmware"), QStringLiteral("4.1A"),
        QStringLiteral("--data-dir"), TestEnv::DataDir() };
    auto meter = std::make_unique<FarEnd>(path, meterArgs);
    ASSERT_TRUE(meter->Start());
    LinkTiming timing = QuickTiming();
    timing.pacingScale = 0.2; // 5 ms a byte: 400 bytes take 2 s
    CSerial link(path, timing);
    link.SetPortText(path);
    link.SetBaudText(QStringLiteral("9600"));
    ASSERT_EQ(link.OpenPort(), 1) << qPrintable(link.LastError());
    const QString gone
        = path + QStringLiteral(" is gone: the adapter was unplugged or the device closed");

    {
        DelayedKill killer(meter->Pid(), 300, path);
        killer.Arm();
        DialogueRunner runner;
        EXPECT_EQ(RunToEnd(runner, link.SendCommandAsync(runner, QByteArray(400, 'x'))), 0);
        ASSERT_TRUE(killer.killed);
        EXPECT_LT(MsSince(killer.timeOfKill.load()), 1000) << "the send stopped at the hang-up";
        EXPECT_TRUE(link.IsGone());
        EXPECT_FALSE(link.IsOpen());
    }

    meter = std::make_unique<FarEnd>(path, meterArgs);
    ASSERT_TRUE(meter->Start());
    StatusSink sink;
    DatalogCore core;
    core.SetSink(&sink);
    core.SetLink(&link);
    core.OnFirstShown();
    DelayedKill killer(meter->Pid(), 0, path);
    sink.at = QStringLiteral("Transferring Calib Date");
    sink.onStatus = [&killer] { killer.Arm(); };
    ASSERT_TRUE(Press(core, &DatalogCore::Update)) << "the port reopened by itself";
    sink.onStatus = nullptr;
    ASSERT_TRUE(killer.killed) << qPrintable(sink.statuses.join('|'));
    EXPECT_LT(MsSince(killer.timeOfKill.load()), 3000) << "not five attempts of waits";
    ASSERT_EQ(sink.messages.size(), 1) << qPrintable(sink.messages.join('\n'));
    EXPECT_TRUE(sink.messages.last().endsWith(QLatin1Char('|') + gone))
        << qPrintable(sink.messages.last());
    EXPECT_EQ(core.fields.status, QStringLiteral("IDLE"));
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(FarEndLossTest, ModbusNetworkGoesAwayDuringASweep)
{
    const QString path = m_dir.filePath(QStringLiteral("bus"));
    FarEnd network(
        path, { QStringLiteral("--modbus"), QStringLiteral("--addr"), QStringLiteral("1,2") });
    ASSERT_TRUE(network.Start());
    mbCSerial port(path);
    port.SetPortText(path);
    port.SetBaudText(QStringLiteral("9600"));
    port.SetParityText(QStringLiteral("1 8 EVEN 1"));
    ASSERT_EQ(port.OpenPort(), 1) << qPrintable(port.LastError());
    ModbusMaster master(&port);
    const auto read = [&master](const char *address) {
        return RunToEnd([&](DialogueRunner &r) {
            return master.ReadDynamicAsync(r, QString::fromLatin1(address));
        });
    };
    ASSERT_EQ(read("1"), 1);

    // The network dies between two meters of a sweep.
    network.Kill();
    const double cpuStart = ProcessCpuMs();
    const auto start = Clock::now();
    EXPECT_EQ(read("2"), 0);
    const long long elapsed = MsSince(start);
    const ModbusMaster::Timing timing = master.GetTiming();
    EXPECT_LT(elapsed, ModbusMaster::kAttempts * (timing.headerMs + timing.restMs) + 1500);
    EXPECT_LT(ProcessCpuMs() - cpuStart, double(elapsed) / 4 + 20) << "waiting spun the processor";
    // No reply because the port went away: the failure names it rather than the meter's silence.
    EXPECT_EQ(master.FailureText(QStringLiteral("2")).trimmed(),
        QStringLiteral("Address 2: ") + path
            + QStringLiteral(" is gone: the adapter was unplugged or the device closed"));
    EXPECT_TRUE(m_messages.empty()) << "the read leaves the message to its caller";

    // Back again under the same name: the next request opens the port by itself and polls as
    // before.
    ASSERT_TRUE(network.Start());
    EXPECT_EQ(read("2"), 1) << qPrintable(port.LastError());
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(m_messages.empty());
}

} // namespace
