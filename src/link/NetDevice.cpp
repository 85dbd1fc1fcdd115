#include "link/NetDevice.h"

#include "link/Deadline.h"

#include <algorithm>

// The connection's rules, the same on every platform: the lookup's and the connect's deadline,
// what is kept while connecting, the telnet layer, and every message. The socket calls are in
// NetDevicePosix.cpp or NetDeviceWin32.cpp, whichever the build chose.

namespace {

constexpr int kChunk = 4096;

} // namespace

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
    if (!MakeWaitHandle())
        return false;
    m_addresses.clear();
    m_families.clear();
    m_nextAddress = 0;
    m_lastConnectError = 0;
    m_connectDeadline = Clock::now() + std::chrono::milliseconds(kConnectMs);
    m_connecting = true;
    if (m_target.kind == NetPortText::Kind::Telnet)
        m_heldOutput = m_telnet.Start();
    // An address needs no name server: connected to at once. A name may wait on a name server
    // for seconds, so it is looked up beside the event loop and PollConnect takes the result.
    if (!StartLookup(std::to_string(target.port))) {
        m_connecting = false;
        return false;
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

void NetDevice::KeepAddress(const void *address, std::size_t size, int family) const
{
    const auto *bytes = static_cast<const unsigned char *>(address);
    m_addresses.emplace_back(bytes, bytes + size);
    m_families.push_back(family);
}

bool NetDevice::PollLookup() const
{
    std::string reason;
    const int state = TakeLookup(&reason);
    if (state < 0 && Clock::now() < m_connectDeadline)
        return false;
    DropLookup();
    if (state > 0) {
        m_nextAddress = 0;
        if (ConnectNext())
            return true;
    } else if (state < 0) {
        Failed(Where() + ": the host \"" + m_target.host + "\" cannot be found (no answer "
            + "from the name server within " + std::to_string(kConnectMs / 1000) + " s)");
    } else {
        Failed(Where() + ": the host \"" + m_target.host + "\" cannot be found (" + reason + ")");
    }
    m_connecting = false;
    m_gone = true;
    return false;
}

bool NetDevice::FailedToConnect(bool refused, bool unreachable, const std::string &reason) const
{
    if (refused)
        return Failed(Where() + ": the connection was refused (no server listens on that port)");
    if (unreachable)
        return Failed(Where() + ": the host cannot be reached (" + reason + ")");
    return Failed(Where() + ": cannot connect (" + reason + ")");
}

bool NetDevice::PollConnect() const
{
    if (m_lookup && !PollLookup())
        return false;
    if (m_fd < 0)
        return false;
    if (!m_connecting)
        return true;
    const int state = ConnectState();
    if (state > 0) {
        Connected();
        return !m_gone;
    }
    if (state < 0) {
        CloseSocket();
        // The next address, if any; the failure stays in LastError until the next Open.
        if (!ConnectNext()) {
            m_gone = true;
            m_connecting = false;
        }
        return false;
    }
    if (Clock::now() >= m_connectDeadline) {
        CloseSocket();
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
    CloseSocket();
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
        m_lastError += " (" + SystemReason(error) + ")";
}

void NetDevice::Drain() const
{
    if (!PollConnect() || m_gone)
        return;
    if (m_inRead > 0 && m_inRead == m_in.size()) {
        m_in.clear();
        m_inRead = 0;
    }
    if (!MayHaveNews())
        return;
    char buffer[kChunk];
    for (;;) {
        int error = 0;
        const int got = ReceiveSome(buffer, int(sizeof buffer), &error);
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
        if (got == 0 || got == -2)
            Broken(error);
        return;
    }
}

bool NetDevice::SendRaw(const std::string &bytes, int timeoutMs) const
{
    const auto end = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::size_t done = 0;
    while (done < bytes.size()) {
        int error = 0;
        const int sent = SendSome(bytes.data() + done, bytes.size() - done, &error);
        if (sent > 0) {
            done += std::size_t(sent);
            continue;
        }
        if (sent == -1) {
            const int waitMs = MsUntil(end);
            if (waitMs <= 0)
                return Failed(Where() + ": the server took no more bytes within the time-out");
            WaitSocket(waitMs, true);
            continue;
        }
        Broken(error);
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
    // What the system already sent cannot be called back; the server is told to drop both.
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
    return m_fd >= 0 ? SocketOutput() : 0;
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
        if (m_gone || (m_fd < 0 && !m_lookup) || MsUntil(end) <= 0)
            return false;
        // While connecting, looked at often: the deadline is PollConnect's to keep.
        WaitSocket(std::min(MsUntil(end), m_connecting ? 10 : 1 << 30), false);
    }
}

bool NetDevice::CheckHangUp()
{
    Drain();
    return Gone();
}
