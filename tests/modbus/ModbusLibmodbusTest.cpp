// The master against libmodbus: its CRC on frames libmodbus builds, whole transactions with a
// libmodbus RTU slave on the far end of a pseudo-terminal pair and with a libmodbus Modbus TCP
// server, and the MBAP replies a Modbus TCP master must refuse.
#include "ModbusFrames.h"
#include "ScriptedSlave.h"
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

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

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

namespace {

// The network window's register map behind libmodbus's Modbus TCP server on 127.0.0.1 (a free
// port), one connection at a time, on its own thread.
class LibmodbusTcpServer
{
public:
    LibmodbusTcpServer()
    {
        m_ctx = modbus_new_tcp("127.0.0.1", 0);
        m_map = modbus_mapping_new(0, 0, 16, 0);
        if (!m_ctx || !m_map)
            return;
        m_listener = modbus_tcp_listen(m_ctx, 2);
        sockaddr_in address {};
        socklen_t size = sizeof address;
        if (m_listener < 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            return;
        m_port = ntohs(address.sin_port);
        modbus_set_indication_timeout(m_ctx, 0, 50000);
        const QByteArray bytes = DynamicData(28.5f, 50000.25f, -0.2f)
            + StaticData(20261207, "SCFM", "SCF ", 1000.0f, 500.0f);
        for (int r = 0; r < 16; ++r)
            m_map->tab_registers[r]
                = uint16_t((uchar(bytes[2 * r]) << 8) | uchar(bytes[2 * r + 1]));
        m_thread = std::thread([this] { Run(); });
    }
    ~LibmodbusTcpServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listener >= 0)
            ::close(m_listener);
        if (m_ctx) {
            modbus_close(m_ctx);
            modbus_free(m_ctx);
        }
        if (m_map)
            modbus_mapping_free(m_map);
    }
    int Port() const { return m_port; }
    int Served() const { return m_served; }

private:
    void Run()
    {
        uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
        while (!m_stop) {
            pollfd watch = { m_listener, POLLIN, 0 };
            if (::poll(&watch, 1, 50) <= 0)
                continue;
            int listener = m_listener;
            if (modbus_tcp_accept(m_ctx, &listener) < 0)
                continue;
            while (!m_stop) {
                const int n = modbus_receive(m_ctx, query);
                if (n > 0) {
                    modbus_reply(m_ctx, query, n, m_map);
                    ++m_served;
                } else if (n < 0 && errno != ETIMEDOUT) {
                    break; // the master closed the connection
                }
            }
            modbus_close(m_ctx);
        }
    }

    modbus_t *m_ctx = nullptr;
    modbus_mapping_t *m_map = nullptr;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_served { 0 };
    std::thread m_thread;
};

std::unique_ptr<mbCSerial> ModbusTcpPort(int port)
{
    const QString text = QStringLiteral("modbus-tcp://127.0.0.1:%1").arg(port);
    auto serial = std::make_unique<mbCSerial>(text);
    serial->SetPortText(text);
    serial->SetBaudText(QStringLiteral("9600"));
    return serial->OpenPort() ? std::move(serial) : nullptr;
}

} // namespace

TEST(ModbusLibmodbus, MasterReadsALibmodbusTcpServer)
{
    LibmodbusTcpServer server;
    ASSERT_GT(server.Port(), 0);
    auto port = ModbusTcpPort(server.Port());
    ASSERT_TRUE(port);
    EXPECT_TRUE(port->IsModbusTcp());
    ModbusMaster master(port.get());
    const auto read = [&master](bool dynamic) {
        return RunToEnd([&](DialogueRunner &r) {
            return dynamic ? master.ReadDynamicAsync(r, QStringLiteral("17"))
                           : master.ReadStaticAsync(r, QStringLiteral("17"));
        });
    };
    ASSERT_EQ(read(true), 1) << qPrintable(master.FailureText(QStringLiteral("17")));
    // MBAP header (transaction 1, protocol 0, 6 bytes follow, unit 17) and the PDU, no CRC.
    EXPECT_EQ(master.LastTcpRequest().toHex(), QByteArray("000100000006110300000006"));
    EXPECT_EQ(master.FlowText(), QStringLiteral("28.500000"));
    EXPECT_EQ(master.TotalizerText(), QStringLiteral("50000.25"));
    ASSERT_EQ(read(false), 1);
    EXPECT_EQ(master.LastTcpRequest().toHex(), QByteArray("00020000000611030006000a"));
    EXPECT_EQ(master.SerialNumberText(), QStringLiteral("20261207"));
    EXPECT_EQ(master.TotalizerUnitsText(), QStringLiteral("SCF "));
    EXPECT_EQ(master.FullScaleText(), QStringLiteral("500.000000"));
    EXPECT_EQ(server.Served(), 2);
}

TEST(ModbusLibmodbus, TcpRepliesToAnotherRequestOrUnitAreRefused)
{
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 2), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size);
    auto port = ModbusTcpPort(ntohs(address.sin_port));
    ASSERT_TRUE(port);
    const int peer = ::accept(listener, nullptr, nullptr); // the kernel made the connection
    ASSERT_GE(peer, 0);

    // Each row's reply, built from the request's own MBAP header.
    const QByteArray good = DynamicData(12.5f, 0.5f, 70.0f);
    struct Row
    {
        const char *name;
        std::function<QByteArray(const QByteArray &request)> reply;
        int result;
        QString said; // a part of the failure's text, or the flow read
    };
    const auto mbap = [](const QByteArray &request, int length, int unit) {
        return request.left(4) + char(length >> 8) + char(length & 0xFF) + char(unit);
    };
    const Row rows[] = {
        { "good", [&](const QByteArray &q) { return mbap(q, 15, 5) + "\x03\x0c" + good; }, 1,
            "12.500000" },
        { "other transaction",
            [&](const QByteArray &q) {
                QByteArray r = mbap(q, 15, 5) + "\x03\x0c" + good;
                r[1] = char(r[1] ^ 0x40);
                return r;
            },
            0, "Reply With Transaction Id" },
        { "a stale reply, then this one",
            [&](const QByteArray &q) {
                QByteArray stale = mbap(q, 15, 5) + "\x03\x0c" + good;
                stale[1] = char(stale[1] ^ 0x40);
                return stale + mbap(q, 15, 5) + "\x03\x0c" + DynamicData(7.5f, 0.5f, 70.0f);
            },
            1, "7.500000" },
        { "other unit", [&](const QByteArray &q) { return mbap(q, 15, 6) + "\x03\x0c" + good; }, 0,
            "Address 5: Reply From Unit 6   " },
        { "exception",
            [&](const QByteArray &q) { return mbap(q, 3, 5) + QByteArray::fromHex("8302"); }, 0,
            "Address 5: Exception Response, Code 2   " },
        { "length off by one",
            [&](const QByteArray &q) { return mbap(q, 16, 5) + "\x03\x0c" + good; }, 0,
            "Address 5: Reply With A Bad MBAP Header   " },
        { "protocol 1",
            [&](const QByteArray &q) {
                QByteArray r = mbap(q, 15, 5) + "\x03\x0c" + good;
                r[3] = 1;
                return r;
            },
            0, "Address 5: Reply With A Bad MBAP Header   " },
    };
    const Row *current = nullptr;
    ScriptedSlave slave(
        peer, [&current](const QByteArray &request, int) { return current->reply(request); }, 12);
    ModbusMaster master(port.get());
    master.SetTiming({ 300, 200 });
    int requests = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        current = &row;
        EXPECT_EQ(RunToEnd([&](DialogueRunner &r) {
            return master.ReadDynamicAsync(r, QStringLiteral("5"));
        }),
            row.result);
        requests += row.result ? 1 : ModbusMaster::kAttempts;
        if (!row.result)
            EXPECT_TRUE(master.FailureText(QStringLiteral("5")).contains(row.said))
                << qPrintable(master.FailureText(QStringLiteral("5")));
        else
            EXPECT_EQ(master.FlowText(), row.said);
    }
    // Every attempt had a transaction id of its own.
    const QList<QByteArray> seen = slave.Requests();
    ASSERT_EQ(seen.size(), requests);
    for (int i = 0; i < int(seen.size()); ++i)
        EXPECT_EQ(seen[i].left(2).toHex(), QByteArray::number(i + 1, 16).rightJustified(4, '0'));
    ::close(peer);
    ::close(listener);
}
