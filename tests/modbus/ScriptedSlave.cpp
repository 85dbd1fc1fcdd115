#include "ScriptedSlave.h"

#include "SocatPair.h"

#include <poll.h>
#include <unistd.h>

ScriptedSlave::ScriptedSlave(int fd, Script script, int requestSize)
    : m_fd(fd)
    , m_requestSize(requestSize)
    , m_script(std::move(script))
    , m_thread([this] { Run(); })
{
}

ScriptedSlave::~ScriptedSlave()
{
    m_stop = true;
    m_thread.join();
}

QList<QByteArray> ScriptedSlave::Requests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void ScriptedSlave::Run()
{
    QByteArray pending;
    while (!m_stop) {
        pollfd p { m_fd, POLLIN, 0 };
        if (::poll(&p, 1, 20) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0) {
            ::poll(nullptr, 0, 5);
            continue;
        }
        pending.append(buffer, n);
        while (pending.size() >= m_requestSize) {
            const QByteArray request = pending.left(m_requestSize);
            pending.remove(0, m_requestSize);
            int index = 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                index = int(m_requests.size());
                m_requests.append(request);
            }
            const QByteArray reply = m_script(request, index);
            if (!reply.isEmpty())
                SocatPair::WriteAll(m_fd, reply);
        }
    }
}
