#include "PtyPair.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return;
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        close(m_master);
        m_master = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(ptsname(m_master));
    // Raw from the start, so nothing the test sends is echoed or translated before the link
    // under test configures the line itself.
    const int slave = open(ptsname(m_master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) {
        termios settings {};
        if (tcgetattr(slave, &settings) == 0) {
            cfmakeraw(&settings);
            tcsetattr(slave, TCSANOW, &settings);
        }
        close(slave);
    }
}

PtyPair::~PtyPair()
{
    if (m_master >= 0)
        close(m_master);
}

bool PtyPair::Send(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray PtyPair::Receive(int count, int timeoutMs)
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
