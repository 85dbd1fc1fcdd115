#pragma once

#include "link/NetPortText.h"
#include "link/TelnetCodec.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// The network half of SerialDevice: a serial line on a TCP port (tcp://, raw bytes), on a
// telnet server with the serial-port option (rfc2217://), or a Modbus TCP gateway
// (modbus-tcp://, raw bytes framed by the master). SerialDevice hands it every operation when
// the port text names a network port, so the link above it works as on a local device.
//
// Connecting never blocks: Open starts looking up the host's name (beside the event loop: the C
// library's asynchronous lookup; an address needs none) and then the connection, which
// completes (or fails: no such host, refused, or kConnectMs without an answer, the lookup
// included) in a later PollConnect; the link's waits poll it from the event loop. Bytes written
// meanwhile are kept and go out once it is connected. A connection the server closes or resets is
// Gone (once what arrived before has been read); nothing kept from it is sent again on the next
// connection.
class NetDevice
{
public:
    static constexpr int kConnectMs = 3000;

    NetDevice() = default;
    ~NetDevice();
    NetDevice(const NetDevice &) = delete;
    NetDevice &operator=(const NetDevice &) = delete;

    bool Open(const NetPortText &target);
    void Close();
    // A connection that failed or broke stays open (and Gone) until closed, as a hung-up line.
    bool IsOpen() const { return m_fd >= 0 || m_gone || m_lookup; }
    // Whether the host is still being looked up or the connection still being made
    // (PollConnect has more to learn).
    bool Connecting() const { return (m_fd >= 0 || m_lookup) && m_connecting; }
    // Looks, without waiting, whether the connection has been made; false while it is still
    // being made and when it failed (Gone, LastError says why).
    bool PollConnect() const;

    // Speed and format: the telnet server is told them; a raw server keeps its own.
    bool Configure(int speed, char parity, int stopBits, bool modemLines);
    void PurgeInput();
    void PurgeBoth();
    int PendingInput() const;
    int PendingOutput() const;
    int ReadNow(unsigned char *byte);
    bool Write(const char *bytes, int count, int timeoutMs);
    bool WaitReadable(int timeoutMs) const;
    std::intptr_t WaitHandle() const;
    // Windows: resets the wait handle (an event) and signals it again at once when data is
    // kept or the connection has news; nothing on POSIX, where the handle is a descriptor.
    void ArmWait() const;
    bool CheckHangUp();

    bool Gone() const { return m_gone && m_in.size() == m_inRead; }
    std::string LastError() const { return m_lastError; }
    // "HOST:PORT", as messages name the far end.
    std::string Where() const { return m_target.HostPort(); }
    NetPortText::Kind Kind() const { return m_target.kind; }
    // A telnet server that refused COM-PORT-OPTION: the line keeps the server's speed.
    bool ComPortRefused() const
    {
        return m_target.kind == NetPortText::Kind::Telnet
            && m_telnet.ComPortState() == TelnetCodec::ComPort::Refused;
    }

    // A lookup of the host's name under way (defined where it is made).
    struct Lookup;
    // Lookups given up on (timed out, cancelled, closed) that the system is still working on;
    // each is freed once it ends.
    static int LookupsLeftRunning();

private:
    using Clock = std::chrono::steady_clock;

    // What both platforms share (NetDevice.cpp): the connection's rules and its messages.
    // Keeps one address of a lookup's result (sockaddr bytes), in order.
    void KeepAddress(const void *address, std::size_t size, int family) const;
    // The lookup under way, if any, is looked at: false while it goes on or when it failed
    // (Gone); true once the addresses are known and a connection has been started.
    bool PollLookup() const;
    // The reason a connection could not be started or made, from the last attempt's error.
    bool FailedToConnect(bool refused, bool unreachable, const std::string &reason) const;
    void Connected() const;
    // Reads what the socket has, without waiting, into the input (telnet decoded).
    void Drain() const;
    // Sends bytes already escaped; false (and Gone) when the connection broke.
    bool SendRaw(const std::string &bytes, int timeoutMs) const;
    bool Failed(const std::string &reason) const;
    // The connection broke; error 0 when it simply closed.
    void Broken(int error) const;

    // What each platform does its own way (NetDevicePosix.cpp, NetDeviceWin32.cpp).
    static std::string SystemReason(int error);
    // Makes what WaitHandle gives out; false (LastError says why) when the system refuses.
    bool MakeWaitHandle();
    // Starts with an address at once, or starts looking up a name; false when that failed.
    bool StartLookup(const std::string &service);
    // The lookup under way: -1 while it goes on, 0 when it failed (reason says why), 1 when
    // its addresses have been kept.
    int TakeLookup(std::string *reason) const;
    // Ends the lookup under way; one the system cannot stop any more is freed once it ends.
    void DropLookup() const;
    // Starts connecting to the next address; false when none is left (or they all failed).
    bool ConnectNext() const;
    // Whether the connection being made is made: 1 made, 0 not yet, -1 failed (the error kept
    // in m_lastConnectError).
    int ConnectState() const;
    void CloseSocket() const;
    // Whether the socket can have anything new since it was last read.
    bool MayHaveNews() const;
    // One receive without waiting: the count (> 0), 0 when the server closed, -1 when nothing is
    // there, -2 when the connection broke (*error says why; 0 when the system's words add nothing).
    int ReceiveSome(char *buffer, int size, int *error) const;
    // One send without waiting: the count sent, -1 when the socket takes nothing now, -2 when
    // the connection broke (*error as for ReceiveSome).
    int SendSome(const char *bytes, std::size_t count, int *error) const;
    // Waits up to ms for the socket to take more bytes (sending), or for news: input, or the
    // connection made or failed.
    void WaitSocket(int ms, bool sending) const;
    // What the system's send buffer still holds (0 where it does not tell).
    int SocketOutput() const;

    NetPortText m_target;
    mutable Lookup *m_lookup = nullptr;
#ifdef _WIN32
    mutable std::intptr_t m_fd = -1; // the SOCKET
#else
    mutable int m_fd = -1;
#endif
    mutable bool m_connecting = false;
    mutable Clock::time_point m_connectDeadline;
    mutable std::vector<std::vector<unsigned char>> m_addresses; // sockaddr bytes, in order
    mutable std::vector<int> m_families;
    mutable std::size_t m_nextAddress = 0;
    mutable int m_lastConnectError = 0;
    mutable std::string m_heldOutput; // written while connecting, already escaped
    mutable std::string m_in; // received data (telnet decoded)
    mutable std::size_t m_inRead = 0; // how much of m_in was read
    mutable TelnetCodec m_telnet;
    mutable bool m_gone = false;
    mutable std::string m_lastError;
#ifdef _WIN32
    void *m_event = nullptr; // the socket's network events, the wait handle
#else
    int m_readyPipe[2] = { -1, -1 }; // always readable: the wait handle while data is kept
#endif
};
