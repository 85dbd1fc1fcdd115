#include "SimHarness.h"

#include "link/CSerial.h"
#include "link/SerialDevice.h"
#include "support/RunToEnd.h"
#include "support/TestEnv.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
qint64 NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A small layout in the syntax of the layout files: two firmware families.
const char kLayout[] = "[4.1A]\n"
                       "1 key\n"
                       "1 flow_prec\n"
                       "1 mode\n"
                       "1 flow_func\n"
                       "4 serial_num\n"
                       "4 meter_x\n"
                       "4 meter_s\n"
                       "4 coeff[11]\n"
                       "4 cal_date\n"
                       "2 lockout\n"
                       ".\n"
                       "[3.9G]\n"
                       "1 key\n"
                       "1 meter_num\n"
                       "4 serial_num\n"
                       "1 flow_func\n"
                       "4 meter_x\n"
                       "4 meter_s\n"
                       ".\n"
                       "[4.0A]\n"
                       "1 flow_prec\n"
                       "1 key\n"
                       "1 meter_num\n"
                       "4 serial_num\n"
                       ".\n"
                       "[1.4A]\n"
                       "1 key\n"
                       "4 serial_num\n"
                       "1 flow_func\n"
                       ".\n";
} // namespace

int SimHarness::WriteTestLayout(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return 0;
    f.write(kLayout);
    return 1;
}

SimHarness::SimHarness() = default;

SimHarness::~SimHarness()
{
    ClosePort();
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_stdout >= 0)
        ::close(m_stdout);
}

int SimHarness::Start(const QStringList &args)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return 0;
    const QByteArray exe = TestEnv::MeterSimPath().toLocal8Bit();
    QList<QByteArray> argBytes;
    argBytes.append(exe);
    for (const QString &a : args)
        argBytes.append(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    m_stdout = out[0];
    // The first line of its output is the pseudo-terminal's path.
    QByteArray line;
    const qint64 end = NowMs() + 5000;
    while (!line.endsWith('\n') && NowMs() < end) {
        pollfd p { m_stdout, POLLIN, 0 };
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char c;
        if (::read(m_stdout, &c, 1) != 1)
            break;
        line.append(c);
    }
    m_slave = QString::fromLocal8Bit(line.trimmed());
    if (m_slave.isEmpty())
        return 0;
    return OpenPort();
}

int SimHarness::OpenPort()
{
    ClosePort();
    LinkTiming timing;
    timing.pacingScale = 0.1;
    timing.readMsPerByte = 0;
    m_link = std::make_unique<CSerial>(m_slave, timing);
    m_link->SetBaudText(QStringLiteral("9600"));
    if (!m_link->OpenPort()) {
        m_link.reset();
        return 0;
    }
    m_link->PurgeInput();
    return 1;
}

void SimHarness::ClosePort()
{
    m_link.reset(); // the link purges and closes its device when it ends
}

int SimHarness::Terminate(int timeoutMs)
{
    if (m_pid <= 0)
        return -1;
    ::kill(m_pid, SIGTERM);
    const qint64 end = NowMs() + timeoutMs;
    while (NowMs() < end) {
        int status = 0;
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

bool SimHarness::IsRunning() const
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    return ::waitpid(m_pid, &status, WNOHANG) == 0;
}

double SimHarness::CpuSeconds() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(m_pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1.0;
    const QByteArray text = stat.readAll();
    // Fields after the command name (which is in parentheses): state is field 3; utime and
    // stime are fields 14 and 15.
    const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (f.size() < 13)
        return -1.0;
    const double ticks = double(::sysconf(_SC_CLK_TCK));
    return (f.at(11).toDouble() + f.at(12).toDouble()) / ticks;
}

void SimHarness::Purge()
{
    if (m_link)
        m_link->PurgeInput();
}

void SimHarness::Send(const QByteArray &bytes, int gapMs)
{
    // The gap goes before each byte (also the first of the next call), never after the last:
    // a purge right after a send must come before the meter's quiet time runs out, also on a
    // loaded machine.
    for (char c : bytes) {
        const qint64 wait = m_lastWriteMs + m_lastGapMs - NowMs();
        if (m_lastWriteMs > 0 && wait > 0)
            SerialDevice::SleepMs(int(wait));
        m_link->WriteByte((unsigned char)c);
        m_lastWriteMs = NowMs();
        m_lastGapMs = qMax(0, gapMs);
    }
}

void SimHarness::SendString(const QByteArray &bytes)
{
    for (char c : bytes) {
        SerialDevice::SleepMs(20);
        m_link->WriteByte((unsigned char)c);
    }
}

namespace {
// Everything pending on the link now.
QByteArray Drain(CSerial &link)
{
    QByteArray out;
    unsigned char b;
    while (link.ReadByte(&b))
        out.append(char(b));
    return out;
}
} // namespace

QByteArray SimHarness::ReadQuiet(int quietMs, int timeoutMs)
{
    QByteArray out;
    const qint64 end = NowMs() + timeoutMs;
    qint64 last = NowMs();
    while (NowMs() < end) {
        const qint64 wait = out.isEmpty() ? end - NowMs() : qMin(end, last + quietMs) - NowMs();
        if (!out.isEmpty() && wait <= 0)
            break;
        if (!WaitForInput(*m_link, int(qMax<qint64>(1, wait))))
            continue;
        const QByteArray got = Drain(*m_link);
        if (!got.isEmpty()) {
            out += got;
            last = NowMs();
        }
    }
    return out;
}

QByteArray SimHarness::ReadUntil(const std::function<bool(const QByteArray &)> &done, int timeoutMs)
{
    QByteArray out;
    const qint64 end = NowMs() + timeoutMs;
    // Byte by byte, as the datalogger's dialogue reads: what follows the awaited text stays
    // pending for the next wait.
    unsigned char b;
    while (NowMs() < end && !done(out)) {
        if (m_link->ReadByte(&b))
            out.append(char(b));
        else
            WaitForInput(*m_link, int(qMax<qint64>(1, end - NowMs())));
    }
    return out;
}

QByteArray SimHarness::ReadUntilChar(char c, int timeoutMs)
{
    return ReadUntil([c](const QByteArray &b) { return b.contains(c); }, timeoutMs);
}

QByteArray SimHarness::Command(const QByteArray &text, int quietMs)
{
    Purge();
    Send(text + "\r\n");
    return ReadQuiet(quietMs);
}

int SimHarness::EnterCommandMode()
{
    Purge();
    Send(QByteArray(18, '.'));
    const QByteArray r = ReadUntilChar('>', 5000);
    // Let the rest of the answer (an acknowledgement after the prompt) arrive, then drop it.
    ReadQuiet(100, 300);
    return r.contains('>') ? 1 : 0;
}
