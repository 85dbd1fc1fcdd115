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

// The POSIX half: a non-blocking socket polled without waiting, and a name looked up by the C
// library's asynchronous lookup (getaddrinfo_a), whose state the event loop's polls read.

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

// gai_error tells a request's answer as soon as it is written, before the C library has taken
// the request off its queue; only a request that gai_cancel no longer finds running (done and
// dequeued, or never started) is the caller's to free.
bool Released(NetDevice::Lookup *lookup)
{
    return ::gai_cancel(&lookup->request) != EAI_NOTCANCELED;
}

void ReapAbandoned()
{
    const std::lock_guard<std::mutex> lock(g_abandonedMutex);
    std::erase_if(g_abandoned, [](NetDevice::Lookup *lookup) {
        if (!Released(lookup))
            return false;
        FreeLookup(lookup);
        return true;
    });
}

// A connection closed under a send is said as closed, without the system's words.
int BrokenError(int error)
{
    return error == EPIPE ? 0 : error;
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

int NetDevice::LookupsLeftRunning()
{
    ReapAbandoned();
    const std::lock_guard<std::mutex> lock(g_abandonedMutex);
    return int(g_abandoned.size());
}

std::string NetDevice::SystemReason(int error)
{
    return std::strerror(error);
}

bool NetDevice::MakeWaitHandle()
{
    ReapAbandoned();
    if (m_readyPipe[0] >= 0)
        return true;
    if (::pipe2(m_readyPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return Failed(Where() + ": " + std::strerror(errno));
    const char one = 1;
    if (::write(m_readyPipe[1], &one, 1) != 1)
        return Failed(Where() + ": " + std::strerror(errno));
    return true;
}

bool NetDevice::StartLookup(const std::string &service)
{
    struct addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICHOST | AI_NUMERICSERV;
    struct addrinfo *found = nullptr;
    if (::getaddrinfo(m_target.host.c_str(), service.c_str(), &hints, &found) == 0 && found) {
        for (const struct addrinfo *a = found; a; a = a->ai_next)
            KeepAddress(a->ai_addr, a->ai_addrlen, a->ai_family);
        ::freeaddrinfo(found);
        return ConnectNext();
    }
    if (found)
        ::freeaddrinfo(found);
    auto *lookup = new Lookup;
    lookup->host = m_target.host;
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
        return Failed(Where() + ": the host \"" + m_target.host + "\" cannot be looked up ("
            + ::gai_strerror(started) + ")");
    }
    m_lookup = lookup;
    return true;
}

int NetDevice::TakeLookup(std::string *reason) const
{
    const int state = ::gai_error(&m_lookup->request);
    if (state == EAI_INPROGRESS)
        return -1;
    const struct addrinfo *found = m_lookup->request.ar_result;
    if (state != 0 || !found) {
        *reason = ::gai_strerror(state);
        return 0;
    }
    for (const struct addrinfo *a = found; a; a = a->ai_next)
        KeepAddress(a->ai_addr, a->ai_addrlen, a->ai_family);
    return 1;
}

void NetDevice::DropLookup() const
{
    if (!m_lookup)
        return;
    Lookup *lookup = m_lookup;
    m_lookup = nullptr;
    if (Released(lookup)) {
        FreeLookup(lookup);
        return;
    }
    const std::lock_guard<std::mutex> lock(g_abandonedMutex);
    g_abandoned.push_back(lookup);
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
    const int error = m_lastConnectError;
    return FailedToConnect(
        error == ECONNREFUSED, error == ENETUNREACH || error == EHOSTUNREACH, SystemReason(error));
}

int NetDevice::ConnectState() const
{
    struct pollfd watch = { m_fd, POLLOUT, 0 };
    if (::poll(&watch, 1, 0) <= 0)
        return 0;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error == 0)
        return 1;
    m_lastConnectError = error;
    return -1;
}

void NetDevice::CloseSocket() const
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool NetDevice::MayHaveNews() const
{
    return true; // a receive that finds nothing costs one system call
}

int NetDevice::ReceiveSome(char *buffer, int size, int *error) const
{
    for (;;) {
        const ssize_t got = ::recv(m_fd, buffer, std::size_t(size), MSG_DONTWAIT);
        if (got >= 0)
            return int(got);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -1;
        *error = BrokenError(errno);
        return -2;
    }
}

int NetDevice::SendSome(const char *bytes, std::size_t count, int *error) const
{
    for (;;) {
        const ssize_t sent = ::send(m_fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0)
            return int(sent);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return -1;
        *error = sent < 0 ? BrokenError(errno) : 0;
        return -2;
    }
}

void NetDevice::WaitSocket(int ms, bool sending) const
{
    struct pollfd watch = { m_fd, short(sending || m_connecting ? POLLOUT : POLLIN), 0 };
    ::poll(&watch, m_fd >= 0 ? 1 : 0, ms);
}

int NetDevice::SocketOutput() const
{
    int count = 0;
    if (::ioctl(m_fd, SIOCOUTQ, &count) != 0)
        return 0;
    return std::max(count, 0);
}

std::intptr_t NetDevice::WaitHandle() const
{
    if (m_fd < 0)
        return -1;
    // Data kept from an earlier read would not make the socket readable again.
    return m_inRead < m_in.size() ? m_readyPipe[0] : m_fd;
}

void NetDevice::ArmWait() const { }
