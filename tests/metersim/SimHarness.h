#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class CSerial;

// A running tarvik-metersim and the program's end of its pseudo-terminal: the real meter link
// (CSerial) opened on it. Tests send paced bytes and collect what the meter says.
class SimHarness
{
public:
    SimHarness();
    ~SimHarness();
    SimHarness(const SimHarness &) = delete;
    SimHarness &operator=(const SimHarness &) = delete;

    // Bytes of the [4.1A] image of the test layout.
    static constexpr int kTestImage41 = 26;
    // Writes a small layout file (sections [4.1A] of kTestImage41 bytes, [3.9G], [4.0A], [1.4A]).
    static int WriteTestLayout(const QString &path);

    // Starts the simulator with these options and opens its port. 1 on success.
    int Start(const QStringList &args);
    // Opens the port again (after ClosePort).
    int OpenPort();
    void ClosePort();
    // SIGTERM, then waits; the exit code, or -1 when it did not end within timeoutMs.
    int Terminate(int timeoutMs = 3000);
    bool IsRunning() const;
    int Pid() const { return m_pid; }
    QString SlavePath() const { return m_slave; }
    // The meter link on the simulator's port (pacing shortened tenfold, no per-byte total).
    CSerial &Link() { return *m_link; }
    // Seconds of CPU the simulator has used so far (user + system).
    double CpuSeconds() const;

    void Purge();
    // Writes each byte gapMs after the one before (as the link's paced sends do).
    void Send(const QByteArray &bytes, int gapMs = 3);
    // As the link's SendString on a real line: 20 ms before each byte, nothing after the last.
    void SendString(const QByteArray &bytes);
    // Collects until the line has been silent quietMs (after at least one byte) or timeoutMs.
    QByteArray ReadQuiet(int quietMs = 250, int timeoutMs = 5000);
    // Collects byte by byte until done(collected) holds or timeoutMs passes.
    QByteArray ReadUntil(const std::function<bool(const QByteArray &)> &done, int timeoutMs = 3000);
    QByteArray ReadUntilChar(char c, int timeoutMs = 3000);
    // A command-mode exchange: purge, send text + CR + LF, collect until quiet.
    QByteArray Command(const QByteArray &text, int quietMs = 250);
    // Eighteen dots: command mode. 1 when the ">" prompt came.
    int EnterCommandMode();

private:
    int m_pid = -1;
    std::unique_ptr<CSerial> m_link;
    int m_stdout = -1;
    QString m_slave;
    qint64 m_lastWriteMs = 0; // when Send wrote its last byte
    int m_lastGapMs = 0; // the gap that byte asked for before the next
};
