// The platform device on a pseudo-terminal: names, speeds, open failures.
#include "ChildProcess.h"
#include "Printers.h"
#include "support/PtyPair.h"

#include "link/SerialDevice.h"
#include "link/SerialSpeed.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

bool Has(const std::string &text, const char *part)
{
    return text.find(part) != std::string::npos;
}

struct PortTextCase
{
    const char *text;
    const char *path;
};

void PrintTo(const PortTextCase &row, std::ostream *out)
{
    *out << '"' << row.text << '"';
}

const PortTextCase kPortTexts[] = {
    { "COM1", "/dev/ttyS0" },
    { "COM2", "/dev/ttyS1" },
    { "COM10", "/dev/ttyS9" },
    { "COM49", "/dev/ttyS48" },
    { "com3", "/dev/ttyS2" },
    { "/dev/ttyUSB0", "/dev/ttyUSB0" },
    { "/dev/serial/by-id/usb-x-if00", "/dev/serial/by-id/usb-x-if00" },
    { "COM0", "" },
    { "COM50", "" },
    { "COM01", "" },
    { "COM", "" },
    { "COM1 ", "" },
    { "ttyUSB0", "" },
    { "OFF", "" },
    { "", "" },
};

class PortTextTest : public ::testing::TestWithParam<PortTextCase>
{
};

TEST_P(PortTextTest, MapsToDevicePath)
{
    EXPECT_EQ(SerialDevice::DevicePath(GetParam().text), std::string(GetParam().path));
}

INSTANTIATE_TEST_SUITE_P(Table, PortTextTest, ::testing::ValuesIn(kPortTexts));

struct SpeedTextCase
{
    const char *text;
    int speed;
};

void PrintTo(const SpeedTextCase &row, std::ostream *out)
{
    *out << '"' << row.text << '"';
}

const SpeedTextCase kSpeedTexts[] = {
    { "9600", 9600 },
    { "115200", 115200 },
    { " 4800", 4800 },
    { "19200 baud", 19200 },
    { "+1200", 1200 },
    { "abc", 0 },
    { "", 0 },
    { "-9600", 0 },
    { "99999999999", 0 },
};

class SpeedTextTest : public ::testing::TestWithParam<SpeedTextCase>
{
};

TEST_P(SpeedTextTest, ConvertsLikeADecimalConversion)
{
    EXPECT_EQ(SerialDevice::SpeedFromText(GetParam().text), GetParam().speed);
}

INSTANTIATE_TEST_SUITE_P(Table, SpeedTextTest, ::testing::ValuesIn(kSpeedTexts));

TEST(SerialDeviceList, ListsAdaptersByKindAndNumber)
{
    QTemporaryDir dev;
    ASSERT_TRUE(dev.isValid());
    QDir(dev.path()).mkpath(QStringLiteral("serial/by-id"));
    const char *const files[] = { "ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "tty1",
        "serial/by-id/usb-Maker_Adapter_A1-if00-port0" };
    for (const char *name : files) {
        QFile file(dev.filePath(QLatin1String(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QStringList expected
        = { dev.filePath(QStringLiteral("serial/by-id/usb-Maker_Adapter_A1-if00-port0")),
              dev.filePath(QStringLiteral("ttyUSB2")), dev.filePath(QStringLiteral("ttyUSB10")),
              dev.filePath(QStringLiteral("ttyACM0")) };
    QStringList listed;
    for (const std::string &path : SerialDevice::ExistingDevices(dev.path().toStdString()))
        listed << QString::fromStdString(path);
    EXPECT_EQ(listed, expected);
}

TEST(SerialDeviceOpen, ReasonsForFailures)
{
    SerialDevice device;
    EXPECT_FALSE(device.Open("/dev/tarvik-no-such-port"));
    EXPECT_TRUE(Has(device.LastError(), "no such device")) << device.LastError();
    EXPECT_FALSE(device.Open("/dev/null"));
    EXPECT_TRUE(Has(device.LastError(), "not a serial device")) << device.LastError();
    EXPECT_FALSE(device.Open("COM77"));
    EXPECT_TRUE(Has(device.LastError(), "not a port name")) << device.LastError();
    EXPECT_FALSE(device.IsOpen());
}

// What an ordinary user hears when a port cannot be had. Played by a child process that drops
// to "nobody"; needs root to do so (root itself is never refused).
TEST(SerialDeviceOpen, OrdinaryUserIsToldWhy)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as an unprivileged user";
    PtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    const QString path = pty.SlavePath();
    const auto openAsNobody = [&path](const char *expected) {
        return ChildProcess::Run([&] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                return 3;
            SerialDevice device;
            if (device.Open(path.toStdString()))
                return 1;
            return Has(device.LastError(), expected) ? 0 : 2;
        });
    };

    ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), 0600), 0);
    EXPECT_EQ(openAsNobody("dialout"), 0) << "permission denied names the dialout group";

    ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), 0666), 0);
    SerialDevice holder;
    ASSERT_TRUE(holder.Open(path.toStdString()));
    EXPECT_EQ(openAsNobody("in use by another program"), 0) << "exclusive open (EBUSY)";
    holder.Close();
    EXPECT_EQ(openAsNobody("-"), 1) << "closing gives the port free again";
}

// Turns the calling process into an ordinary user: "nobody" when it runs as root, itself
// otherwise. False when the switch failed.
bool BecomeOrdinaryUser()
{
    if (::geteuid() != 0)
        return true;
    return ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
}

// A program holding the port dies without closing it (crash, SIGKILL) while the far end stays
// open, as the simulated meter or socat does: an ordinary user must get the port again at once,
// and while the holder lives a second program must still be kept out. Runs as an ordinary user
// even under root (root would pass the old exclusive flag and hide the fault).
TEST(SerialDeviceOpen, PortIsFreeAgainAfterItsHolderWasKilled)
{
    PtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    const QString path = pty.SlavePath();
    if (::geteuid() == 0) {
        ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), 0666), 0);
    }
    const auto openAsOrdinaryUser = [&path] {
        return ChildProcess::Run([&path] {
            if (!BecomeOrdinaryUser())
                return 3;
            SerialDevice device;
            if (device.Open(path.toStdString()))
                return 0;
            std::fprintf(stderr, "open: %s\n", device.LastError().c_str());
            return Has(device.LastError(), "in use") ? 1 : 2;
        });
    };

    for (int round = 0; round < 2; ++round) {
        ChildProcess holder([&path](ChildProcess &self) {
            SerialDevice device;
            if (BecomeOrdinaryUser() && device.Open(path.toStdString()) && device.Configure({}))
                self.Ready();
            self.WaitForFinish();
        });
        ASSERT_TRUE(holder.Started()) << "the holder could not open the port";
        EXPECT_EQ(openAsOrdinaryUser(), 1) << "a second program is kept off the held port";
        holder.Kill();
        EXPECT_EQ(openAsOrdinaryUser(), 0) << "round " << round << ": the port is free again";
    }
    // The far end still works with whoever holds the port now.
    SerialDevice device;
    ASSERT_TRUE(device.Open(path.toStdString())) << device.LastError();
    ASSERT_TRUE(device.Configure({}));
    pty.Send("ok");
    QByteArray got;
    unsigned char byte = 0;
    while (got.size() < 2 && device.WaitReadable(2000) && device.ReadNow(&byte) == 1)
        got += char(byte);
    EXPECT_EQ(got, QByteArray("ok"));
}

// The multiplexer, under either of its names, is refused with a reason and opens nothing.
TEST(SerialDeviceOpen, RefusesThePseudoTerminalMultiplexer)
{
    for (const char *name : { "/dev/ptmx", "/dev/pts/ptmx" }) {
        if (!QFile::exists(QLatin1String(name)))
            continue;
        SerialDevice device;
        EXPECT_FALSE(device.Open(name)) << name;
        EXPECT_FALSE(device.IsOpen());
        EXPECT_TRUE(Has(device.LastError(), "multiplexer is not a port")) << device.LastError();
    }
}

TEST(SerialDeviceOpen, SecondOpenOfTheSameDeviceIsRefused)
{
    PtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    SerialDevice first;
    SerialDevice second;
    ASSERT_TRUE(first.Open(pty.SlavePath().toStdString()));
    EXPECT_FALSE(second.Open(pty.SlavePath().toStdString()));
    EXPECT_TRUE(Has(second.LastError(), "in use")) << second.LastError();
    first.Close();
    EXPECT_TRUE(second.Open(pty.SlavePath().toStdString()));
}

// Speeds of the settings lists, the ones without a termios constant included.
class SpeedTest : public ::testing::TestWithParam<int>
{
};

TEST_P(SpeedTest, IsSetOnThePseudoTerminal)
{
    PtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    SerialDevice device;
    ASSERT_TRUE(device.Open(pty.SlavePath().toStdString()));
    SerialDevice::Format format;
    format.speed = GetParam();
    ASSERT_TRUE(device.Configure(format)) << device.LastError();

    const int probe = ::open(pty.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(probe, 0);
    EXPECT_EQ(SerialSpeed::ReadBack(probe), GetParam());
    ::close(probe);
}

INSTANTIATE_TEST_SUITE_P(SettingsList, SpeedTest,
    ::testing::Values(1200, 9600, 14400, 19200, 28800, 33400, 38400, 56000, 57600, 115200));

TEST(SerialDeviceConfigure, RefusesSpeedZero)
{
    PtyPair pty;
    SerialDevice device;
    ASSERT_TRUE(device.Open(pty.SlavePath().toStdString()));
    SerialDevice::Format format;
    format.speed = 0;
    EXPECT_FALSE(device.Configure(format));
    EXPECT_FALSE(device.LastError().empty());
}

TEST(SerialDeviceRead, ClosedDeviceReportsAnError)
{
    SerialDevice device;
    unsigned char byte = 0;
    EXPECT_EQ(device.ReadNow(&byte), 0);
    EXPECT_FALSE(device.Write("x", 1));
}

} // namespace
