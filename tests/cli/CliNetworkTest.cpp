// tarvik-cli over network ports, against the real components: ser2net's raw and telnet
// (RFC 2217) accepters in front of the simulator's pseudo-terminal, and the simulator's own raw
// TCP port. Each dialogue gives what it gives on the pseudo-terminal; a refused port, a server
// that never answers and a connection dropped mid-read and mid-send are said with their status.
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <thread>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct NetRun
{
    int status = -1;
    QString out, err;
};

NetRun NetCli(const QStringList &args)
{
    QProcess process;
    // --pace is for the commands that send to a meter at the link's pace: the Modbus master
    // keeps the protocol's timing, and the file commands use no link.
    const bool paced
        = args.contains(QStringLiteral("--port")) && args.value(0) != QLatin1String("modbus");
    process.start(
        QStringLiteral(TARVIK_CLI), paced ? args + QStringList { "--pace", "0.04" } : args);
    NetRun run;
    if (!process.waitForFinished(60000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

sockaddr_in Loopback(int port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    return address;
}

// A listening socket on 127.0.0.1 that accepts nothing (backlog full after one connection
// waits) or whose port is free once it is gone: the two kinds of bad server.
struct NetListener
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = 0;
    NetListener()
    {
        sockaddr_in address = Loopback(0);
        socklen_t size = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(fd, 0);
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
        port = ntohs(address.sin_port);
    }
    ~NetListener() { Close(); }
    void Close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

int FreeNetPort()
{
    return NetListener().port;
}

class CliNetwork : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir::setCurrent(TestEnv::WorkDir());
        qputenv("TARVIK_DATA", TestEnv::DataDir().toLocal8Bit());
        QFile log(QStringLiteral("stored.bin"));
        ASSERT_TRUE(log.open(QIODevice::WriteOnly));
        log.write(kStoredLog);
    }
    void TearDown() override
    {
        for (QProcess *p : { &m_ser2net, &m_sim, &m_tcpSim }) {
            p->kill();
            p->waitForFinished(5000);
        }
        TestEnv::ReseedWorkDir();
    }
    QString StartSim(QProcess &sim, const QStringList &extra)
    {
        sim.start(TestEnv::MeterSimPath(),
            QStringList { "--serial", "31415", "--interval", "600000", "--log", "stored.bin",
                "--data-dir", TestEnv::DataDir() }
                + extra);
        if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000))
            return QString();
        return QString::fromLocal8Bit(sim.readLine()).trimmed();
    }
    // ser2net in front of device: a raw and a telnet (RFC 2217) accepter on free ports.
    bool StartSer2net(const QString &device)
    {
        const QString ser2net = QStandardPaths::findExecutable(
            QStringLiteral("ser2net"), { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin") });
        if (ser2net.isEmpty())
            return false;
        m_rawPort = FreeNetPort();
        m_telnetPort = FreeNetPort();
        const QString connector = QStringLiteral("serialdev,%1,9600n81,local").arg(device);
        const QString yaml = QStringLiteral("connection: &raw\n"
                                            "  accepter: tcp,127.0.0.1,%1\n"
                                            "  connector: %3\n"
                                            "  options:\n    kickolduser: true\n"
                                            "connection: &telnet\n"
                                            "  accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
                                            "  connector: %3\n"
                                            "  options:\n    kickolduser: true\n")
                                 .arg(m_rawPort)
                                 .arg(m_telnetPort)
                                 .arg(connector);
        QFile file(QStringLiteral("ser2net.yaml"));
        if (!file.open(QIODevice::WriteOnly) || file.write(yaml.toUtf8()) < 0)
            return false;
        file.close();
        m_ser2net.start(ser2net,
            { "-n", "-u", "-P", QDir::current().filePath("ser2net.pid"), "-c",
                QDir::current().filePath("ser2net.yaml") });
        if (!m_ser2net.waitForStarted(5000))
            return false;
        // Up once both ports take connections.
        return TestEnv::WaitUntil(
            [this] { return Accepts(m_rawPort) && Accepts(m_telnetPort); }, 10000);
    }
    static bool Accepts(int port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = Loopback(port);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }

    static constexpr const char *kStoredLog
        = "\"Serial#  31415   Start Date: 01/31/2007   Time: 02:15:07 PM\n\n"
          "\"Options Selected:\r\n;Line ; Flow \n; 1; 12.25 \n; 2; 12.50 \n";
    QProcess m_sim, m_tcpSim, m_ser2net;
    int m_rawPort = 0, m_telnetPort = 0;
};

} // namespace

TEST_F(CliNetwork, EveryDialogueGivesOverEachPortKindWhatItGivesOnThePseudoTerminal)
{
    const QString pty = StartSim(m_sim, {});
    ASSERT_FALSE(pty.isEmpty());
    const QString simTcp = StartSim(m_tcpSim, { "--tcp", "0" });
    ASSERT_TRUE(simTcp.startsWith(QStringLiteral("tcp://127.0.0.1:"))) << qPrintable(simTcp);
    ASSERT_TRUE(StartSer2net(pty)) << "ser2net is needed (scripts/install-deps installs it)";
    const struct
    {
        const char *kind;
        QString port;
    } ports[] = {
        { "pty", pty },
        { "simulator tcp", simTcp },
        { "ser2net raw", QStringLiteral("tcp://127.0.0.1:%1").arg(m_rawPort) },
        { "ser2net rfc2217", QStringLiteral("rfc2217://localhost:%1").arg(m_telnetPort) },
    };
    QByteArray ptyImage;
    for (const auto &port : ports) {
        SCOPED_TRACE(port.kind);
        const NetRun id = NetCli({ "identify", "--port", port.port });
        ASSERT_EQ(id.status, 0) << qPrintable(id.err);
        EXPECT_TRUE(id.out.contains("\nserial\t31415\n")) << qPrintable(id.out);

        const QString file = QStringLiteral("%1.mtr").arg(QString::fromLatin1(port.kind));
        const NetRun read = NetCli({ "read", "--port", port.port, "--out", file });
        ASSERT_EQ(read.status, 0) << qPrintable(read.err);
        const QByteArray image = ReadFile(file);
        if (ptyImage.isEmpty())
            ptyImage = image;
        EXPECT_EQ(image, ptyImage) << "the same meter file whatever carries the bytes";

        const NetRun send = NetCli({ "send", file, "--port", port.port, "--yes", "--force" });
        ASSERT_EQ(send.status, 0) << qPrintable(send.err);
        EXPECT_TRUE(send.out.endsWith(QStringLiteral("Meter stored the configuration\n")))
            << qPrintable(send.out);

        const QString logFile = QStringLiteral("%1.log").arg(QString::fromLatin1(port.kind));
        const NetRun transfer = NetCli({ "transfer", "--port", port.port, "--out", logFile });
        ASSERT_EQ(transfer.status, 0) << qPrintable(transfer.err);
        EXPECT_TRUE(ReadFile(logFile).endsWith(QByteArray(kStoredLog).replace("\n", "\r\n")));

        if (port.port == pty)
            continue; // the log's own tests run it on a pseudo-terminal
        const QString pcLog = QStringLiteral("%1.pc.log").arg(QString::fromLatin1(port.kind));
        const NetRun log = NetCli(
            { "log", "--port", port.port, "--interval", "1", "--seconds", "2", "--out", pcLog });
        ASSERT_EQ(log.status, 0) << qPrintable(log.err);
        // The meter streams no readings here (--interval): the header names it, the end is said.
        EXPECT_TRUE(ReadFile(pcLog).contains("\"Serial#  31415 ")) << ReadFile(pcLog).constData();
        EXPECT_TRUE(ReadFile(pcLog).contains("\"Stop Ocurred "));

        // 0xFF bytes in an image (doubled by telnet on the way) arrive as they are: the read
        // back after the send finds what was sent.
        if (port.port.startsWith(QLatin1String("rfc2217://"))) {
            ASSERT_EQ(
                NetCli({ "set", file, "Contrast=255", "Primary[2]=0.99999994", "--out", "ff.mtr" })
                    .status,
                0);
            ASSERT_TRUE(ReadFile("ff.mtr").contains("7F FF FF ")); // 0x3F7FFFFF
            const NetRun ff = NetCli({ "send", "ff.mtr", "--port", port.port, "--yes" });
            ASSERT_EQ(ff.status, 0) << qPrintable(ff.err);
            EXPECT_TRUE(ff.out.endsWith(QStringLiteral("Meter stored the configuration\n")))
                << qPrintable(ff.out);
        }
    }

    // The Modbus sweep: RTU frames over ser2net's raw port and the simulator's own, and Modbus
    // TCP to the simulator as a gateway.
    for (QProcess *p : { &m_ser2net, &m_sim, &m_tcpSim }) {
        p->kill();
        p->waitForFinished(5000);
    }
    m_sim.start(TestEnv::MeterSimPath(), { "--modbus", "--addr", "1,2" });
    ASSERT_TRUE(m_sim.waitForStarted(5000) && m_sim.waitForReadyRead(5000));
    const QString modbusPty = QString::fromLocal8Bit(m_sim.readLine()).trimmed();
    m_tcpSim.start(TestEnv::MeterSimPath(), { "--modbus", "--addr", "1,2", "--tcp", "0" });
    ASSERT_TRUE(m_tcpSim.waitForStarted(5000) && m_tcpSim.waitForReadyRead(5000));
    const QString modbusTcp = QString::fromLocal8Bit(m_tcpSim.readLine()).trimmed();
    ASSERT_TRUE(StartSer2net(modbusPty));
    QProcess gateway;
    gateway.start(TestEnv::MeterSimPath(), { "--modbus", "--addr", "1,2", "--modbus-tcp", "0" });
    ASSERT_TRUE(gateway.waitForStarted(5000) && gateway.waitForReadyRead(5000));
    const QString modbusGateway = QString::fromLocal8Bit(gateway.readLine()).trimmed();
    ASSERT_TRUE(modbusGateway.startsWith(QLatin1String("modbus-tcp://")))
        << qPrintable(modbusGateway);
    for (const QString &port : { modbusPty, modbusTcp,
             QStringLiteral("tcp://127.0.0.1:%1").arg(m_rawPort), modbusGateway }) {
        SCOPED_TRACE(qPrintable(port));
        const NetRun sweep = NetCli({ "modbus", "--port", port, "--addresses", "1-2", "--count",
            "2", "--csv", "--parity", "1 8 NONE 1" });
        EXPECT_EQ(sweep.status, 0) << qPrintable(sweep.err);
        EXPECT_EQ(sweep.out.count(QStringLiteral(",ok\n")), 4) << qPrintable(sweep.out);
    }
    gateway.terminate();
    gateway.waitForFinished(5000);
}

TEST_F(CliNetwork, BadServersAndBadTextsAreSaidWithTheirStatus)
{
    NetListener silent; // takes one connection into its backlog, never accepts, never answers
    NetListener deaf; // accepts (the kernel does) and never says a word
    NetListener refused;
    const int refusedPort = refused.port;
    refused.Close();
    const QString unreachable = QStringLiteral("tcp://127.0.0.1:%1").arg(silent.port);
    NetListener filler; // a connection waiting in the silent listener's backlog fills it
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address = Loopback(silent.port);
        ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        filler.Close();
        filler.fd = fd;
    }
    const struct
    {
        QString port;
        int status;
        QString said;
    } rows[] = {
        { QStringLiteral("tcp://127.0.0.1:%1").arg(refusedPort), 3,
            QStringLiteral("127.0.0.1:%1: the connection was refused").arg(refusedPort) },
        { QStringLiteral("tcp://no-such-host.invalid:4001"), 3,
            QStringLiteral("the host \"no-such-host.invalid\" cannot be found") },
        { QStringLiteral("tcp://host"), 3, QStringLiteral("no TCP port is given") },
        { QStringLiteral("tcp://:99999"), 3, QStringLiteral("no host is named") },
        { QStringLiteral("modbus-tcp://127.0.0.1:%1").arg(deaf.port), 3,
            QStringLiteral("Modbus TCP is for the Modbus port only") },
        { unreachable, 3, QStringLiteral(": no answer within 3 s") },
        { QStringLiteral("rfc2217://127.0.0.1:%1").arg(deaf.port), 1,
            QStringLiteral("nothing came from the meter") },
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(qPrintable(row.port));
        const NetRun id = NetCli({ "identify", "--port", row.port });
        EXPECT_EQ(id.status, row.status) << qPrintable(id.err);
        EXPECT_TRUE(id.err.contains(row.said)) << qPrintable(id.err);
    }
}

// Forwards the connections made to it, one after the other, to 127.0.0.1:target and cuts both
// ends once cutAfter bytes in all went from the program to the server (or, fromServer, from the
// server to the program), taking no connection after: a connection that drops at a known point
// of a dialogue. Counts what the server sent.
struct CuttingRelay
{
    NetListener listener;
    std::atomic<bool> stop { false };
    std::atomic<long> served { 0 };
    std::thread thread;
    CuttingRelay(int target, long cutAfter, bool fromServer = false)
    {
        ::listen(listener.fd, 4);
        thread = std::thread([this, target, cutAfter, fromServer] {
            long forwarded = 0;
            while (forwarded < cutAfter && !stop) {
                pollfd waiting = { listener.fd, POLLIN, 0 };
                if (::poll(&waiting, 1, 20) <= 0)
                    continue;
                const int client = ::accept(listener.fd, nullptr, nullptr);
                const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in address = Loopback(target);
                ::connect(server, reinterpret_cast<sockaddr *>(&address), sizeof address);
                while (forwarded < cutAfter) {
                    pollfd fds[2] = { { client, POLLIN, 0 }, { server, POLLIN, 0 } };
                    if (::poll(fds, 2, 30000) <= 0)
                        break;
                    char buffer[256];
                    const auto take = [&](int from, bool counted) {
                        const long room = counted ? cutAfter - forwarded : long(sizeof buffer);
                        return ::recv(from, buffer, size_t(std::min<long>(sizeof buffer, room)), 0);
                    };
                    if (fds[1].revents & POLLIN) {
                        const ssize_t n = take(server, fromServer);
                        if (n <= 0 || ::send(client, buffer, size_t(n), MSG_NOSIGNAL) != n)
                            break;
                        served += n;
                        forwarded += fromServer ? n : 0;
                    }
                    if (forwarded < cutAfter && (fds[0].revents & POLLIN)) {
                        const ssize_t n = take(client, !fromServer);
                        if (n <= 0 || ::send(server, buffer, size_t(n), MSG_NOSIGNAL) != n)
                            break;
                        forwarded += fromServer ? 0 : n;
                    }
                }
                ::close(client);
                ::close(server);
            }
        });
    }
    // What the server sent in all, once no connection is forwarded any more.
    long Served()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
        return served;
    }
    ~CuttingRelay() { Served(); }
};

TEST_F(CliNetwork, AConnectionDroppedMidSendSaysTheMeterMayBeHalfWritten)
{
    const QString port = StartSim(m_tcpSim, { "--tcp", "0" });
    ASSERT_FALSE(port.isEmpty());
    ASSERT_EQ(NetCli({ "read", "--port", port, "--out", "net.mtr" }).status, 0);
    ASSERT_EQ(
        NetCli({ "set", "net.mtr", "Relay #2 OFF Value=2400", "--out", "edited.mtr" }).status, 0);
    // The image goes out after the as-found read's few commands: cut well into it.
    CuttingRelay relay(port.section(QLatin1Char(':'), -1).toInt(), 400);
    const QString relayed = QStringLiteral("tcp://127.0.0.1:%1").arg(relay.listener.port);
    const NetRun send = NetCli({ "send", "edited.mtr", "--port", relayed, "--yes" });
    EXPECT_EQ(send.status, 1);
    EXPECT_TRUE(
        send.err.contains(relayed.mid(6) + QStringLiteral(" is gone: the connection was closed")))
        << qPrintable(send.err);
    EXPECT_TRUE(send.err.contains(QStringLiteral("may now hold part of the new configuration")))
        << qPrintable(send.err);
}

TEST_F(CliNetwork, AConnectionDroppedMidReadOrMidTransferIsSaidAndNothingHalfIsKept)
{
    const QString port = StartSim(m_tcpSim, { "--tcp", "0" });
    ASSERT_FALSE(port.isEmpty());
    const int target = port.section(QLatin1Char(':'), -1).toInt();
    const struct
    {
        const char *name;
        QStringList args;
        const char *out;
        double cutAt; // of what the whole dialogue has the server send
    } rows[] = {
        { "read", { "read", "--out", "cut.mtr" }, "cut.mtr", 0.5 },
        { "transfer", { "transfer", "--out", "cut.log" }, "cut.log", 0.97 },
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        long whole = 0;
        {
            CuttingRelay uncut(target, LONG_MAX, true);
            const QString relayed = QStringLiteral("tcp://127.0.0.1:%1").arg(uncut.listener.port);
            const NetRun run = NetCli(row.args + QStringList { "--port", relayed });
            ASSERT_EQ(run.status, 0) << qPrintable(run.err);
            ASSERT_TRUE(QFile::remove(QString::fromLatin1(row.out)));
            whole = uncut.Served();
        }
        CuttingRelay relay(target, long(double(whole) * row.cutAt), true);
        const QString relayed = QStringLiteral("tcp://127.0.0.1:%1").arg(relay.listener.port);
        const NetRun cut = NetCli(row.args + QStringList { "--port", relayed });
        EXPECT_NE(cut.status, 0);
        EXPECT_TRUE(cut.err.contains(relayed.mid(6) + " is gone: the connection was closed"))
            << qPrintable(cut.err);
        EXPECT_FALSE(QFile::exists(QString::fromLatin1(row.out)));
    }
}
