#pragma once

#include <QByteArray>
#include <QString>

// The simulators' end of a pseudo-terminal, or of a TCP port (OpenTcp): owns the master side, the
// optional symlink to the slave device, and the output pacing of a real line speed. The program
// under test opens the slave as if it were a serial port. Used by the meter simulator and the
// Modbus network simulator; it knows nothing of either protocol.
//
// While no program holds the slave open the master reports hang-up on every poll; the port
// then sleeps in poll(2) instead of returning at once, so an idle simulator never spins, and
// output written meanwhile is dropped (as a real line drops what nobody listens to).
class PtyPort
{
public:
    PtyPort() = default;
    ~PtyPort();
    PtyPort(const PtyPort &) = delete;
    PtyPort &operator=(const PtyPort &) = delete;

    // Creates the pseudo-terminal in raw mode (8 bits, no echo, no line editing) and, when
    // linkPath is given, a symlink to the slave there (an existing symlink is replaced, any
    // other file is left alone and makes Open fail). 1 on success, 0 with LastError set.
    int Open(const QString &linkPath = QString());
    // Listens on 127.0.0.1:port instead (0: a free port) and serves the line's bytes raw to one
    // connection at a time, as a device server's raw TCP mode does; a newer connection takes
    // over from an older one. SlavePath is then "tcp://127.0.0.1:PORT".
    int OpenTcp(int port);
    // Closes the master and removes the symlink this port made.
    void Close();
    int IsOpen() const { return m_master >= 0 || m_listener >= 0; }

    QString SlavePath() const { return m_slavePath; }
    QString LinkPath() const { return m_linkPath; }
    QString LastError() const { return m_lastError; }
    int MasterFd() const { return m_master; }

    // Paces Write at the time a real line of this speed takes (10 bits per byte, 8N1);
    // 0 writes at once.
    void SetBaud(int baud) { m_baud = baud < 0 ? 0 : baud; }
    int Baud() const { return m_baud; }

    // 1 while a program holds the slave open.
    int IsConnected() const;

    // Sleeps until the program sends something, a stop is requested or timeoutMs passes.
    // 1: bytes are waiting; 0: nothing (time-out, stop request, or no program connected:
    // then it sleeps the whole time-out, at most kIdleSleepMs); -1: the port is not open.
    int WaitInput(int timeoutMs);
    // Whatever the program has sent and is waiting now, at most maxBytes; never blocks.
    QByteArray ReadAvailable(int maxBytes = 4096);
    // Writes all bytes, paced by the baud rate. Returns the count handed to the line; bytes
    // that cannot go out (no program connected, or it stopped reading for a long time) are
    // dropped and not counted.
    int Write(const QByteArray &bytes);

    // SIGTERM, SIGINT and SIGHUP set a flag and wake WaitInput at once (self-pipe), so a
    // simulator's loop ends cleanly. Call once before the loop.
    static void InstallStopSignals();
    static int StopRequested();
    // Sleeps up to ms, woken early by a stop request.
    static void SleepMs(int ms);

    static constexpr int kIdleSleepMs = 50;

private:
    int WriteSome(const char *data, int count);
    // The descriptor bytes go through: the master, or the TCP connection (-1 when none).
    int LineFd() const { return m_listener >= 0 ? m_peer : m_master; }
    void DropPeer();
    // A connection waiting on the listener is taken.
    void AcceptPeer();

    int m_master = -1;
    int m_listener = -1;
    int m_peer = -1;
    int m_baud = 0;
    bool m_readFailed = false; // a read after the program closed its end failed
    QString m_slavePath;
    QString m_linkPath;
    QString m_lastError;
};
