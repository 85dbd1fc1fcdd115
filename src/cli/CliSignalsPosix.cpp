#include "cli/CliSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

// The POSIX half: the handler writes a byte to a pipe that a QSocketNotifier watches.
namespace {
int g_signalPipe[2] = { -1, -1 };

void OnSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}
} // namespace

CliSignals::CliSignals(QObject *parent)
    : QObject(parent)
{
    if (::pipe(g_signalPipe) != 0)
        return;
    for (int fd : g_signalPipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &CliSignals::Drain);
    m_notifier = notifier;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

CliSignals::~CliSignals()
{
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    delete m_notifier;
    for (int &fd : g_signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void CliSignals::Drain()
{
    char bytes[16];
    while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) { }
    m_interrupted = true;
    Q_EMIT Interrupt();
}

bool CliSignals::Interrupted()
{
    // A signal whose byte the event loop has not yet taken counts as well.
    char byte = 0;
    if (!m_interrupted && g_signalPipe[0] >= 0 && ::read(g_signalPipe[0], &byte, 1) == 1)
        Drain();
    return m_interrupted;
}

bool CliSignals::IsTerminal(Stream stream)
{
    return ::isatty(stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

bool CliSignals::IsOpen(Stream stream)
{
    return ::fcntl(stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO, F_GETFD) != -1;
}
