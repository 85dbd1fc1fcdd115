// The network half of the device: port texts, the telnet codec's byte tables, and the device
// against a listening socket of the test's own.
#include "support/TestEnv.h"
#include "support/TickGaps.h"

#include "base/DialogueRunner.h"
#include "link/CSerial.h"
#include "link/NetDevice.h"
#include "link/NetPortText.h"
#include "link/SerialDevice.h"
#include "link/TelnetCodec.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Kind = NetPortText::Kind;

struct TextCase
{
    const char *text;
    Kind kind;
    const char *host;
    int port;
    const char *error; // part of the refusal; "" when taken or not a network text
};

const TextCase kTexts[] = {
    { "tcp://192.168.1.20:4001", Kind::Raw, "192.168.1.20", 4001, "" },
    { "TCP://box:1", Kind::Raw, "box", 1, "" },
    { "rfc2217://serial-box.plant:2217", Kind::Telnet, "serial-box.plant", 2217, "" },
    { "tcp://[::1]:65535", Kind::Raw, "::1", 65535, "" },
    { "modbus-tcp://gw", Kind::ModbusTcp, "gw", 502, "" },
    { "modbus-tcp://gw:1502", Kind::ModbusTcp, "gw", 1502, "" },
    { "tcp://host", Kind::None, "", 0, "no TCP port is given (write tcp://HOST:PORT)" },
    { "tcp://:99999", Kind::None, "", 0, "no host is named" },
    { "tcp://h:99999", Kind::None, "", 0, "99999 is not a TCP port number (1 to 65535)" },
    { "tcp://h:", Kind::None, "", 0, "no TCP port is given after the colon" },
    { "tcp://h:12x", Kind::None, "", 0, "\"12x\" is not a TCP port number" },
    { "tcp://h/x:1", Kind::None, "", 0, "\"/\" cannot stand in a host name" },
    { "rfc2217://[::1:2217", Kind::None, "", 0, "no closing ]" },
    { "tcp://", Kind::None, "", 0, "no host is named" },
    { "/dev/ttyUSB0", Kind::None, "", 0, "" },
};

class NetPortTextTest : public ::testing::TestWithParam<TextCase>
{
};

TEST_P(NetPortTextTest, ParsesStrictly)
{
    const TextCase &row = GetParam();
    SCOPED_TRACE(row.text);
    const NetPortText parsed = NetPortText::Parse(row.text);
    EXPECT_EQ(parsed.kind, row.kind);
    EXPECT_EQ(parsed.host, row.host);
    EXPECT_EQ(parsed.port, row.port);
    if (*row.error == '\0')
        EXPECT_EQ(parsed.error, "");
    else
        EXPECT_NE(parsed.error.find(row.error), std::string::npos) << parsed.error;
    EXPECT_EQ(SerialDevice::IsNetworkText(row.text), row.kind != Kind::None || *row.error);
}

INSTANTIATE_TEST_SUITE_P(Table, NetPortTextTest, ::testing::ValuesIn(kTexts));

std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (const int v : values)
        out += char(v);
    return out;
}

// What the codec makes of bytes from the server, after its own Start: the data and the reply.
struct FeedCase
{
    const char *name;
    std::string in;
    std::string data;
    std::string reply;
    TelnetCodec::ComPort comPort;
};

constexpr int IAC = 255, WILL = 251, WONT = 252, DO = 253, DONT = 254, SB = 250, SE = 240;
using CP = TelnetCodec::ComPort;

const FeedCase kFeeds[] = {
    { "PlainData", "r\r", "r\r", "", CP::Asked },
    { "DoubledIacIsData", Bytes({ 'a', IAC, IAC, 'b' }), Bytes({ 'a', 255, 'b' }), "", CP::Asked },
    { "IacSplitFromItsPair", Bytes({ IAC }), "", "", CP::Asked },
    // The server accepts what was offered: no answer (no negotiation loop).
    { "DoBinaryAsAskedIsSilent", Bytes({ IAC, DO, 0, IAC, WILL, 0 }), "", "", CP::Asked },
    { "DoComPortAccepts", Bytes({ IAC, DO, 44 }), "", "", CP::Accepted },
    { "DontComPortRefuses", Bytes({ IAC, DONT, 44 }), "", "", CP::Refused },
    // Unknown options are refused once, each in its own direction.
    { "WillEchoIsRefused", Bytes({ IAC, WILL, 1 }), "", Bytes({ IAC, DONT, 1 }), CP::Asked },
    { "DoTerminalTypeIsRefused", Bytes({ IAC, DO, 24 }), "", Bytes({ IAC, WONT, 24 }), CP::Asked },
    { "WontBinaryAfterWill", Bytes({ IAC, WILL, 0, IAC, WONT, 0 }), "", Bytes({ IAC, DONT, 0 }),
        CP::Asked },
    // The server's answer to SET-BAUDRATE, with an IAC doubled inside it, is not data.
    { "SubnegotiationIsNotData", Bytes({ 'x', IAC, SB, 44, 101, 0, 0, IAC, IAC, 0, IAC, SE, 'y' }),
        "xy", "", CP::Asked },
    { "NopAndGoAheadAreDropped", Bytes({ 'a', IAC, 241, IAC, 249, 'b' }), "ab", "", CP::Asked },
};

class TelnetFeedTest : public ::testing::TestWithParam<FeedCase>
{
};

TEST_P(TelnetFeedTest, SeparatesDataFromNegotiation)
{
    const FeedCase &row = GetParam();
    TelnetCodec codec;
    codec.Start();
    std::string data;
    EXPECT_EQ(codec.Feed(row.in.data(), int(row.in.size()), &data), row.reply);
    EXPECT_EQ(data, row.data);
    EXPECT_EQ(codec.ComPortState(), row.comPort);
}

INSTANTIATE_TEST_SUITE_P(Table, TelnetFeedTest, ::testing::ValuesIn(kFeeds),
    [](const auto &feed) { return std::string(feed.param.name); });

TEST(TelnetCodec, OffersAndSetsTheLineOnceAccepted)
{
    TelnetCodec codec;
    EXPECT_EQ(codec.Start(),
        Bytes({ IAC, WILL, 0, IAC, WILL, 3, IAC, WILL, 44, IAC, DO, 0, IAC, DO, 3 }));
    // Before the server accepts, the settings are kept, and no purge goes out.
    TelnetCodec::LineSettings line;
    line.speed = 0x0001C2FF; // 115455: an IAC in the speed's low byte
    line.parity = 'E';
    line.stopBits = 2;
    EXPECT_EQ(codec.SetLine(line), "");
    EXPECT_EQ(codec.Purge(1), "");
    std::string data;
    const std::string accept = Bytes({ IAC, DO, 44, IAC, DO, 0, IAC, WILL, 0 });
    const std::string settings = Bytes({ IAC, SB, 44, 1, 0, 1, 0xC2, IAC, IAC, IAC, SE, //
        IAC, SB, 44, 2, 8, IAC, SE, IAC, SB, 44, 3, 3, IAC, SE, IAC, SB, 44, 4, 2, IAC, SE, //
        IAC, SB, 44, 5, 1, IAC, SE });
    EXPECT_EQ(codec.Feed(accept.data(), int(accept.size()), &data), settings);
    EXPECT_EQ(codec.Purge(3), Bytes({ IAC, SB, 44, 12, 3, IAC, SE }));
    // BINARY in force: an image's 0xFF is doubled and its CR goes as it is.
    const std::string image = Bytes({ 0x12, 0xFF, '\r', 0xFF });
    EXPECT_EQ(codec.Escape(image.data(), int(image.size())),
        Bytes({ 0x12, 0xFF, 0xFF, '\r', 0xFF, 0xFF }));
    TelnetCodec plain; // without BINARY a CR goes as CR NUL
    EXPECT_EQ(plain.Escape("\r", 1), Bytes({ '\r', 0 }));
}

// A listening socket on 127.0.0.1 and the connection it accepted.
struct Server
{
    int listener = -1;
    int peer = -1;
    int port = 0;
    Server()
    {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(listener, 4);
        socklen_t size = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size);
        port = ntohs(address.sin_port);
    }
    ~Server()
    {
        if (peer >= 0)
            ::close(peer);
        if (listener >= 0)
            ::close(listener);
    }
    std::string Text(const char *scheme) const
    {
        return std::string(scheme) + "127.0.0.1:" + std::to_string(port);
    }
    void Accept() { peer = ::accept(listener, nullptr, nullptr); }
    void Send(const std::string &bytes) { ::send(peer, bytes.data(), bytes.size(), 0); }
    // What the client sent, until count bytes came or 5 s passed.
    std::string Receive(std::size_t count)
    {
        std::string got;
        while (got.size() < count) {
            pollfd watch = { peer, POLLIN, 0 };
            if (::poll(&watch, 1, 5000) <= 0)
                break;
            char buffer[256];
            const ssize_t n = ::recv(peer, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            got.append(buffer, std::size_t(n));
        }
        return got;
    }
};

// Looks until the connection is made or has failed, as the link's waits do.
bool Connect(SerialDevice &device)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!device.PollConnect() && device.Connecting() && std::chrono::steady_clock::now() < end)
        SerialDevice::SleepMs(2);
    return device.PollConnect();
}

TEST(NetDevice, RefusedAndUnknownHostsAreSaidWithHostAndPort)
{
    int port = 0;
    {
        Server closed; // a port that was just free: nothing listens there now
        port = closed.port;
    }
    SerialDevice device;
    const std::string where = "127.0.0.1:" + std::to_string(port);
    const auto start = std::chrono::steady_clock::now();
    if (device.Open("tcp://" + where)) {
        EXPECT_FALSE(Connect(device));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(device.LastError(),
        where + ": the connection was refused (no server listens on that port)");

    // A name is looked up beside the caller: Open does not wait for the name server's answer.
    if (device.Open("rfc2217://no-such-host.invalid:2217")) {
        EXPECT_FALSE(Connect(device));
    }
    EXPECT_NE(device.LastError().find(
                  "no-such-host.invalid:2217: the host \"no-such-host.invalid\" cannot be found"),
        std::string::npos)
        << device.LastError();
    EXPECT_FALSE(device.Open("tcp://host"));
    EXPECT_EQ(device.LastError(), "\"tcp://host\": no TCP port is given (write tcp://HOST:PORT)");
}

TEST(NetDevice, RawBytesBothWaysThenTheServerCloses)
{
    Server named; // reached by a name that is looked up, as a device server's is
    SerialDevice byName;
    ASSERT_TRUE(byName.Open("tcp://localhost:" + std::to_string(named.port)));
    ASSERT_TRUE(byName.Write("n", 1));
    ASSERT_TRUE(Connect(byName)) << byName.LastError(); // the kernel takes it before Accept
    named.Accept();
    EXPECT_EQ(named.Receive(1), "n");

    Server server;
    SerialDevice device;
    ASSERT_TRUE(device.Open(server.Text("tcp://")));
    // Written while connecting: kept, then sent once connected.
    ASSERT_TRUE(device.Write("\xFF\r", 2));
    server.Accept();
    ASSERT_TRUE(Connect(device));
    EXPECT_EQ(server.Receive(2), "\xFF\r");
    server.Send("ok\xFF");
    ASSERT_TRUE(device.WaitReadable(5000));
    std::string got;
    unsigned char byte = 0;
    while (got.size() < 3 && device.WaitReadable(5000) && device.ReadNow(&byte))
        got += char(byte);
    EXPECT_EQ(got, "ok\xFF");
    // What came before the close is read first; then the device is gone.
    server.Send("z");
    ::close(server.peer);
    server.peer = -1;
    ASSERT_TRUE(device.WaitReadable(5000));
    EXPECT_FALSE(device.Gone());
    EXPECT_EQ(device.ReadNow(&byte), 1);
    EXPECT_EQ(byte, 'z');
    device.WaitReadable(100);
    EXPECT_TRUE(device.CheckHangUp());
    EXPECT_EQ(device.LastError(),
        "127.0.0.1:" + std::to_string(server.port) + " is gone: the connection was closed");
    EXPECT_FALSE(device.Write("r", 1));
}

TEST(NetDevice, TelnetSetsTheLineOrSaysTheServerKeepsIt)
{
    for (const bool accept : { true, false }) {
        Server server;
        SerialDevice device;
        ASSERT_TRUE(device.Open(server.Text("rfc2217://")));
        SerialDevice::Format format;
        format.speed = 19200;
        format.parity = SerialDevice::Parity::Even;
        ASSERT_TRUE(device.Configure(format));
        server.Accept();
        ASSERT_TRUE(Connect(device));
        EXPECT_EQ(server.Receive(15).size(), 15u); // the offers of Start
        server.Send(Bytes({ IAC, accept ? DO : DONT, 44, 'a', IAC, IAC }));
        std::string got;
        unsigned char byte = 0;
        while (got.size() < 2 && device.WaitReadable(5000) && device.ReadNow(&byte))
            got += char(byte);
        EXPECT_EQ(got, Bytes({ 'a', 0xFF }));
        ASSERT_TRUE(device.Write("\xFF", 1));
        if (accept) {
            EXPECT_EQ(device.LineNotice(), "");
            TelnetCodec::LineSettings line;
            line.speed = 19200;
            line.parity = 'E';
            const std::string settings = TelnetCodec::LineCommands(line);
            EXPECT_EQ(server.Receive(settings.size() + 2), settings + Bytes({ IAC, IAC }));
        } else {
            EXPECT_EQ(device.LineNotice(),
                server.Text("")
                    + ": the telnet server refused the serial-port option: the speed and "
                      "format are the server's");
            EXPECT_EQ(server.Receive(2), Bytes({ IAC, IAC }));
        }
    }
}

// A name server that takes every query and never answers: a UDP socket on a loopback address of
// its own, made the resolver's only server in a mount namespace of the calling thread (and of the
// lookup threads it starts), where resolv.conf and nsswitch.conf are the test's. Root only.
class SilentNameServer
{
public:
    static constexpr const char *kAddress = "127.53.0.1";

    ~SilentNameServer()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    // Empty once it listens and the resolver is pointed at it, else why not.
    std::string Start()
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        ::inet_pton(AF_INET, kAddress, &address.sin_addr);
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            return std::string("bind: ") + std::strerror(errno);
        if (::unshare(CLONE_NEWNS) != 0)
            return std::string("unshare: ") + std::strerror(errno);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("mount: ") + std::strerror(errno);
        // The resolver waits 5 s for an answer: longer than the 3 s the device allows.
        const std::string files[][2] = {
            { "/etc/resolv.conf",
                std::string("nameserver ") + kAddress + "\noptions timeout:5 attempts:1\n" },
            { "/etc/nsswitch.conf", "hosts: files dns\n" },
        };
        for (const auto &file : files) {
            const QString path
                = m_folder.filePath(QString::fromStdString(file[0]).section('/', -1));
            QFile out(path);
            if (!out.open(QIODevice::WriteOnly) || out.write(file[1].c_str()) < 0)
                return "cannot write " + path.toStdString();
            out.close();
            if (::mount(path.toLocal8Bit().constData(), file[0].c_str(), nullptr, MS_BIND, nullptr)
                != 0)
                return "bind " + file[0] + ": " + std::strerror(errno);
        }
        return {};
    }
    // Whether a query for name has come.
    bool Asked(const std::string &name)
    {
        unsigned char datagram[512];
        for (;;) {
            const ssize_t got = ::recv(m_fd, datagram, sizeof datagram, 0);
            if (got <= 12)
                break;
            std::string asked;
            for (ssize_t i = 12; i < got && datagram[i] != 0 && i + datagram[i] < got;
                 i += datagram[i] + 1)
                asked += (asked.empty() ? "" : ".")
                    + std::string(reinterpret_cast<char *>(datagram) + i + 1, datagram[i]);
            m_asked.insert(asked);
        }
        return m_asked.count(name) > 0;
    }

private:
    int m_fd = -1;
    QTemporaryDir m_folder;
    std::set<std::string> m_asked;
};

// A dialogue that waits for its turn at a network port (which connects first).
struct LookupTurn
{
    DialogueRunner runner;
    SerialPort::Claim claim;
    bool ended = false;
    Task<void> Take(SerialPort &port)
    {
        claim = co_await port.TakeTurn(runner, this);
        ended = true;
    }
};

// Failures are printed and counted: the checks run in a child process of their own.
int g_lookupFailures = 0;

void Expect(bool ok, const std::string &what)
{
    if (!ok) {
        std::fprintf(stderr, "failed: %s\n", what.c_str());
        ++g_lookupFailures;
    }
}

// Two lookups the name server never answers, each on a port being opened for a dialogue: one
// given up on at the connect's deadline, one cancelled; the event loop keeps ticking meanwhile,
// and both requests are freed once the resolver gives up on them.
int LookupsThatNeverEnd()
{
    SilentNameServer server;
    const std::string why = server.Start();
    if (!why.empty()) {
        std::fprintf(stderr, "no silent name server: %s\n", why.c_str());
        return 1;
    }
    TickGaps ticks;

    const QString timedText = QStringLiteral("tcp://tarvik-hang-a.test:4001");
    const QString cancelText = QStringLiteral("rfc2217://tarvik-hang-b.test:2217");
    CSerial timedOut(timedText), cancelled(cancelText);
    LookupTurn timedTurn, cancelTurn;
    QElapsedTimer sinceOpen;
    sinceOpen.start();
    for (CSerial *link : { &timedOut, &cancelled }) {
        link->SetPortText(link == &timedOut ? timedText : cancelText);
        link->SetBaudText(QStringLiteral("9600"));
        Expect(link->OpenPort() == 1, "open starts: " + link->LastError().toStdString());
    }
    Expect(sinceOpen.elapsed() < 2000, "the opens returned without waiting for the name server");
    timedTurn.runner.Start(timedTurn.Take(timedOut));
    cancelTurn.runner.Start(cancelTurn.Take(cancelled));
    Expect(TestEnv::WaitUntil(
               [&] {
                   return server.Asked("tarvik-hang-a.test") && server.Asked("tarvik-hang-b.test");
               },
               10000),
        "both names were asked of the name server");

    cancelTurn.runner.Cancel();
    Expect(TestEnv::WaitUntil([&] { return cancelTurn.ended; }, 10000), "Cancel ends the wait");
    Expect(!timedTurn.ended, "Cancel ended the wait, not the connect's deadline");
    Expect(!cancelTurn.claim.Held(), "a cancelled connect gives no turn");
    cancelled.ClosePort(); // its lookup goes on in the C library, given up on
    Expect(NetDevice::LookupsLeftRunning() >= 1, "the cancelled lookup is left to end");

    Expect(TestEnv::WaitUntil([&] { return timedTurn.ended; }, 20000), "the deadline ends it");
    Expect(sinceOpen.elapsed() >= NetDevice::kConnectMs, "not given up before 3 s");
    Expect(!timedTurn.claim.Held(), "a connect given up on gives no turn");
    Expect(timedOut.LastError()
            == QStringLiteral("tarvik-hang-a.test:4001: the host \"tarvik-hang-a.test\" cannot be "
                              "found (no answer from the name server within 3 s)"),
        "said with host and port: " + timedOut.LastError().toStdString());
    const qint64 longestGap = ticks.LongestMs();
    Expect(
        longestGap < 2000, "the event loop kept ticking (" + std::to_string(longestGap) + " ms)");

    // Freed once the resolver gives up (5 s after asking): none is used after it is freed.
    Expect(TestEnv::WaitUntil([] { return NetDevice::LookupsLeftRunning() == 0; }, 30000),
        "the lookups given up on are freed once they end");
    return g_lookupFailures == 0 ? 0 : 1;
}

// Whether this process may make a mount namespace of its own (root; not in every container).
bool MayUnshareMounts()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::unshare(CLONE_NEWNS) == 0 ? 0 : 1);
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)
        && WEXITSTATUS(status) == 0;
}

TEST(NetDeviceLookup, ANameServerThatNeverAnswersIsGivenUpOnOrCancelled)
{
    if (::geteuid() != 0 || !MayUnshareMounts())
        GTEST_SKIP() << "needs root and a mount namespace of its own";
    // A fresh process: the C library's lookup threads must all start in the test's namespace.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // _Exit: the child's end is its checks' verdict, not its leftovers' (the application).
    EXPECT_EXIT(std::_Exit(LookupsThatNeverEnd()), ::testing::ExitedWithCode(0), "");
}

} // namespace
