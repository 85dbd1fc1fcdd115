#include "link/NetDevice.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>

// The Winsock half: the same connection rules as NetDevicePosix.cpp, with a non-blocking socket
// whose network events (WSAEventSelect) signal the wait handle, and a name looked up on a thread
// of its own (the system has no lookup the event loop could poll).

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

constexpr int kChunk = 4096;

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point end)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, 1 << 30));
}

SOCKET Sock(std::intptr_t fd)
{
    return static_cast<SOCKET>(fd);
}

std::string SocketReason(int error)
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

void Release(NetDevice::Lookup *lookup)
{
    if (InterlockedDecrement(&lookup->holders) != 0)
        return;
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
    Release(lookup);
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

} // namespace

NetDevice::~NetDevice()
{
    Close();
    if (m_event)
        WSACloseEvent(m_event);
    m_event = nullptr;
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
    if (!StartWinsock())
        return Failed(Where() + ": Winsock did not start");
    if (!m_event && !(m_event = WSACreateEvent()))
        return Failed(Where() + ": " + SocketReason(WSAGetLastError()));
    m_nextAddress = 0;
    m_lastConnectError = 0;
    m_connectDeadline = Clock::now() + std::chrono::milliseconds(kConnectMs);
    m_connecting = true;
    if (m_target.kind == NetPortText::Kind::Telnet)
        m_heldOutput = m_telnet.Start();
    struct addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    struct addrinfo *found = nullptr;
    const std::string service = std::to_string(target.port);
    if (getaddrinfo(target.host.c_str(), service.c_str(), &hints, &found) == 0 && found) {
        TakeAddresses(found);
        freeaddrinfo(found);
        if (!ConnectNext()) {
            m_connecting = false;
            return false;
        }
    } else {
        if (found)
            freeaddrinfo(found);
        auto *lookup = new Lookup;
        lookup->host = target.host;
        lookup->service = service;
        HANDLE thread = CreateThread(nullptr, 0, LookUp, lookup, 0, nullptr);
        if (!thread) {
            delete lookup;
            m_connecting = false;
            return Failed(Where() + ": the host \"" + target.host + "\" cannot be looked up ("
                + SocketReason(int(GetLastError())) + ")");
        }
        CloseHandle(thread);
        m_lookup = lookup;
    }
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
    if (m_lookup)
        Release(m_lookup);
    m_lookup = nullptr;
}

bool NetDevice::PollLookup() const
{
    if (InterlockedCompareExchange(&m_lookup->done, 1, 1) == 0) {
        if (Clock::now() >= m_connectDeadline) {
            DropLookup();
            m_connecting = false;
            m_gone = true;
            Failed(Where() + ": the host \"" + m_target.host + "\" cannot be found (no answer "
                + "from the name server within " + std::to_string(kConnectMs / 1000) + " s)");
        }
        return false;
    }
    const struct addrinfo *found = m_lookup->result;
    if (m_lookup->error != 0 || !found) {
        const int error = m_lookup->error;
        DropLookup();
        m_connecting = false;
        m_gone = true;
        Failed(Where() + ": the host \"" + m_target.host + "\" cannot be found ("
            + SocketReason(error) + ")");
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
    if (m_lastConnectError == WSAECONNREFUSED)
        return Failed(Where() + ": the connection was refused (no server listens on that port)");
    if (m_lastConnectError == WSAENETUNREACH || m_lastConnectError == WSAEHOSTUNREACH)
        return Failed(
            Where() + ": the host cannot be reached (" + SocketReason(m_lastConnectError) + ")");
    return Failed(Where() + ": cannot connect (" + SocketReason(m_lastConnectError) + ")");
}

bool NetDevice::PollConnect() const
{
    if (m_lookup && !PollLookup())
        return false;
    if (m_fd < 0)
        return false;
    if (!m_connecting)
        return true;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(Sock(m_fd), &writable);
    FD_SET(Sock(m_fd), &failed);
    timeval now = { 0, 0 };
    if (select(0, nullptr, &writable, &failed, &now) > 0) {
        if (!FD_ISSET(Sock(m_fd), &failed)) {
            Connected();
            return !m_gone;
        }
        int error = 0;
        int size = sizeof error;
        getsockopt(Sock(m_fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size);
        m_lastConnectError = error ? error : WSAECONNREFUSED;
        closesocket(Sock(m_fd));
        m_fd = -1;
        if (!ConnectNext()) {
            m_gone = true;
            m_connecting = false;
        }
        return false;
    }
    if (Clock::now() >= m_connectDeadline) {
        closesocket(Sock(m_fd));
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
        closesocket(Sock(m_fd));
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
    if (error != 0)
        m_lastError += " (" + SocketReason(error) + ")";
}

void NetDevice::Drain() const
{
    if (!PollConnect() || m_gone)
        return;
    // Nothing came since the socket was last read (its event would say so): no call to make.
    // A byte-wise reader counts before every byte, and each socket call is costly under wine.
    if (m_inRead < m_in.size() && WaitForSingleObject(m_event, 0) == WAIT_TIMEOUT)
        return;
    // Reset before reading: whatever the reads leave, or what comes after, sets it again.
    WSAResetEvent(m_event);
    if (m_inRead > 0 && m_inRead == m_in.size()) {
        m_in.clear();
        m_inRead = 0;
    }
    char buffer[kChunk];
    for (;;) {
        const int got = recv(Sock(m_fd), buffer, int(sizeof buffer), 0);
        if (got > 0) {
            if (m_target.kind == NetPortText::Kind::Telnet) {
                const std::string reply = m_telnet.Feed(buffer, got, &m_in);
                if (!reply.empty())
                    SendRaw(reply, 1000);
            } else {
                m_in.append(buffer, std::size_t(got));
            }
            if (got < int(sizeof buffer))
                return;
            continue;
        }
        if (got == 0) {
            Broken(0);
            return;
        }
        const int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK)
            Broken(error == WSAECONNRESET || error == WSAECONNABORTED ? 0 : error);
        return;
    }
}

bool NetDevice::SendRaw(const std::string &bytes, int timeoutMs) const
{
    const auto end = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int sent = send(Sock(m_fd), bytes.data() + done, int(bytes.size() - done), 0);
        if (sent > 0) {
            done += std::size_t(sent);
            continue;
        }
        const int error = sent < 0 ? WSAGetLastError() : 0;
        if (error == WSAEWOULDBLOCK) {
            const int waitMs = MsLeft(end);
            if (waitMs <= 0)
                return Failed(Where() + ": the server took no more bytes within the time-out");
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(Sock(m_fd), &writable);
            timeval wait = { waitMs / 1000, (waitMs % 1000) * 1000 };
            select(0, nullptr, &writable, nullptr, &wait);
            continue;
        }
        Broken(error == WSAECONNRESET || error == WSAECONNABORTED ? 0 : error);
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
    // Winsock does not tell what its send buffer still holds: only what waits for the
    // connection is counted.
    return Connecting() ? int(m_heldOutput.size()) : 0;
}

int NetDevice::ReadNow(unsigned char *out)
{
    if (!out || PendingInput() == 0)
        return 0;
    *out = static_cast<unsigned char>(m_in[m_inRead++]);
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
        ArmWait();
        WaitForSingleObject(m_event, DWORD(std::min(MsLeft(end), m_connecting ? 10 : 1 << 30)));
    }
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

bool NetDevice::CheckHangUp()
{
    Drain();
    return Gone();
}
