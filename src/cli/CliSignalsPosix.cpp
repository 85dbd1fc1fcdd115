#include "cli/CliSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

// The POSIX half: the handler writes a byte to a pipe that a QSocketNotifier watches.
namespace {
int g_signalPipe[2] = { -1, -1 };

// Seconds the event loop has to take a signal before the program ends without it: a loop
// that does not come back is stuck in an output (a FIFO nobody opens or reads, a full pipe).
constexpr unsigned kTakenWithinSeconds = 3;

void OnSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    ::alarm(kTakenWithinSeconds);
    errno = saved;
}

void OnStuck(int)
{
    static const char text[] = "tarvik-cli: Interrupted while an output did not take what was "
                               "written (a FIFO or pipe that nobody reads); ended at once.\n";
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, sizeof text - 1);
    ::_exit(1);
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
    struct sigaction stuck = {};
    stuck.sa_handler = OnStuck;
    sigemptyset(&stuck.sa_mask);
    ::sigaction(SIGALRM, &stuck, nullptr);
}

CliSignals::~CliSignals()
{
    ::alarm(0);
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGALRM, SIG_DFL);
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
    ::alarm(0); // taken: the program is not stuck
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

namespace {
int Descriptor(CliSignals::Stream stream)
{
    switch (stream) {
    case CliSignals::Stream::Input:
        return STDIN_FILENO;
    case CliSignals::Stream::Output:
        return STDOUT_FILENO;
    case CliSignals::Stream::Error:
        break;
    }
    return STDERR_FILENO;
}
} // namespace

bool CliSignals::IsTerminal(Stream stream)
{
    return ::isatty(Descriptor(stream)) == 1;
}

bool CliSignals::IsOpen(Stream stream)
{
    return ::fcntl(Descriptor(stream), F_GETFD) != -1;
}

bool CliSignals::ReadLine(QByteArray *line)
{
    line->clear();
    for (;;) {
        if (m_interrupted)
            return false;
        // Standard input and the signal pipe at once; a byte in the pipe is an interrupt.
        struct pollfd watch[2] = { { STDIN_FILENO, POLLIN, 0 }, { g_signalPipe[0], POLLIN, 0 } };
        const int ready = ::poll(watch, g_signalPipe[0] >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (watch[1].revents & POLLIN))
            return false;
        char byte = 0;
        const ssize_t n = ::read(STDIN_FILENO, &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return !line->isEmpty();
        if (byte == '\n')
            return true;
        line->append(byte);
    }
}
