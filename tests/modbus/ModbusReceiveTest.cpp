// Reception and transactions of the master on a pseudo-terminal pair, against raw bytes and a
// scripted slave.
#include "ModbusFrames.h"
#include "ScriptedSlave.h"
#include "SocatPair.h"
#include "support/RunToEnd.h"
#include "support/TestEnv.h"

#include "base/UserMessage.h"
#include "link/mbCSerial.h"
#include "modbus/ModbusMaster.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <poll.h>
#include <random>
#include <unistd.h>

using namespace ModbusFrames;

namespace {

// Records the messages shown while it lives.
class MessageLog
{
public:
    MessageLog()
    {
        m_old = UserMessage::SetHandler([this](const QString &text, const QString &caption) {
            texts.append(text);
            captions.append(caption);
        });
    }
    ~MessageLog() { UserMessage::SetHandler(m_old); }
    QStringList texts;
    QStringList captions;

private:
    UserMessage::Handler m_old;
};

// Short limits keep the failing cases quick; the structure (header, rest) is what is tested.
// Long enough for the relay's process to be scheduled on a busy machine.
constexpr ModbusMaster::Timing kFast { 300, 200 };

class ModbusReceive : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pair.Ok());
        m_port = m_pair.OpenModbusPort();
        ASSERT_TRUE(m_port) << "cannot open " << qPrintable(m_pair.MasterPath());
        m_slave = m_pair.OpenSlaveRaw();
        ASSERT_GE(m_slave, 0);
        m_master.SetPort(m_port.get());
        m_master.SetTiming(kFast);
    }
    void TearDown() override
    {
        if (m_slave >= 0)
            ::close(m_slave);
    }

    // Sends the dynamic request for address 1, checks it arrived, then lets the "slave"
    // write reply and receives it as a dialogue on a runner.
    int RequestAndReceive(const QByteArray &reply)
    {
        m_master.Frame()[0] = 1;
        EXPECT_EQ(m_master.SendDynamicRequest(), 1);
        EXPECT_EQ(SocatPair::ReadCount(m_slave, 8, 3000).toHex(), QByteArray("010300000006c5c8"));
        if (!reply.isEmpty())
            SocatPair::WriteAll(m_slave, reply);
        return RunToEnd([this](DialogueRunner &r) { return m_master.ReceiveResponseAsync(r); });
    }

    // One dynamic or static transaction for address as the program runs it.
    int Read(const QString &address, bool dynamic = true)
    {
        return RunToEnd([&](DialogueRunner &r) {
            return dynamic ? m_master.ReadDynamicAsync(r, address)
                           : m_master.ReadStaticAsync(r, address);
        });
    }

    SocatPair m_pair;
    std::unique_ptr<mbCSerial> m_port;
    int m_slave = -1;
    ModbusMaster m_master;
};

} // namespace

TEST_F(ModbusReceive, GoodFrameIsAccepted)
{
    const QByteArray reply = Reply(1, DynamicData(12.5f, 0.5f, 70.0f));
    ASSERT_EQ(reply.left(3).toHex(), QByteArray("01030c"));
    EXPECT_EQ(RequestAndReceive(reply), 1);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(m_master.Frame()), 17), reply);
}

TEST_F(ModbusReceive, FailedReceptionsSayWhy)
{
    const QByteArray good = Reply(1, DynamicData(12.5f, 0.5f, 70.0f));
    QByteArray changed = good;
    changed[5] = char(changed[5] ^ 0x01);
    QByteArray longCount = QByteArray::fromHex("0103fc") + QByteArray(300, '\x55');
    QByteArray fits = QByteArray::fromHex("0103fb") + QByteArray(253, '\x55');
    struct Row
    {
        const char *name;
        QByteArray reply;
        int kind;
        int detail;
    };
    const Row rows[] = {
        { "silence", {}, ModbusMaster::TimedOut, 0 },
        { "two header bytes", good.left(2), ModbusMaster::TimedOut, 0 },
        { "cut short", good.left(10), ModbusMaster::TimedOut, 0 },
        { "data byte changed", changed, ModbusMaster::CrcMismatch, 0 },
        { "another address", Reply(9, DynamicData(1, 2, 3)), ModbusMaster::WrongAddress, 9 },
        { "exception", WithCrc(QByteArray::fromHex("018302")), ModbusMaster::ExceptionReply, 2 },
        { "exception, bad CRC", QByteArray::fromHex("0183020000"), ModbusMaster::CrcMismatch, 0 },
        { "exception cut short", QByteArray::fromHex("018302"), ModbusMaster::TimedOut, 0 },
        { "another function", WithCrc(QByteArray::fromHex("010400")), ModbusMaster::WrongFunction,
            4 },
        { "static-size reply", Reply(1, QByteArray(20, '\0')), ModbusMaster::WrongByteCount, 20 },
        { "count past the buffer", longCount, ModbusMaster::WrongByteCount, 252 },
        { "count 255", QByteArray::fromHex("0103ff") + QByteArray(300, '\0'),
            ModbusMaster::WrongByteCount, 255 },
        { "largest count that fits", fits, ModbusMaster::CrcMismatch, 0 },
        { "noise", QByteArray::fromHex("ffff00aa55"), ModbusMaster::WrongAddress, 255 },
    };
    for (const Row &row : rows) {
        EXPECT_EQ(RequestAndReceive(row.reply), 0) << row.name;
        EXPECT_EQ(m_master.LastErrorKind(), row.kind) << row.name;
        EXPECT_EQ(m_master.LastErrorDetail(), row.detail) << row.name;
        m_port->PurgeInput();
        SocatPair::ReadFor(m_slave, 20);
    }
}

TEST_F(ModbusReceive, BytesBeyondTheAnnouncedFrameAreLeftAlone)
{
    const QByteArray reply = Reply(1, DynamicData(1, 2, 3)) + QByteArray(40, '\x7e');
    EXPECT_EQ(RequestAndReceive(reply), 1);
    // Nothing past the 17 bytes was taken into the frame.
    for (int i = 17; i < ModbusMaster::kFrameSize; ++i)
        ASSERT_EQ(m_master.Frame()[i], 0) << i;
}

// A transaction sends its request up to three times and gets the reply's decoding or the reason
// it failed; it shows nothing itself and leaves the message to its caller.
TEST_F(ModbusReceive, TransactionsAndTheirFailureTexts)
{
    const QByteArray good = Reply(1, DynamicData(28.5f, 50000.25f, -0.2f));
    QByteArray changed = good;
    changed[6] = char(changed[6] ^ 0x10);
    struct Row
    {
        const char *name;
        QString address;
        QByteArray reply;
        int result;
        int requests;
        QString failure;
    };
    const Row rows[] = {
        { "good", "1", good, 1, 1, {} },
        { "data byte changed", "1", changed, 0, 3, "Address 1: CRC Error   " },
        { "silence", "5", {}, 0, 3, "Address 5: Response Timed Out   " },
        { "exception", "1", WithCrc(QByteArray::fromHex("018302")), 0, 3,
            "Address 1: Exception Response, Code 2   " },
        { "other address", "1", Reply(9, DynamicData(1, 2, 3)), 0, 3,
            "Address 1: Reply From Address 9   " },
    };
    for (const Row &row : rows) {
        MessageLog log;
        int result = -1;
        QList<QByteArray> requests;
        {
            ScriptedSlave slave(m_slave, [&row](const QByteArray &, int) { return row.reply; });
            result = Read(row.address);
            requests = slave.Requests();
        }
        EXPECT_EQ(result, row.result) << row.name;
        EXPECT_EQ(requests.size(), row.requests) << row.name;
        for (const QByteArray &request : requests)
            EXPECT_EQ(request.toHex(),
                WithCrc(
                    QByteArray(1, char(row.address.toInt())) + QByteArray::fromHex("0300000006"))
                    .toHex())
                << row.name;
        EXPECT_TRUE(log.texts.isEmpty()) << row.name;
        if (!row.result) {
            EXPECT_EQ(m_master.FailureText(row.address), row.failure) << row.name;
        }
    }
    EXPECT_EQ(m_master.FlowText(), QStringLiteral("28.500000"));
    EXPECT_EQ(m_master.TotalizerText(), QStringLiteral("50000.25"));
    EXPECT_EQ(m_master.TemperatureText(), QStringLiteral(" 0.0"));
}

TEST_F(ModbusReceive, RetrySucceedsAfterOneBadReply)
{
    MessageLog log;
    const QByteArray good = Reply(7, StaticData(4711, "SCFM", "SCF ", 1000.0f, 500.0f));
    ScriptedSlave slave(m_slave, [&good](const QByteArray &, int index) {
        return index == 0 ? QByteArray::fromHex("070300") : good;
    });
    EXPECT_EQ(Read(QStringLiteral("7"), false), 1);
    EXPECT_EQ(slave.Requests().size(), 2);
    EXPECT_EQ(
        slave.Requests().value(1).toHex(), WithCrc(QByteArray::fromHex("07030006000a")).toHex());
    EXPECT_TRUE(log.texts.isEmpty());
    EXPECT_EQ(m_master.SerialNumberText(), QStringLiteral("4711"));
    EXPECT_EQ(m_master.FullScaleText(), QStringLiteral("500.000000"));
}

TEST_F(ModbusReceive, BytesBeforeTheRequestArePurged)
{
    MessageLog log;
    // A stale reply and noise sit in the receive queue before the transaction starts (the relay
    // may take its time on a busy machine: wait until all of it is there).
    const QByteArray stale = Reply(1, DynamicData(99, 99, 99)) + QByteArray::fromHex("a5a5");
    SocatPair::WriteAll(m_slave, stale);
    ASSERT_TRUE(
        TestEnv::WaitUntil([this, &stale] { return m_port->PendingCount(1) >= stale.size(); }));
    const QByteArray good = Reply(1, DynamicData(3.25f, 12.5f, 68.5f));
    ScriptedSlave slave(m_slave, [&good](const QByteArray &, int) { return good; });
    EXPECT_EQ(Read(QStringLiteral("1")), 1);
    EXPECT_EQ(m_master.FlowText(), QStringLiteral("3.250000"));
    EXPECT_EQ(slave.Requests().size(), 1);
}

TEST_F(ModbusReceive, RandomRepliesNeverOverrunOrHang)
{
    MessageLog log;
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 300);
    m_master.SetTiming({ 40, 40 });
    for (int round = 0; round < 60; ++round) {
        QByteArray reply;
        const int n = length(random);
        for (int i = 0; i < n; ++i)
            reply.append(char(byte(random)));
        if (round % 3 == 0 && reply.size() >= 3) {
            reply[0] = 1; // let some reach the byte count
            reply[1] = 3;
        }
        const int result = RequestAndReceive(reply);
        if (result) {
            // Accepted only a frame whose CRC holds and whose count is the dynamic block's.
            EXPECT_EQ(m_master.Frame()[2], 12);
            const unsigned short crc = ModbusMaster::Crc16(m_master.Frame(), 15);
            EXPECT_EQ(m_master.Frame()[15], crc & 0xFF);
        }
        m_port->PurgeInput();
        SocatPair::ReadFor(m_slave, 5);
    }
}

TEST_F(ModbusReceive, TailOfAForeignReplyDoesNotSpoilTheRetry)
{
    MessageLog log;
    const QByteArray foreign = Reply(9, QByteArray(20, '\x11'));
    const QByteArray good = Reply(1, DynamicData(1.5f, 2.5f, 3.5f));
    const int fd = m_slave;
    // Limits a busy machine's relay cannot pass, so that only the foreign reply costs a retry:
    // its tail, a little behind its header, comes well within the quiet time even when the relay
    // or this slave is scheduled late.
    m_master.SetTiming({ 1500, 1000, ModbusMaster::kAttempts, 400 });
    ScriptedSlave slave(m_slave, [&](const QByteArray &, int index) {
        if (index > 0)
            return good;
        // The foreign reply's header first, its tail a little later.
        SocatPair::WriteAll(fd, foreign.left(3));
        ::poll(nullptr, 0, 8);
        SocatPair::WriteAll(fd, foreign.mid(3));
        return QByteArray();
    });
    EXPECT_EQ(Read(QStringLiteral("1")), 1);
    EXPECT_TRUE(log.texts.isEmpty()) << qPrintable(log.texts.join('|'));
    EXPECT_EQ(slave.Requests().size(), 2);
    EXPECT_EQ(m_master.FlowText(), QStringLiteral("1.500000"));
}
