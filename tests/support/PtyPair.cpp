#include "support/PtyPair.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return;
    char name[128] = {};
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0
        || ::ptsname_r(m_master, name, sizeof name) != 0) {
        ::close(m_master);
        m_master = -1;
        return;
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair()
{
    CloseMaster();
}

bool PtyPair::Send(const QByteArray &bytes)
{
    int done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += int(n);
        } else if (n < 0 && errno == EAGAIN) {
            struct pollfd watch = { m_master, POLLOUT, 0 };
            if (::poll(&watch, 1, 1000) <= 0)
                return false;
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    return done == bytes.size();
}

QByteArray PtyPair::Receive(int waitMs, int quietMs)
{
    QByteArray got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (m_master >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        struct pollfd watch = { m_master, POLLIN, 0 };
        const int ready
            = ::poll(&watch, 1, int(got.isEmpty() ? left : std::min<long>(left, quietMs)));
        if (ready <= 0) {
            if (!got.isEmpty())
                break;
            continue;
        }
        char buffer[512];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, int(n));
        else if (!(n < 0 && errno == EAGAIN))
            break; // slave closed (EIO)
    }
    return got;
}

void PtyPair::CloseMaster()
{
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

FarEndRecorder::FarEndRecorder(int masterFd)
    : m_master(masterFd)
{
    if (::pipe2(m_stopPipe, O_CLOEXEC) != 0)
        std::abort();
    m_thread = std::thread([this] { Run(); });
}

FarEndRecorder::~FarEndRecorder()
{
    Stop();
    ::close(m_stopPipe[0]);
    ::close(m_stopPipe[1]);
}

std::vector<FarEndRecorder::Chunk> FarEndRecorder::Stop()
{
    if (m_thread.joinable()) {
        const char stop = 1;
        (void)!::write(m_stopPipe[1], &stop, 1);
        m_thread.join();
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_chunks;
}

void FarEndRecorder::Run()
{
    for (;;) {
        struct pollfd watch[2] = { { m_master, POLLIN, 0 }, { m_stopPipe[0], POLLIN, 0 } };
        if (::poll(watch, 2, -1) < 0 && errno != EINTR)
            return;
        if (watch[0].revents & POLLIN) {
            const auto at = Clock::now();
            char buffer[512];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0) {
                std::lock_guard<std::mutex> guard(m_mutex);
                m_chunks.push_back({ QByteArray(buffer, int(n)), at });
            }
        } else if (watch[0].revents & (POLLHUP | POLLERR)) {
            // No slave open yet or any more: wait for the stop signal without spinning.
            struct pollfd stop = { m_stopPipe[0], POLLIN, 0 };
            if (::poll(&stop, 1, 5) > 0)
                return;
        }
        if (watch[1].revents & POLLIN)
            return;
    }
}

QByteArray PtyPair::ReceiveCount(int count, int timeoutMs)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < count) {
        const int left = timeoutMs - int(clock.elapsed());
        if (left <= 0)
            break;
        pollfd fd { m_master, POLLIN, 0 };
        if (poll(&fd, 1, left) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = read(m_master, buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            break;
    }
    return got;
}
