#include "PtyPort.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

int g_stopPipe[2] = { -1, -1 };
volatile sig_atomic_t g_stopFlag = 0;

void OnStopSignal(int)
{
    g_stopFlag = 1;
    if (g_stopPipe[1] >= 0) {
        const char byte = 1;
        const ssize_t ignored = ::write(g_stopPipe[1], &byte, 1);
        (void)ignored;
    }
}

QString ErrnoText(const char *what)
{
    return QStringLiteral("%1: %2").arg(
        QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno)));
}

void MakeRaw(int fd)
{
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0)
        return;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);
}

// Time in ms since some fixed point, for pacing deadlines.
qint64 NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

PtyPort::~PtyPort()
{
    Close();
}

int PtyPort::Open(const QString &linkPath)
{
    Close();
    m_lastError.clear();
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_lastError = ErrnoText("posix_openpt");
        return 0;
    }
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
        m_lastError = ErrnoText("grantpt/unlockpt");
        ::close(fd);
        return 0;
    }
    char name[256] = {};
    if (::ptsname_r(fd, name, sizeof name) != 0) {
        m_lastError = ErrnoText("ptsname");
        ::close(fd);
        return 0;
    }
    MakeRaw(fd);
    // The slave starts in cooked mode (echo, CR to LF); a program that opens it without
    // configuring it fully should still see the bytes as they are sent.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) {
        MakeRaw(slave);
        ::close(slave);
    }
    m_master = fd;
    m_slavePath = QString::fromLocal8Bit(name);

    if (!linkPath.isEmpty()) {
        const QByteArray link = linkPath.toLocal8Bit();
        struct stat st
        {
        };
        if (::lstat(link.constData(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                m_lastError
                    = QStringLiteral("%1 exists and is not a symlink; not replaced").arg(linkPath);
                Close();
                return 0;
            }
            ::unlink(link.constData());
        }
        if (::symlink(name, link.constData()) != 0) {
            m_lastError = ErrnoText("symlink");
            Close();
            return 0;
        }
        m_linkPath = linkPath;
    }
    return 1;
}

int PtyPort::OpenTcp(int port)
{
    Close();
    m_lastError.clear();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        m_lastError = ErrnoText("socket");
        return 0;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(fd, 4) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
        m_lastError = ErrnoText("127.0.0.1 port");
        ::close(fd);
        return 0;
    }
    m_listener = fd;
    m_slavePath = QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(address.sin_port));
    return 1;
}

void PtyPort::AcceptPeer()
{
    const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    DropPeer();
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    m_peer = fd;
}

void PtyPort::DropPeer()
{
    if (m_peer >= 0)
        ::close(m_peer);
    m_peer = -1;
}

void PtyPort::Close()
{
    DropPeer();
    if (m_listener >= 0) {
        ::close(m_listener);
        m_listener = -1;
    }
    if (!m_linkPath.isEmpty()) {
        // Only remove the link if it still points at our slave (a newer simulator may own it).
        const QByteArray link = m_linkPath.toLocal8Bit();
        char target[256] = {};
        const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
        if (n > 0 && QString::fromLocal8Bit(target, int(n)) == m_slavePath)
            ::unlink(link.constData());
        m_linkPath.clear();
    }
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
    m_slavePath.clear();
}

int PtyPort::IsConnected() const
{
    if (m_listener >= 0)
        return m_peer >= 0 ? 1 : 0;
    if (m_master < 0)
        return 0;
    pollfd p { m_master, POLLOUT, 0 };
    if (::poll(&p, 1, 0) < 0)
        return 0;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) ? 0 : 1;
}

int PtyPort::WaitInput(int timeoutMs)
{
    if (!IsOpen())
        return -1;
    if (timeoutMs < 0)
        timeoutMs = 0;
    if (g_stopFlag)
        return 0;
    if (m_listener >= 0) {
        pollfd fds[3]
            = { { g_stopPipe[0], POLLIN, 0 }, { m_listener, POLLIN, 0 }, { m_peer, POLLIN, 0 } };
        if (::poll(fds, m_peer >= 0 ? 3 : 2, timeoutMs) <= 0 || (fds[0].revents & POLLIN))
            return 0;
        if (fds[1].revents & POLLIN)
            AcceptPeer();
        return m_peer >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) ? 1 : 0;
    }
    pollfd fds[2] = { { m_master, POLLIN, 0 }, { g_stopPipe[0], POLLIN, 0 } };
    const int nfds = g_stopPipe[0] >= 0 ? 2 : 1;
    int rc = ::poll(fds, nfds, timeoutMs);
    if (rc < 0)
        return 0; // a signal: the caller looks at StopRequested
    if (rc == 0)
        return 0;
    if (nfds == 2 && (fds[1].revents & POLLIN))
        return 0;
    if (fds[0].revents & (POLLHUP | POLLERR)) {
        // What the program wrote before it closed can still be waiting; after that, a read
        // would only fail.
        int waiting = 0;
        if (!m_readFailed && (fds[0].revents & POLLIN) && ::ioctl(m_master, FIONREAD, &waiting) == 0
            && waiting > 0)
            return 1;
        // Nobody holds the slave open: the master reports this on every poll. Sleep instead
        // of returning at once, or the caller's loop would spin until the next open.
        SleepMs(qMin(timeoutMs, kIdleSleepMs));
        return 0;
    }
    m_readFailed = false;
    if (fds[0].revents & POLLIN)
        return 1;
    return 0;
}

QByteArray PtyPort::ReadAvailable(int maxBytes)
{
    QByteArray out;
    if (LineFd() < 0 || maxBytes <= 0)
        return out;
    out.resize(maxBytes);
    const ssize_t n = ::read(LineFd(), out.data(), size_t(maxBytes));
    if (m_listener >= 0 && (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)))
        DropPeer(); // the program closed its connection
    if (n <= 0) {
        // EAGAIN: nothing waiting; EIO: the program closed its end (WaitInput then sleeps).
        if (n < 0 && errno == EIO)
            m_readFailed = true;
        out.clear();
        return out;
    }
    out.resize(int(n));
    return out;
}

int PtyPort::WriteSome(const char *data, int count)
{
    int done = 0;
    int stalledMs = 0;
    while (done < count) {
        const ssize_t n = m_listener >= 0
            ? ::send(m_peer, data + done, size_t(count - done), MSG_NOSIGNAL)
            : ::write(m_master, data + done, size_t(count - done));
        if (n > 0) {
            done += int(n);
            stalledMs = 0;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return done; // EIO: nobody on the far end
        // The program is not reading and the line's buffer is full. A real line would lose
        // bytes in the receiver; wait a little, then drop the rest.
        if (stalledMs >= 500 || g_stopFlag)
            return done;
        pollfd p { LineFd(), POLLOUT, 0 };
        ::poll(&p, 1, 20);
        if (p.revents & (POLLHUP | POLLERR))
            return done;
        stalledMs += 20;
    }
    return done;
}

int PtyPort::Write(const QByteArray &bytes)
{
    if (LineFd() < 0 || bytes.isEmpty())
        return 0;
    if (!IsConnected())
        return 0;
    if (m_baud <= 0)
        return WriteSome(bytes.constData(), int(bytes.size()));

    // Send in slices of about 10 ms of line time and sleep to each slice's deadline, so the
    // average rate is the line's while the number of wake-ups stays small.
    const double msPerByte = 10000.0 / m_baud;
    const int slice = qMax(1, int(10.0 / msPerByte));
    const qint64 start = NowMs();
    int sent = 0;
    while (sent < bytes.size()) {
        const int n = qMin(slice, int(bytes.size()) - sent);
        const int w = WriteSome(bytes.constData() + sent, n);
        sent += w;
        if (w < n || g_stopFlag)
            break;
        const qint64 due = start + qint64(sent * msPerByte);
        const qint64 wait = due - NowMs();
        if (wait > 0)
            SleepMs(int(wait));
    }
    return sent;
}

void PtyPort::InstallStopSignals()
{
    if (g_stopPipe[0] < 0) {
        if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            g_stopPipe[0] = g_stopPipe[1] = -1;
    }
    struct sigaction sa
    {
    };
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a blocking poll returns at once
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    // A write to a vanished reader must not kill the simulator.
    ::signal(SIGPIPE, SIG_IGN);
}

int PtyPort::StopRequested()
{
    return g_stopFlag ? 1 : 0;
}

void PtyPort::SleepMs(int ms)
{
    if (ms <= 0 || g_stopFlag)
        return;
    pollfd p { g_stopPipe[0], POLLIN, 0 };
    if (g_stopPipe[0] >= 0)
        ::poll(&p, 1, ms);
    else
        ::poll(nullptr, 0, ms);
}
