// tarvik-metersim --modbus read by an independent master (mbpoll) and by ours, on its
// pseudo-terminal and as a Modbus TCP gateway (--modbus-tcp).
#include "ModbusFrames.h"
#include "SimProcess.h"
#include "support/RunToEnd.h"
#include "support/TestEnv.h"

#include "base/UserMessage.h"
#include "link/mbCSerial.h"
#include "modbus/ModbusMaster.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <poll.h>

namespace {

// Runs mbpoll once at 9600 8E1 (or over Modbus TCP for a modbus-tcp:// path) and returns the
// values it printed, by reference number.
QMap<int, QString> MbPoll(
    const QString &path, int address, const QString &type, int reference, int count)
{
    const bool tcp = path.startsWith(QLatin1String("modbus-tcp://"));
    const QStringList where = tcp
        ? QStringList { "-m", "tcp", "-p", path.section(QLatin1Char(':'), -1), "127.0.0.1" }
        : QStringList { "-m", "rtu", "-b", "9600", "-P", "even", path };
    QProcess mbpoll;
    mbpoll.start(QStringLiteral("mbpoll"),
        QStringList { QStringLiteral("-a"), QString::number(address), QStringLiteral("-t"), type,
            QStringLiteral("-B"), QStringLiteral("-r"), QString::number(reference),
            QStringLiteral("-c"), QString::number(count), QStringLiteral("-1"),
            QStringLiteral("-o"), QStringLiteral("0.5") }
            + where);
    mbpoll.waitForFinished(10000);
    QMap<int, QString> values;
    const QString out = QString::fromLocal8Bit(mbpoll.readAllStandardOutput());
    static const QRegularExpression line(
        QStringLiteral("^\\[(\\d+)\\]:\\s+(\\S+)"), QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(out); it.hasNext();) {
        const auto match = it.next();
        values.insert(match.captured(1).toInt(), match.captured(2));
    }
    return values;
}

// User plus system CPU time of a process in clock ticks, from /proc; -1 when unknown.
long CpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name in parentheses: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return fields[11].toLong() + fields[12].toLong();
}

std::unique_ptr<mbCSerial> OpenPort(const QString &path)
{
    auto port = std::make_unique<mbCSerial>(path);
    port->SetPortText(path);
    port->SetBaudText(QStringLiteral("9600"));
    port->SetParityText(QStringLiteral("1 8 EVEN 1"));
    if (!port->OpenPort())
        return nullptr;
    return port;
}

} // namespace

TEST(ModbusSim, MbpollReadsBothBlocks)
{
    for (const bool tcp : { false, true }) {
        SCOPED_TRACE(tcp ? "Modbus TCP" : "pseudo-terminal");
        SimProcess sim(tcp ? QStringList { "--addr", "1,2,3", "--modbus-tcp", "0" }
                           : QStringList { "--addr", "1,2,3" });
        ASSERT_TRUE(sim.Ok());
        EXPECT_EQ(sim.Path().startsWith(QLatin1String("modbus-tcp://127.0.0.1:")), tcp);
        const auto dynamic = MbPoll(sim.Path(), 2, QStringLiteral("4:float"), 1, 3);
        ASSERT_EQ(dynamic.size(), 3);
        const double flow = dynamic.value(1).toDouble();
        EXPECT_GE(flow, 50 * 0.84); // 25 x address, within 15 %
        EXPECT_LE(flow, 50 * 1.16);
        EXPECT_GE(dynamic.value(3).toDouble(), 5.0); // address 2's totalizer starts at 5
        EXPECT_GE(dynamic.value(5).toDouble(), 63.9);
        EXPECT_LE(dynamic.value(5).toDouble(), 72.1);

        EXPECT_EQ(MbPoll(sim.Path(), 3, QStringLiteral("4:int"), 7, 1).value(7),
            QStringLiteral("20260003"));
        const auto units = MbPoll(sim.Path(), 3, QStringLiteral("4:hex"), 9, 4);
        EXPECT_EQ(units.values(),
            (QStringList { "0x5343", "0x464D", "0x5343", "0x4620" })); // "SCFM", "SCF "
        const auto ranges = MbPoll(sim.Path(), 3, QStringLiteral("4:float"), 13, 2);
        EXPECT_EQ(ranges.value(13).toDouble(), 3000.0);
        EXPECT_EQ(ranges.value(15).toDouble(), 1500.0);

        // Another address: silence; a register past the map: no values.
        EXPECT_TRUE(MbPoll(sim.Path(), 4, QStringLiteral("4"), 1, 1).isEmpty());
        EXPECT_TRUE(MbPoll(sim.Path(), 1, QStringLiteral("4"), 15, 4).isEmpty());
        EXPECT_TRUE(sim.Stop());
    }
}

TEST(ModbusSim, OurMasterAndTheFaultSwitches)
{
    SimProcess sim({ QStringLiteral("--addr"), QStringLiteral("1,2,3,4,5,6"),
        QStringLiteral("--silent"), QStringLiteral("3"), QStringLiteral("--badcrc"),
        QStringLiteral("4"), QStringLiteral("--late"), QStringLiteral("5:300,6:1700") });
    ASSERT_TRUE(sim.Ok());
    auto port = OpenPort(sim.Path());
    ASSERT_TRUE(port);
    QStringList messages;
    const auto old = UserMessage::SetHandler(
        [&messages](const QString &text, const QString &) { messages.append(text); });
    ModbusMaster master(port.get());

    struct Row
    {
        const char *address;
        int result;
        const char *message;
    };
    // The failure's text, which the window shows after the read; the read itself shows nothing.
    const Row rows[] = {
        { "1", 1, nullptr },
        { "2", 1, nullptr },
        { "3", 0, "Address 3: Response Timed Out   " },
        { "4", 0, "Address 4: CRC Error   " },
        { "5", 1, nullptr }, // 300 ms late is within the header limit
        { "9", 0, "Address 9: Response Timed Out   " },
        // Later than three header limits: every attempt times out. (A reply later than one
        // limit but within the next attempt's would be taken, as on a real line.)
        { "6", 0, "Address 6: Response Timed Out   " },
    };
    for (const Row &row : rows) {
        messages.clear();
        const QString address = QString::fromLatin1(row.address);
        EXPECT_EQ(RunToEnd([&](DialogueRunner &r) { return master.ReadDynamicAsync(r, address); }),
            row.result)
            << row.address;
        if (row.message) {
            EXPECT_EQ(master.FailureText(address), QString::fromLatin1(row.message));
        }
        EXPECT_TRUE(messages.isEmpty()) << row.address;
    }
    EXPECT_EQ(
        RunToEnd([&](DialogueRunner &r) { return master.ReadStaticAsync(r, QStringLiteral("2")); }),
        1);
    EXPECT_EQ(master.SerialNumberText(), QStringLiteral("20260002"));
    EXPECT_EQ(master.FlowUnitsText(), QStringLiteral("SCFM"));
    EXPECT_EQ(master.TotalizerUnitsText(), QStringLiteral("SCF "));
    EXPECT_EQ(master.MaxRangeText(), QStringLiteral("2000.000000"));
    EXPECT_EQ(master.FullScaleText(), QStringLiteral("1000.000000"));
    UserMessage::SetHandler(old);
    EXPECT_TRUE(sim.Stop());
}

TEST(ModbusSim, IdleWithTheFarEndClosedDoesNotSpin)
{
    SimProcess sim({});
    ASSERT_TRUE(sim.Ok());
    {
        auto port = OpenPort(sim.Path());
        ASSERT_TRUE(port);
    } // closed again: the simulator sees a hung-up line
    const long before = CpuTicks(sim.Pid());
    ::poll(nullptr, 0, 1000);
    const long after = CpuTicks(sim.Pid());
    ASSERT_GE(before, 0);
    // A spinning loop would burn about 100 ticks in that second.
    EXPECT_LE(after - before, 10);
    EXPECT_TRUE(sim.Stop());
}

TEST(ModbusSim, LinkNamesThePtyUntilTheSimulatorEnds)
{
    const QString link = QDir::currentPath() + QStringLiteral("/modbus-link");
    SimProcess sim(
        { QStringLiteral("--addr"), QStringLiteral("7"), QStringLiteral("--link"), link });
    ASSERT_TRUE(sim.Ok());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), sim.Path());
    auto port = OpenPort(link);
    ASSERT_TRUE(port);
    ModbusMaster master(port.get());
    EXPECT_EQ(
        RunToEnd([&](DialogueRunner &r) { return master.ReadStaticAsync(r, QStringLiteral("7")); }),
        1);
    EXPECT_TRUE(sim.Stop()); // SIGTERM: exit code 0, link removed
    EXPECT_FALSE(QFileInfo::exists(link));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}

TEST(ModbusSim, BadCommandLinesAreRefused)
{
    const QStringList rows[] = {
        { "--addr", "0" },
        { "--addr", "1,x" },
        { "--silent", "4" },
        { "--late", "1:abc" },
        { "--baud" },
        { "--frobnicate", "1" },
    };
    for (const QStringList &row : rows) {
        QProcess sim;
        sim.start(TestEnv::MeterSimPath(), QStringList { QStringLiteral("--modbus") } + row);
        ASSERT_TRUE(sim.waitForFinished(5000)) << qPrintable(row.join(' '));
        EXPECT_EQ(sim.exitCode(), 2) << qPrintable(row.join(' '));
        EXPECT_TRUE(sim.readAllStandardOutput().isEmpty());
    }
    // Its help, wherever --help stands, on standard output with status 0.
    for (const QStringList &row :
        { QStringList { "--modbus", "--help" }, { "--help", "--modbus" } }) {
        QProcess sim;
        sim.start(TestEnv::MeterSimPath(), row);
        ASSERT_TRUE(sim.waitForFinished(5000));
        EXPECT_EQ(sim.exitCode(), 0);
        EXPECT_TRUE(
            sim.readAllStandardOutput().contains("--badcrc A,...     addresses whose replies"));
    }
}
