#include "link/NetDevice.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

// The Winsock half: a non-blocking socket whose network events (WSAEventSelect) signal the wait
// handle, and a name looked up on a thread of its own (the system has no lookup the event loop
// could poll).

// One lookup on its own thread: shared by the device and the thread, freed by whichever lets go
// last (a name server that does not answer outlives the device that gave up on it).
struct NetDevice::Lookup
{
    std::string host;
    std::string service;
    struct addrinfo *result = nullptr;
    int error = 0;
    volatile LONG done = 0;
    volatile LONG holders = 2;
};

namespace {

// Lookups whose device let go of them while their thread still works.
volatile LONG g_leftRunning = 0;

SOCKET Sock(std::intptr_t fd)
{
    return static_cast<SOCKET>(fd);
}

void Release(NetDevice::Lookup *lookup, bool byThread)
{
    const LONG left = InterlockedDecrement(&lookup->holders);
    if (left == 1 && !byThread)
        InterlockedIncrement(&g_leftRunning);
    if (left != 0)
        return;
    if (byThread)
        InterlockedDecrement(&g_leftRunning);
    if (lookup->result)
        freeaddrinfo(lookup->result);
    delete lookup;
}

DWORD WINAPI LookUp(void *argument)
{
    auto *lookup = static_cast<NetDevice::Lookup *>(argument);
    struct addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
    lookup->error
        = getaddrinfo(lookup->host.c_str(), lookup->service.c_str(), &hints, &lookup->result);
    InterlockedExchange(&lookup->done, 1);
    Release(lookup, true);
    return 0;
}

// Winsock is started once for the process and left running to its end.
bool StartWinsock()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// A reset or aborted connection is said as closed, without the system's words.
int BrokenError(int error)
{
    return error == WSAECONNRESET || error == WSAECONNABORTED ? 0 : error;
}

} // namespace

NetDevice::~NetDevice()
{
    Close();
    if (m_event)
        WSACloseEvent(m_event);
    m_event = nullptr;
}

int NetDevice::LookupsLeftRunning()
{
    return int(InterlockedCompareExchange(&g_leftRunning, 0, 0));
}

std::string NetDevice::SystemReason(int error)
{
    char *text = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(error), 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string reason = text ? text : "error " + std::to_string(error);
    if (text)
        LocalFree(text);
    while (!reason.empty()
        && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'
            || reason.back() == ' '))
        reason.pop_back();
    return reason;
}

bool NetDevice::MakeWaitHandle()
{
    if (!StartWinsock())
        return Failed(Where() + ": Winsock did not start");
    if (!m_event && !(m_event = WSACreateEvent()))
        return Failed(Where() + ": " + SystemReason(WSAGetLastError()));
    return true;
}

bool NetDevice::StartLookup(const std::string &service)
{
    struct addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    struct addrinfo *found = nullptr;
    if (getaddrinfo(m_target.host.c_str(), service.c_str(), &hints, &found) == 0 && found) {
        for (const struct addrinfo *a = found; a; a = a->ai_next)
            KeepAddress(a->ai_addr, a->ai_addrlen, a->ai_family);
        freeaddrinfo(found);
        return ConnectNext();
    }
    if (found)
        freeaddrinfo(found);
    auto *lookup = new Lookup;
    lookup->host = m_target.host;
    lookup->service = service;
    HANDLE thread = CreateThread(nullptr, 0, LookUp, lookup, 0, nullptr);
    if (!thread) {
        delete lookup;
        return Failed(Where() + ": the host \"" + m_target.host + "\" cannot be looked up ("
            + SystemReason(int(GetLastError())) + ")");
    }
    CloseHandle(thread);
    m_lookup = lookup;
    return true;
}

int NetDevice::TakeLookup(std::string *reason) const
{
    if (InterlockedCompareExchange(&m_lookup->done, 1, 1) == 0)
        return -1;
    const struct addrinfo *found = m_lookup->result;
    if (m_lookup->error != 0 || !found) {
        *reason = SystemReason(m_lookup->error);
        return 0;
    }
    for (const struct addrinfo *a = found; a; a = a->ai_next)
        KeepAddress(a->ai_addr, a->ai_addrlen, a->ai_family);
    return 1;
}

void NetDevice::DropLookup() const
{
    if (m_lookup)
        Release(m_lookup, false);
    m_lookup = nullptr;
}

bool NetDevice::ConnectNext() const
{
    while (m_nextAddress < m_addresses.size()) {
        const std::vector<unsigned char> &address = m_addresses[m_nextAddress];
        const int family = m_families[m_nextAddress];
        ++m_nextAddress;
        const SOCKET fd = socket(family, SOCK_STREAM, IPPROTO_TCP);
        if (fd == INVALID_SOCKET) {
            m_lastConnectError = WSAGetLastError();
            continue;
        }
        // Each paced byte leaves at once, as on a local line.
        const BOOL on = TRUE;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
        // Non-blocking from here on; the event is set by whatever the connection has to tell.
        WSAEventSelect(fd, m_event, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE);
        const int result = connect(
            fd, reinterpret_cast<const struct sockaddr *>(address.data()), int(address.size()));
        if (result == 0 || WSAGetLastError() == WSAEWOULDBLOCK) {
            m_fd = std::intptr_t(fd);
            m_connecting = true;
            return true;
        }
        m_lastConnectError = WSAGetLastError();
        closesocket(fd);
    }
    const int error = m_lastConnectError;
    return FailedToConnect(error == WSAECONNREFUSED,
        error == WSAENETUNREACH || error == WSAEHOSTUNREACH, SystemReason(error));
}

int NetDevice::ConnectState() const
{
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(Sock(m_fd), &writable);
    FD_SET(Sock(m_fd), &failed);
    timeval now = { 0, 0 };
    if (select(0, nullptr, &writable, &failed, &now) <= 0)
        return 0;
    if (!FD_ISSET(Sock(m_fd), &failed))
        return 1;
    int error = 0;
    int size = sizeof error;
    getsockopt(Sock(m_fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size);
    m_lastConnectError = error ? error : WSAECONNREFUSED;
    return -1;
}

void NetDevice::CloseSocket() const
{
    if (m_fd >= 0)
        closesocket(Sock(m_fd));
    m_fd = -1;
}

bool NetDevice::MayHaveNews() const
{
    // Nothing came since the socket was last read (its event would say so): no call to make.
    // A byte-wise reader counts before every byte, and each socket call is costly under wine.
    if (m_inRead < m_in.size() && WaitForSingleObject(m_event, 0) == WAIT_TIMEOUT)
        return false;
    // Reset before reading: whatever the reads leave, or what comes after, sets it again.
    WSAResetEvent(m_event);
    return true;
}

int NetDevice::ReceiveSome(char *buffer, int size, int *error) const
{
    const int got = recv(Sock(m_fd), buffer, size, 0);
    if (got >= 0)
        return got;
    const int reason = WSAGetLastError();
    if (reason == WSAEWOULDBLOCK)
        return -1;
    *error = BrokenError(reason);
    return -2;
}

int NetDevice::SendSome(const char *bytes, std::size_t count, int *error) const
{
    const int sent = send(Sock(m_fd), bytes, int(count), 0);
    if (sent > 0)
        return sent;
    const int reason = sent < 0 ? WSAGetLastError() : 0;
    if (reason == WSAEWOULDBLOCK)
        return -1;
    *error = BrokenError(reason);
    return -2;
}

void NetDevice::WaitSocket(int ms, bool sending) const
{
    if (!sending) {
        ArmWait();
        WaitForSingleObject(m_event, DWORD(ms));
        return;
    }
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(Sock(m_fd), &writable);
    timeval wait = { ms / 1000, (ms % 1000) * 1000 };
    select(0, nullptr, &writable, nullptr, &wait);
}

int NetDevice::SocketOutput() const
{
    // Winsock does not tell what its send buffer still holds: only what waits for the
    // connection is counted.
    return 0;
}

std::intptr_t NetDevice::WaitHandle() const
{
    return m_fd >= 0 ? reinterpret_cast<std::intptr_t>(m_event) : -1;
}

void NetDevice::ArmWait() const
{
    if (m_fd < 0 || !m_event)
        return;
    // Takes the events that came (resetting the event); data kept or news of the connection
    // signal it again at once, as a readable descriptor would stay readable.
    WSANETWORKEVENTS events = {};
    WSAEnumNetworkEvents(Sock(m_fd), m_event, &events);
    if ((events.lNetworkEvents & FD_CLOSE) || PendingInput() > 0 || m_gone)
        WSASetEvent(m_event);
}
