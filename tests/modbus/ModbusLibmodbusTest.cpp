// The master against libmodbus: its CRC on frames libmodbus builds, and whole transactions
// with a libmodbus RTU slave on the far end of a pseudo-terminal pair.
#include "ModbusFrames.h"
#include "SocatPair.h"
#include "support/RunToEnd.h"

#include "base/UserMessage.h"
#include "link/mbCSerial.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusPoller.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <modbus.h>

#include <atomic>
#include <fcntl.h>
#include <random>
#include <thread>
#include <unistd.h>

using namespace ModbusFrames;

TEST(ModbusLibmodbus, CrcAgreesWithLibmodbusFrames)
{
    SocatPair pair;
    ASSERT_TRUE(pair.Ok());
    modbus_t *ctx = modbus_new_rtu(pair.SlavePath().toLocal8Bit().constData(), 9600, 'E', 8, 1);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
    const int reader = ::open(pair.MasterPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(reader, 0);

    QList<QByteArray> frames = {
        QByteArray::fromHex("010300000006"),
        QByteArray::fromHex("01030006000a"),
        QByteArray::fromHex("f7030006000a"),
        QByteArray::fromHex("01030c41e4000047435000428c6666"),
    };
    std::mt19937 random(7);
    for (int length : { 2, 3, 17, 64, 128, 200, 254 }) {
        QByteArray frame;
        for (int i = 0; i < length; ++i)
            frame.append(char(random() & 0xFF));
        frames.append(frame);
    }
    for (const QByteArray &frame : frames) {
        ASSERT_EQ(modbus_send_raw_request(
                      ctx, reinterpret_cast<const uint8_t *>(frame.constData()), int(frame.size())),
            int(frame.size()) + 2);
        const QByteArray wire = SocatPair::ReadCount(reader, int(frame.size()) + 2, 5000);
        ASSERT_EQ(wire.size(), frame.size() + 2);
        EXPECT_EQ(wire.left(frame.size()), frame);
        EXPECT_EQ(WithCrc(frame).toHex(), wire.toHex()) << frame.size() << " bytes";
    }
    ::close(reader);
    modbus_close(ctx);
    modbus_free(ctx);
}

namespace {

// A libmodbus RTU slave serving the network window's register map on its own thread.
class LibmodbusSlave
{
public:
    LibmodbusSlave(const QString &path, int address)
    {
        m_ctx = modbus_new_rtu(path.toLocal8Bit().constData(), 9600, 'E', 8, 1);
        m_map = modbus_mapping_new(0, 0, 16, 0);
        if (!m_ctx || !m_map || modbus_connect(m_ctx) != 0)
            return;
        modbus_set_slave(m_ctx, address);
        modbus_set_indication_timeout(m_ctx, 0, 50000);
        // Registers packed by hand: high register first, high byte first.
        const QByteArray bytes = DynamicData(28.5f, 50000.25f, -0.2f)
            + StaticData(20261207, "SCFM", "SCF ", 1000.0f, 500.0f);
        for (int r = 0; r < 16; ++r)
            m_map->tab_registers[r]
                = uint16_t((uchar(bytes[2 * r]) << 8) | uchar(bytes[2 * r + 1]));
        m_ok = true;
        m_thread = std::thread([this] { Run(); });
    }
    ~LibmodbusSlave()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_ctx) {
            modbus_close(m_ctx);
            modbus_free(m_ctx);
        }
        if (m_map)
            modbus_mapping_free(m_map);
    }
    bool Ok() const { return m_ok; }
    int Served() const { return m_served; }

private:
    void Run()
    {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!m_stop) {
            const int n = modbus_receive(m_ctx, query);
            if (n > 0) {
                modbus_reply(m_ctx, query, n, m_map);
                ++m_served;
            }
        }
    }

    modbus_t *m_ctx = nullptr;
    modbus_mapping_t *m_map = nullptr;
    bool m_ok = false;
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_served { 0 };
    std::thread m_thread;
};

} // namespace

TEST(ModbusLibmodbus, MasterReadsALibmodbusSlave)
{
    QStringList messages;
    const auto old = UserMessage::SetHandler(
        [&messages](const QString &text, const QString &) { messages.append(text); });
    {
        SocatPair pair;
        ASSERT_TRUE(pair.Ok());
        LibmodbusSlave slave(pair.SlavePath(), 17);
        ASSERT_TRUE(slave.Ok());
        auto port = pair.OpenModbusPort();
        ASSERT_TRUE(port);
        ModbusMaster master(port.get());

        // One sweep of the program's poller over the one address: its read's result.
        const auto read = [&master](const char *address, bool dynamic) {
            ModbusPoller poller(master, 1);
            int ok = -1;
            ModbusPoller::Hooks hooks;
            hooks.address = [address](int) { return QString::fromLatin1(address); };
            hooks.result = [&ok](const ModbusPoller::Result &r) { ok = r.ok; };
            poller.SetHooks(hooks);
            poller.SetSettings({ dynamic, 1, 0, false, true });
            RunToEnd([&](DialogueRunner &r) { return poller.Run(r); });
            return ok;
        };
        EXPECT_EQ(read("17", true), 1);
        EXPECT_EQ(master.FlowText(), QStringLiteral("28.500000"));
        EXPECT_EQ(master.TotalizerText(), QStringLiteral("50000.25"));
        EXPECT_EQ(master.TemperatureText(), QStringLiteral(" 0.0"));

        EXPECT_EQ(read("17", false), 1);
        EXPECT_EQ(master.SerialNumberText(), QStringLiteral("20261207"));
        EXPECT_EQ(master.FlowUnitsText(), QStringLiteral("SCFM"));
        EXPECT_EQ(master.TotalizerUnitsText(), QStringLiteral("SCF "));
        EXPECT_EQ(master.MaxRangeText(), QStringLiteral("1000.000000"));
        EXPECT_EQ(master.FullScaleText(), QStringLiteral("500.000000"));
        EXPECT_TRUE(messages.isEmpty());

        // libmodbus ignores requests for other addresses, as a slave on a shared line must.
        master.SetTiming({ 150, 100 });
        EXPECT_EQ(read("18", true), 0);
        EXPECT_EQ(master.FailureText(QStringLiteral("18")),
            QStringLiteral("Address 18: Response Timed Out   "));
        EXPECT_TRUE(messages.isEmpty()) << "the read leaves the message to its caller";
        EXPECT_EQ(slave.Served(), 2);
    }
    UserMessage::SetHandler(old);
}
