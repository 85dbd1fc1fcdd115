// The Modbus port on a pseudo-terminal: character formats, whole-frame writes, enabled rules.
#include "Printers.h"
#include "TestPortName.h"
#include "support/PtyPair.h"
#include "support/RunToEnd.h"

#include "base/UserMessage.h"
#include "link/mbCSerial.h"

#include <gtest/gtest.h>

#include <termios.h>

namespace {

struct ParityCase
{
    const char *text;
    unsigned expectParity; // PARENB | PARODD bits after the mapping
    bool twoStopBits;
};

// Start from a device set to 7 data bits, odd parity and two stop bits, so that every bit the
// mapping should change is visibly changed, and a kept format is visibly kept.
constexpr unsigned kDeviceHas = CS7 | PARENB | PARODD | CSTOPB | CREAD;

void PrintTo(const ParityCase &row, std::ostream *out)
{
    *out << '"' << row.text << '"';
}

const ParityCase kParities[] = {
    { "1 8 NONE 1", 0, false },
    { "1 8 EVEN 1", PARENB, false },
    { "1 8 ODD 1", PARENB | PARODD, false },
    { "1 8 NONE 2", 0, true },
    { "1 8 EVEN 2", PARENB | PARODD, true }, // not in the list: the device's own
    { "1 8 none 1", PARENB | PARODD, true },
    { "", PARENB | PARODD, true },
};

class ParityTextTest : public ::testing::TestWithParam<ParityCase>
{
};

TEST_P(ParityTextTest, GivesTheTermiosFlags)
{
    const ParityCase &row = GetParam();
    const SerialDevice::Format format
        = mbCSerial::FormatFromParityText(QString::fromLatin1(row.text));
    const unsigned flags = SerialDevice::CharacterFlags(kDeviceHas, format.parity, format.stopBits);
    EXPECT_EQ(flags & CSIZE, unsigned(CS8)) << "always 8 data bits";
    EXPECT_EQ(flags & (PARENB | PARODD), row.expectParity);
    EXPECT_EQ((flags & CSTOPB) != 0, row.twoStopBits);
    EXPECT_EQ(flags & CREAD, unsigned(CREAD)) << "other flags untouched";
    EXPECT_FALSE(format.setModemLines);
}

INSTANTIATE_TEST_SUITE_P(Table, ParityTextTest, ::testing::ValuesIn(kParities));

class ModbusPortTest : public ::testing::Test
{
protected:
    void Open(const char *parity)
    {
        ASSERT_TRUE(pty.IsValid());
        port.SetPortText(pty.SlavePath());
        port.SetBaudText(QStringLiteral("19200"));
        port.SetParityText(QString::fromLatin1(parity));
        ASSERT_EQ(port.OpenPort(), 1) << qPrintable(port.LastError());
    }

    TestPortName name { "COM3" };
    PtyPair pty;
    mbCSerial port { name };
};

class ModbusFormatTest : public ::testing::TestWithParam<const char *>
{
};

TEST_P(ModbusFormatTest, OpensOnAPseudoTerminal)
{
    TestPortName name("COM4");
    PtyPair pty;
    mbCSerial port(name);
    port.SetPortText(pty.SlavePath());
    port.SetBaudText(QStringLiteral("9600"));
    port.SetParityText(QString::fromLatin1(GetParam()));
    EXPECT_EQ(port.OpenPort(), 1) << qPrintable(port.LastError());
}

INSTANTIATE_TEST_SUITE_P(ParityTexts, ModbusFormatTest,
    ::testing::Values("1 8 NONE 1", "1 8 EVEN 1", "1 8 ODD 1", "1 8 NONE 2", "something else"));

TEST_F(ModbusPortTest, WriteBytesSendsTheFrameInOneWrite)
{
    Open("1 8 EVEN 1");
    const unsigned char request[8] = { 0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD };
    FarEndRecorder far(pty.MasterFd());
    EXPECT_NE(port.WriteBytes(request, 8), 0);
    // The far end wakes on the first byte; a frame written in one request is all there then.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto chunks = far.Stop();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].bytes, QByteArray(reinterpret_cast<const char *>(request), 8));
}

TEST_F(ModbusPortTest, ReadByteTakesWhatArrived)
{
    Open("1 8 NONE 1");
    unsigned char byte = 0;
    EXPECT_EQ(port.ReadByte(&byte), 0);
    pty.Send(QByteArray("\x01\x03", 2));
    ASSERT_EQ(WaitForInput(port, 1000), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(port.PendingCount(1), 2);
    EXPECT_EQ(port.ReadByte(&byte), 1);
    EXPECT_EQ(byte, 0x01);
    port.PurgeInput();
    EXPECT_EQ(port.ReadByte(&byte), 0);
}

TEST_F(ModbusPortTest, ClosePortDisablesUntilReopened)
{
    Open("1 8 NONE 1");
    port.ClosePort();
    const unsigned char frame[2] = { 1, 3 };
    unsigned char byte = 0;
    EXPECT_EQ(port.IsEnabled(), 0);
    EXPECT_EQ(port.WriteBytes(frame, 2), 0);
    EXPECT_EQ(port.ReadByte(&byte), 0);
    port.ReopenPort();
    EXPECT_EQ(port.IsEnabled(), 1);
    EXPECT_NE(port.WriteBytes(frame, 2), 0);
    EXPECT_EQ(pty.Receive(500), QByteArray("\x01\x03", 2));
}

TEST_F(ModbusPortTest, ReopenPortFailureShowsTheModbusMessage)
{
    QStringList texts;
    QStringList captions;
    const auto previous = UserMessage::SetHandler([&](const QString &text, const QString &caption) {
        texts << text;
        captions << caption;
    });
    port.SetPortText(pty.SlavePath());
    port.SetBaudText(QStringLiteral("nine"));
    port.ReopenPort();
    UserMessage::SetHandler(previous);
    EXPECT_EQ(port.IsEnabled(), 0);
    ASSERT_EQ(texts.size(), 1);
    EXPECT_EQ(captions[0], QStringLiteral("Tarvik V2.16"));
    EXPECT_TRUE(texts[0].startsWith(
        QStringLiteral("***** Can't Open Modbus Communication port *****\n\nClick View found above "
                       "the Toolbar\n\nClick Settings and Configure Modbus Comm Port\n")));
    EXPECT_TRUE(texts[0].endsWith(port.LastError()));
    EXPECT_FALSE(port.LastError().isEmpty());
}

} // namespace
