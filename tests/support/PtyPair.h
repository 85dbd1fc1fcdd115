#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

// A pseudo-terminal pair for link tests: the link under test opens the slave (SlavePath), the
// test plays the far end (meter or Modbus slave) on the master.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool IsValid() const { return m_master >= 0; }
    QString SlavePath() const { return m_slavePath; }
    int MasterFd() const { return m_master; }
    // Writes all bytes to the link from the far end.
    bool Send(const QByteArray &bytes);
    // Everything the link sends within waitMs (returns early once quietMs pass with nothing new
    // after at least one byte).
    QByteArray Receive(int waitMs, int quietMs = 50);
    // Reads until count bytes came or timeoutMs passed without them.
    QByteArray ReceiveCount(int count, int timeoutMs);
    // The far end goes away (hang-up seen by the link).
    void CloseMaster();

private:
    int m_master = -1;
    QString m_slavePath;
};

// Records on its own thread every chunk the far end receives, with its arrival time, so tests
// can look at pacing while the link's call blocks the test thread.
class FarEndRecorder
{
public:
    using Clock = std::chrono::steady_clock;
    struct Chunk
    {
        QByteArray bytes;
        Clock::time_point at;
    };

    explicit FarEndRecorder(int masterFd);
    ~FarEndRecorder();
    // Stops recording and returns the chunks in arrival order.
    std::vector<Chunk> Stop();

private:
    void Run();

    int m_master;
    int m_stopPipe[2] = { -1, -1 };
    std::mutex m_mutex;
    std::vector<Chunk> m_chunks;
    std::thread m_thread;
};
