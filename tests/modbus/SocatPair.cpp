#include "SocatPair.h"

#include "link/mbCSerial.h"

#include <QFileInfo>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

SocatPair::SocatPair()
{
    m_socat.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_socat.start(QStringLiteral("socat"),
        { QStringLiteral("pty,raw,echo=0,link=") + MasterPath(),
            QStringLiteral("pty,raw,echo=0,link=") + SlavePath() });
    if (!m_socat.waitForStarted(3000))
        return;
    for (int i = 0; i < 300; ++i) {
        if (QFileInfo::exists(MasterPath()) && QFileInfo::exists(SlavePath())) {
            m_ok = true;
            return;
        }
        ::poll(nullptr, 0, 10);
    }
}

SocatPair::~SocatPair()
{
    if (m_socat.state() != QProcess::NotRunning) {
        m_socat.terminate();
        if (!m_socat.waitForFinished(2000)) {
            m_socat.kill();
            m_socat.waitForFinished(2000);
        }
    }
}

std::unique_ptr<mbCSerial> SocatPair::OpenModbusPort() const
{
    auto port = std::make_unique<mbCSerial>(MasterPath());
    port->SetPortText(MasterPath());
    port->SetBaudText(QStringLiteral("9600"));
    port->SetParityText(QStringLiteral("1 8 EVEN 1"));
    if (!port->OpenPort())
        return nullptr;
    return port;
}

int SocatPair::OpenSlaveRaw() const
{
    const int fd = ::open(SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    termios tio {};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

bool SocatPair::WriteAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        pollfd p { fd, POLLOUT, 0 };
        if (::poll(&p, 1, 1000) <= 0)
            return false;
    }
    return true;
}

QByteArray SocatPair::ReadCount(int fd, int count, int ms)
{
    QByteArray out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < count && std::chrono::steady_clock::now() < end)
        out += ReadFor(fd, 10);
    return out;
}

QByteArray SocatPair::ReadFor(int fd, int ms)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    QByteArray out;
    for (;;) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            return out;
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, int(left)) <= 0)
            return out;
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            out.append(buffer, n);
        else
            ::poll(nullptr, 0, 5);
    }
}
