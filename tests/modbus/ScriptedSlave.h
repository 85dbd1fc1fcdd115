#pragma once

#include <QByteArray>
#include <QList>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// A slave for transaction tests: on its own thread it reads each 8-byte request from the
// slave end of a SocatPair (or each request of requestSize bytes from a socket: 12 for Modbus
// TCP) and writes back whatever the test's script returns for it (nothing for silence).
// Records the requests it saw.
class ScriptedSlave
{
public:
    using Script = std::function<QByteArray(const QByteArray &request, int index)>;
    ScriptedSlave(int fd, Script script, int requestSize = 8);
    ~ScriptedSlave();
    QList<QByteArray> Requests();

private:
    void Run();

    int m_fd;
    int m_requestSize;
    Script m_script;
    std::atomic<bool> m_stop { false };
    std::mutex m_mutex;
    QList<QByteArray> m_requests;
    std::thread m_thread;
};
