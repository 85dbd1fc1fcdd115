#include "link/NetDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// One asynchronous lookup: the request and everything it points to, kept together until the C
// library is done with it.
struct NetDevice::Lookup
{
    std::string host;
    std::string service;
    struct addrinfo hints = {};
    struct gaicb request = {};
};

namespace {

constexpr int kChunk = 4096;

// Lookups given up on while the C library was still working on them (a name server that does
// not answer): freed once they end, by whichever device looks next.
std::mutex g_abandonedMutex;
std::vector<NetDevice::Lookup *> g_abandoned;

void FreeLookup(NetDevice::Lookup *lookup)
{
    if (lookup->request.ar_result)
        ::freeaddrinfo(lookup->request.ar_result);
    delete lookup;
}

void ReapAbandoned()
{
    const std::lock_guard<std::mutex> lock(g_abandonedMutex);
    std::erase_if(g_abandoned, [](NetDevice::Lookup *lookup) {
        if (::gai_error(&lookup->request) == EAI_INPROGRESS)
            return false;
        FreeLookup(lookup);
        return true;
    });
}

int MsLeft(std::chrono::steady_clock::time_point end)
{
    const auto left
        = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
              .count();
    return int(std::clamp<long long>(left, 0, 1 << 30));
}

} // namespace

NetDevice::~NetDevice()
{
    Close();
    for (int &fd : m_readyPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool NetDevice::Failed(const std::string &reason) const
{
    m_lastError = reason;
    return false;
}

bool NetDevice::Open(const NetPortText &target)
{
    Close();
    m_target = target;
    m_gone = false;
    m_lastError.clear();
    if (m_readyPipe[0] < 0) {
        if (::pipe2(m_readyPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return Failed(Where() + ": " + std::strerror(errno));
        const char one = 1;
        if (::write(m_readyPipe[1], &one, 1) != 1)
            return Failed(Where() + ": " + std::strerror(errno));
    }
    ReapAbandoned();
    m_nextAddress = 0;
    m_lastConnectError = 0;
    m_connectDeadline = Clock::now() + std::chrono::milliseconds(kConnectMs);
    m_connecting = true;
    if (m_target.kind == NetPortText::Kind::Telnet)
        m_heldOutput = m_telnet.Start();
    // An address needs no name server: connected to at once. A name may wait on a name server
    // for seconds, so it is looked up beside the event loop and PollConnect takes the result.
    struct addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICHOST | AI_NUMERICSERV;
    struct addrinfo *found = nullptr;
    const std::string service = std::to_string(target.port);
    if (::getaddrinfo(target.host.c_str(), service.c_str(), &hints, &found) == 0 && found) {
        TakeAddresses(found);
        ::freeaddrinfo(found);
        if (!ConnectNext()) {
            m_connecting = false;
            return false;
        }
    } else {
        if (found)
            ::freeaddrinfo(found);
        auto *lookup = new Lookup;
        lookup->host = target.host;
        lookup->service = service;
        lookup->hints = hints;
        lookup->hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
        lookup->request.ar_name = lookup->host.c_str();
        lookup->request.ar_service = lookup->service.c_str();
        lookup->request.ar_request = &lookup->hints;
        struct gaicb *list[] = { &lookup->request };
        const int started = ::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr);
        if (started != 0) {
            FreeLookup(lookup);
            m_connecting = false;
            return Failed(Where() + ": the host \"" + target.host + "\" cannot be looked up ("
                + ::gai_strerror(started) + ")");
        }
        m_lookup = lookup;
    }
    // A refusal from this host, or a name the hosts file says nothing of, can come at once:
    // said by Open itself.
    if (!PollConnect() && m_gone) {
        m_gone = false;
        m_connecting = false;
        return false;
    }
    return true;
}

void NetDevice::TakeAddresses(const void *found) const
{
    m_addresses.clear();
    m_families.clear();
    for (auto *a = static_cast<const struct addrinfo *>(found); a; a = a->ai_next) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(a->ai_addr);
        m_addresses.emplace_back(bytes, bytes + a->ai_addrlen);
        m_families.push_back(a->ai_family);
    }
    m_nextAddress = 0;
}

void NetDevice::DropLookup() const
{
    if (!m_lookup)
        return;
    Lookup *lookup = m_lookup;
    m_lookup = nullptr;
    if (::gai_cancel(&lookup->request) == EAI_NOTCANCELED) {
        const std::lock_guard<std::mutex> lock(g_abandonedMutex);
        g_abandoned.push_back(lookup);
        return;
    }
    FreeLookup(lookup);
}

bool NetDevice::PollLookup() const
{
    const int state = ::gai_error(&m_lookup->request);
    if (state == EAI_INPROGRESS) {
        if (Clock::now() >= m_connectDeadline) {
            DropLookup();
            m_connecting = false;
            m_gone = true;
            Failed(Where() + ": the host \"" + m_target.host + "\" cannot be found (no answer "
                + "from the name server within " + std::to_string(kConnectMs / 1000) + " s)");
        }
        return false;
    }
    const struct addrinfo *found = m_lookup->request.ar_result;
    if (state != 0 || !found) {
        DropLookup();
        m_connecting = false;
        m_gone = true;
        Failed(Where() + ": the host \"" + m_target.host + "\" cannot be found ("
            + ::gai_strerror(state) + ")");
        return false;
    }
    TakeAddresses(found);
    DropLookup();
    if (!ConnectNext()) {
        m_connecting = false;
        m_gone = true;
        return false;
    }
    return true;
}

bool NetDevice::ConnectNext() const
{
    while (m_nextAddress < m_addresses.size()) {
        const std::vector<unsigned char> &address = m_addresses[m_nextAddress];
        const int family = m_families[m_nextAddress];
        ++m_nextAddress;
        const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            m_lastConnectError = errno;
            continue;
        }
        // Each paced byte leaves at once, as on a local line.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const int result = ::connect(fd, reinterpret_cast<const struct sockaddr *>(address.data()),
            socklen_t(address.size()));
        if (result == 0 || errno == EINPROGRESS) {
            m_fd = fd;
            m_connecting = true;
            return true;
        }
        m_lastConnectError = errno;
        ::close(fd);
    }
    if (m_lastConnectError == ECONNREFUSED)
        return Failed(Where() + ": the connection was refused (no server listens on that port)");
    if (m_lastConnectError == ENETUNREACH || m_lastConnectError == EHOSTUNREACH)
        return Failed(
            Where() + ": the host cannot be reached (" + std::strerror(m_lastConnectError) + ")");
    return Failed(Where() + ": cannot connect (" + std::strerror(m_lastConnectError) + ")");
}

bool NetDevice::PollConnect() const
{
    if (m_lookup && !PollLookup())
        return false;
    if (m_fd < 0)
        return false;
    if (!m_connecting)
        return true;
    struct pollfd watch = { m_fd, POLLOUT, 0 };
    if (::poll(&watch, 1, 0) > 0) {
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
        if (error == 0) {
            Connected();
            return !m_gone;
        }
        m_lastConnectError = error;
        ::close(m_fd);
        m_fd = -1;
        if (!ConnectNext()) {
            m_gone = true; // the failure stays in LastError until the next Open
            m_connecting = false;
            const std::string reason = m_lastError;
            m_fd = -1;
            m_lastError = reason;
            return false;
        }
        return false;
    }
    if (Clock::now() >= m_connectDeadline) {
        ::close(m_fd);
        m_fd = -1;
        m_connecting = false;
        m_gone = true;
        Failed(Where() + ": no answer within " + std::to_string(kConnectMs / 1000)
            + " s (the host is unreachable, or a firewall drops the connection)");
    }
    return false;
}

void NetDevice::Connected() const
{
    m_connecting = false;
    const std::string held = std::move(m_heldOutput);
    m_heldOutput.clear();
    if (!held.empty())
        SendRaw(held, 1000);
}

void NetDevice::Close()
{
    DropLookup();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_connecting = false;
    m_heldOutput.clear();
    m_in.clear();
    m_inRead = 0;
    m_telnet = TelnetCodec();
    m_gone = false;
}

void NetDevice::Broken(int error) const
{
    m_gone = true;
    m_lastError = Where() + " is gone: the connection was closed";
    if (error != 0 && error != EPIPE)
        m_lastError += std::string(" (") + std::strerror(error) + ")";
}

void NetDevice::Drain() const
{
    if (!PollConnect() || m_gone)
        return;
    if (m_inRead > 0 && m_inRead == m_in.size()) {
        m_in.clear();
        m_inRead = 0;
    }
    char buffer[kChunk];
    for (;;) {
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            if (m_target.kind == NetPortText::Kind::Telnet) {
                const std::string reply = m_telnet.Feed(buffer, int(got), &m_in);
                if (!reply.empty())
                    SendRaw(reply, 1000);
            } else {
                m_in.append(buffer, std::size_t(got));
            }
            if (got < ssize_t(sizeof buffer))
                return;
            continue;
        }
        if (got == 0) {
            Broken(0);
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            Broken(errno);
        return;
    }
}

bool NetDevice::SendRaw(const std::string &bytes, int timeoutMs) const
{
    const auto end = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent
            = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            done += std::size_t(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int waitMs = MsLeft(end);
            if (waitMs <= 0)
                return Failed(Where() + ": the server took no more bytes within the time-out");
            struct pollfd watch = { m_fd, POLLOUT, 0 };
            ::poll(&watch, 1, waitMs);
            continue;
        }
        Broken(sent < 0 ? errno : 0);
        // A send that failed ends the dialogue now: what it had not read yet is of no use.
        m_in.clear();
        m_inRead = 0;
        return false;
    }
    return true;
}

bool NetDevice::Configure(int speed, char parity, int stopBits, bool modemLines)
{
    if (m_fd < 0 && !Connecting())
        return Failed(Where() + ": not connected");
    if (m_target.kind != NetPortText::Kind::Telnet)
        return true; // the server's line has the server's settings
    TelnetCodec::LineSettings settings;
    settings.speed = speed;
    settings.parity = parity;
    settings.stopBits = stopBits;
    settings.modemLines = modemLines;
    const std::string commands = m_telnet.SetLine(settings);
    if (commands.empty())
        return true;
    if (m_connecting) {
        m_heldOutput += commands;
        return true;
    }
    return SendRaw(commands, 1000);
}

void NetDevice::PurgeInput()
{
    Drain();
    m_in.clear();
    m_inRead = 0;
    if (!m_connecting && m_fd >= 0) {
        const std::string purge = m_telnet.Purge(1);
        if (!purge.empty())
            SendRaw(purge, 1000);
    }
}

void NetDevice::PurgeBoth()
{
    // What the kernel already sent cannot be called back; the server is told to drop both.
    Drain();
    m_in.clear();
    m_inRead = 0;
    m_heldOutput.clear();
    if (!m_connecting && m_fd >= 0) {
        const std::string purge = m_telnet.Purge(3);
        if (!purge.empty())
            SendRaw(purge, 1000);
    }
}

int NetDevice::PendingInput() const
{
    Drain();
    return int(m_in.size() - m_inRead);
}

int NetDevice::PendingOutput() const
{
    if (Connecting())
        return int(m_heldOutput.size());
    if (m_fd < 0)
        return 0;
    int count = 0;
    if (::ioctl(m_fd, SIOCOUTQ, &count) != 0)
        return 0;
    return std::max(count, 0);
}

int NetDevice::ReadNow(unsigned char *byte)
{
    if (!byte || PendingInput() == 0)
        return 0;
    *byte = static_cast<unsigned char>(m_in[m_inRead++]);
    return 1;
}

bool NetDevice::Write(const char *bytes, int count, int timeoutMs)
{
    if (!Connecting() && (m_fd < 0 || m_gone))
        return false;
    if (!bytes || count <= 0)
        return false;
    const std::string out = m_target.kind == NetPortText::Kind::Telnet
        ? m_telnet.Escape(bytes, count)
        : std::string(bytes, std::size_t(count));
    if (m_connecting && !PollConnect()) {
        if (m_gone)
            return false;
        m_heldOutput += out;
        return true;
    }
    return SendRaw(out, timeoutMs);
}

bool NetDevice::WaitReadable(int timeoutMs) const
{
    const auto end = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (PendingInput() > 0)
            return true;
        if (m_gone || (m_fd < 0 && !m_lookup) || MsLeft(end) <= 0)
            return false;
        struct pollfd watch = { m_fd, short(m_connecting ? POLLOUT : POLLIN), 0 };
        ::poll(&watch, m_fd >= 0 ? 1 : 0, std::min(MsLeft(end), m_connecting ? 10 : 1 << 30));
    }
}

std::intptr_t NetDevice::WaitHandle() const
{
    if (m_fd < 0)
        return -1;
    // Data kept from an earlier read would not make the socket readable again.
    return m_inRead < m_in.size() ? m_readyPipe[0] : m_fd;
}

void NetDevice::ArmWait() const { }

bool NetDevice::CheckHangUp()
{
    Drain();
    return Gone();
}
