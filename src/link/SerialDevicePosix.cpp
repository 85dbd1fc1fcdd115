#include "link/SerialDevice.h"

#include "link/Deadline.h"
#include "link/NetDevice.h"
#include "link/SerialSpeed.h"
#include "link/UucpLock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::string SystemReason(int error)
{
    return std::strerror(error);
}

// A port another program holds, naming that program where its lock file or /proc tells.
std::string InUse(const std::string &name, const std::string &path)
{
    const std::string holder = UucpLock::HolderOf(path);
    return name + ": port in use by another program" + (holder.empty() ? "" : ": " + holder);
}

// The termios code of a standard speed, or 0 when the speed has none (termios2 then).
speed_t SpeedCode(int speed)
{
    switch (speed) {
    case 50:
        return B50;
    case 75:
        return B75;
    case 110:
        return B110;
    case 134:
        return B134;
    case 150:
        return B150;
    case 200:
        return B200;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 1800:
        return B1800;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 500000:
        return B500000;
    case 576000:
        return B576000;
    case 921600:
        return B921600;
    case 1000000:
        return B1000000;
    case 1152000:
        return B1152000;
    case 1500000:
        return B1500000;
    case 2000000:
        return B2000000;
    case 2500000:
        return B2500000;
    case 3000000:
        return B3000000;
    case 3500000:
        return B3500000;
    case 4000000:
        return B4000000;
    default:
        return 0;
    }
}

int SpeedFromCode(speed_t code)
{
    static const int speeds[] = { 50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800,
        9600, 19200, 38400, 57600, 115200, 230400, 460800, 500000, 576000, 921600, 1000000, 1152000,
        1500000, 2000000, 2500000, 3000000, 3500000, 4000000 };
    for (int speed : speeds) {
        if (SpeedCode(speed) == code)
            return speed;
    }
    return 0;
}

// Device numbers of the Unix98 pseudo-terminal slaves (/dev/pts/N).
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

// The pseudo-terminal multiplexer (/dev/ptmx, /dev/pts/ptmx) is character device 5:2.
bool IsMultiplexer(const struct stat &node)
{
    return S_ISCHR(node.st_mode) && ::major(node.st_rdev) == 5 && ::minor(node.st_rdev) == 2;
}

std::string MultiplexerReason(const std::string &path)
{
    return path
        + ": the pseudo-terminal multiplexer is not a port (it makes a new terminal nobody "
          "answers on); give the terminal's own path, such as /dev/pts/3";
}

// Names in messages are cut to a readable length (a path of thousands of characters is
// refused by the system; the message need not repeat it).
std::string Shown(const std::string &path)
{
    return path.size() <= 80 ? path : path.substr(0, 60) + "...";
}

// The names in `folder` (files, devices, links; no folders), sorted.
std::vector<std::string> EntryNames(const std::filesystem::path &folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(folder, error)) {
        std::error_code typeError;
        if (!entry.is_directory(typeError))
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The driver's own counts. Pseudo-terminals and some USB adapters have none (ENOTTY, EINVAL).
bool DriverErrorCounts(int fd, SerialDevice::LineErrors *counts)
{
    struct serial_icounter_struct icount = {};
    if (::ioctl(fd, TIOCGICOUNT, &icount) != 0)
        return false;
    counts->framing = icount.frame;
    counts->parity = icount.parity;
    counts->overrun = long(icount.overrun) + long(icount.buf_overrun);
    counts->breaks = icount.brk;
    return true;
}

SerialDevice::ErrorCounter &ErrorCounterInUse()
{
    static SerialDevice::ErrorCounter counter = DriverErrorCounts;
    return counter;
}

// Errors of read(2) and write(2) that mean the device itself went away, not a busy moment.
bool DeviceGoneError(int error)
{
    return error == EIO || error == ENODEV || error == ENXIO || error == EPIPE || error == EBADF;
}

} // namespace

SerialDevice::ErrorCounter SerialDevice::SetErrorCounter(ErrorCounter counter)
{
    ErrorCounter old = ErrorCounterInUse();
    ErrorCounterInUse() = counter ? std::move(counter) : ErrorCounter(DriverErrorCounts);
    return old;
}

bool SerialDevice::LineErrorCounts(LineErrors *counts) const
{
    *counts = LineErrors();
    if (m_net)
        return false; // the server counts its line's errors, if at all
    return m_fd >= 0 && ErrorCounterInUse()(m_fd, counts);
}

bool SerialDevice::CheckHangUp()
{
    if (m_net)
        return m_net->CheckHangUp();
    if (m_fd < 0)
        return m_gone;
    struct pollfd watch = { m_fd, POLLIN, 0 };
    if (::poll(&watch, 1, 0) > 0 && (watch.revents & (POLLHUP | POLLERR | POLLNVAL))
        && PendingInput() == 0)
        m_gone = true;
    return m_gone;
}

std::vector<std::string> SerialDevice::ExistingDevices(const std::string &devRoot)
{
    std::vector<std::string> found;
    const std::string byId = devRoot + "/serial/by-id";
    for (const std::string &name : EntryNames(byId))
        found.push_back(byId + '/' + name);

    // Adapters by kind, each in number order (ttyUSB2 before ttyUSB10).
    for (const std::string kind : { "ttyUSB", "ttyACM" }) {
        std::vector<std::string> names;
        for (const std::string &name : EntryNames(devRoot)) {
            if (name.compare(0, kind.size(), kind) == 0)
                names.push_back(name);
        }
        std::stable_sort(names.begin(), names.end(), [&kind](const auto &a, const auto &b) {
            return std::atoi(a.c_str() + kind.size()) < std::atoi(b.c_str() + kind.size());
        });
        for (const std::string &name : names)
            found.push_back(devRoot + '/' + name);
    }
    return found;
}

unsigned SerialDevice::CharacterFlags(unsigned cflag, Parity parity, int stopBits)
{
    tcflag_t flags = cflag;
    flags = (flags & ~tcflag_t(CSIZE)) | CS8;
    switch (parity) {
    case Parity::None:
        flags &= ~tcflag_t(PARENB | PARODD | CMSPAR);
        break;
    case Parity::Even:
        flags = (flags | PARENB) & ~tcflag_t(PARODD | CMSPAR);
        break;
    case Parity::Odd:
        flags = (flags | PARENB | PARODD) & ~tcflag_t(CMSPAR);
        break;
    case Parity::Keep:
        break;
    }
    if (stopBits == 1)
        flags &= ~tcflag_t(CSTOPB);
    else if (stopBits == 2)
        flags |= CSTOPB;
    return flags;
}

void SerialDevice::SleepMs(int ms)
{
    if (ms <= 0)
        return;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    for (int left = ms; left > 0; left = MsUntil(end))
        ::poll(nullptr, 0, left);
}

bool SerialDevice::OpenLocal(const std::string &portText)
{
    m_path = DevicePath(portText);
    if (m_path.empty())
        return Fail(
            '"' + Shown(portText) + "\" is not a port name (COM1 to COM49, or a device path)");

    const std::string name = Shown(m_path);
    // The multiplexer makes a new pseudo-terminal at each open, whose far end nobody holds: it
    // would look like a port with a meter that never answers.
    struct stat node = {};
    if (::stat(m_path.c_str(), &node) == 0 && IsMultiplexer(node))
        return Fail(MultiplexerReason(name));
    // O_NONBLOCK: opening must not wait for carrier, and every later wait is a poll(2).
    const int fd = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        switch (error) {
        case EACCES:
        case EPERM:
            return Fail(name
                + ": permission denied (the user must be in the dialout group; log in again "
                  "after adding)");
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return Fail(name + ": no such device");
        case EBUSY:
            return Fail(InUse(name, m_path));
        default:
            return Fail(name + ": " + SystemReason(error));
        }
    }
    if (!::isatty(fd)) {
        ::close(fd);
        return Fail(name + ": not a serial device");
    }
    int ptyNumber = 0;
    if (::ioctl(fd, TIOCGPTN, &ptyNumber) == 0) {
        // The master side of a pseudo-terminal (the multiplexer under another name).
        ::close(fd);
        return Fail(MultiplexerReason(name));
    }
    // TIOCEXCL keeps other users out, but not root (CAP_SYS_ADMIN). An exclusive flock on the
    // device itself keeps every program that opens the port through this layer out, root or not,
    // whatever name (COMn, by-id link, path) it used; it goes away with the descriptor.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return Fail(InUse(name, m_path));
        return Fail(name + ": " + SystemReason(error));
    }
    // The exclusive flag also keeps other programs (terminal emulators, socat) off a real port.
    // It belongs to the tty, not to us: a serial device drops it with its last close, but a
    // pseudo-terminal lives on while its far end is open, so after we died (crash, SIGKILL) it
    // would refuse every ordinary user until the far end restarts. The flock above dies with
    // its holder and is all a pseudo-terminal gets.
    // Tools that share ports by UUCP lock files (LCK..ttyUSB0) neither see the flock nor set
    // one: honour their lock, and hold one ourselves while the port is open.
    std::string refusal;
    if (!m_uucp)
        m_uucp = std::make_unique<UucpLock>();
    if (!m_uucp->Acquire(m_path, &refusal)) {
        ::close(fd);
        return Fail(refusal);
    }
    m_fd = fd;
    // A link to a pseudo-terminal (a simulator's or socat's name) is made again with its far
    // end; the pseudo-terminal's own node is not.
    struct stat named = {};
    m_nameComesBack
        = !IsPseudoTerminal() || (::lstat(m_path.c_str(), &named) == 0 && S_ISLNK(named.st_mode));
    if (!IsPseudoTerminal())
        ::ioctl(fd, TIOCEXCL);
    m_lastError.clear();
    return true;
}

bool SerialDevice::IsOpen() const
{
    return m_net ? m_net->IsOpen() : m_fd >= 0;
}

std::intptr_t SerialDevice::WaitHandle() const
{
    return m_net ? m_net->WaitHandle() : m_fd;
}

void SerialDevice::ArmWait()
{
    // The network half keeps decoded data the socket no longer shows: take in what is there,
    // so that WaitHandle names what is readable.
    if (m_net)
        m_net->PendingInput();
    // The descriptor's readability is the whole signal on POSIX: nothing to arm.
}

bool SerialDevice::IsPseudoTerminal() const
{
    struct stat info = {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const unsigned major = ::major(info.st_rdev);
    return major >= kPtySlaveMajorFirst && major <= kPtySlaveMajorLast;
}

bool SerialDevice::ConfigureLocal(const Format &format)
{
    if (m_fd < 0)
        return Fail("port not open");
    if (format.speed <= 0)
        return Fail(m_path + ": " + std::to_string(format.speed) + " is not a valid speed");

    struct termios settings = {};
    if (::tcgetattr(m_fd, &settings) != 0)
        return Fail(m_path + ": cannot read the line settings: " + SystemReason(errno));

    // Raw bytes both ways. Software flow control and hardware handshake go off too: a Linux port
    // keeps whatever the last program left, and XON/XOFF would swallow bytes 0x11 and 0x13 of
    // meter images and Modbus frames.
    settings.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON
        | IXOFF | IXANY | INPCK | IMAXBEL | IUCLC);
    settings.c_oflag &= ~tcflag_t(OPOST);
    settings.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN | ECHOE | ECHOK);
    settings.c_cflag = CharacterFlags(settings.c_cflag, format.parity, format.stopBits);
    settings.c_cflag |= CREAD | CLOCAL;
    settings.c_cflag &= ~tcflag_t(CRTSCTS);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    const speed_t code = SpeedCode(format.speed);
    if (code != 0) {
        ::cfsetispeed(&settings, code);
        ::cfsetospeed(&settings, code);
    }

    // On a pseudo-terminal the kernel forces CS8 and drops PARENB, and the C library then
    // reports EINVAL because what it reads back differs: judge by the read-back below instead.
    if (::tcsetattr(m_fd, TCSANOW, &settings) != 0 && errno != EINVAL)
        return Fail(m_path + ": cannot set the line settings: " + SystemReason(errno));
    if (code == 0 && !SerialSpeed::SetArbitrary(m_fd, format.speed))
        return Fail(m_path + ": the device refused speed " + std::to_string(format.speed) + " ("
            + SystemReason(errno) + ")");

    struct termios actual = {};
    if (::tcgetattr(m_fd, &actual) != 0)
        return Fail(m_path + ": cannot read the line settings: " + SystemReason(errno));
    tcflag_t differs = (actual.c_cflag ^ settings.c_cflag) & (CSIZE | PARENB | PARODD | CSTOPB);
    if (IsPseudoTerminal())
        differs &= ~tcflag_t(CSIZE | PARENB); // a pty has no character format of its own
    if (differs != 0)
        return Fail(m_path + ": the device refused the character format");
    if ((actual.c_lflag & ICANON) || (actual.c_iflag & (IXON | ICRNL)))
        return Fail(m_path + ": the device refused raw mode");

    // Drivers round a speed to what their clock can make; more than 3 % off is a refusal.
    int speed = SerialSpeed::ReadBack(m_fd);
    if (speed == 0)
        speed = SpeedFromCode(::cfgetospeed(&actual));
    if (std::abs(speed - format.speed) * 100 > format.speed * 3)
        return Fail(m_path + ": the device refused speed " + std::to_string(format.speed));

    if (format.setModemLines) {
        // Pseudo-terminals and some adapters have no modem lines (ENOTTY, EINVAL): go on.
        int lines = TIOCM_DTR | TIOCM_RTS;
        ::ioctl(m_fd, TIOCMBIS, &lines);
    }
    m_lastError.clear();
    return true;
}

void SerialDevice::Close()
{
    m_net.reset();
    if (m_fd >= 0) {
        // The exclusive flag belongs to the tty, not to this descriptor: when another process
        // still holds the device open (socat, a simulator) it would outlive us and refuse our
        // own next open.
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_uucp)
        m_uucp->Release();
}

void SerialDevice::PurgeBoth()
{
    if (m_net)
        return m_net->PurgeBoth();
    if (m_fd >= 0)
        ::tcflush(m_fd, TCIOFLUSH);
}

void SerialDevice::PurgeInput()
{
    if (m_net)
        return m_net->PurgeInput();
    if (m_fd >= 0)
        ::tcflush(m_fd, TCIFLUSH);
}

int SerialDevice::PendingInput() const
{
    if (m_net)
        return m_net->PendingInput();
    int count = 0;
    if (m_fd < 0 || ::ioctl(m_fd, FIONREAD, &count) != 0)
        return 0;
    return std::max(count, 0);
}

int SerialDevice::PendingOutput() const
{
    if (m_net)
        return m_net->PendingOutput();
    int count = 0;
    if (m_fd < 0 || ::ioctl(m_fd, TIOCOUTQ, &count) != 0)
        return 0;
    return std::max(count, 0);
}

int SerialDevice::ReadNow(unsigned char *byte)
{
    if (m_net)
        return m_net->ReadNow(byte);
    if (m_fd < 0 || byte == nullptr)
        return 0;
    const ssize_t count = ::read(m_fd, byte, 1);
    if (count == 1)
        return 1;
    // Raw mode with VMIN 0 reads 0 bytes both from an empty line and from a hung-up one: ask
    // which. EIO and the like are an adapter pulled out.
    if (count == 0)
        CheckHangUp();
    else if (DeviceGoneError(errno))
        m_gone = true;
    return 0;
}

bool SerialDevice::Write(const char *bytes, int count)
{
    if (m_net && count > 0)
        return m_net->Write(bytes, count, m_writeMsPerByte * count + m_writeConstantMs + 1000);
    if (m_fd < 0 || bytes == nullptr || count <= 0)
        return false;
    const auto end = Clock::now()
        + std::chrono::milliseconds(
            static_cast<long long>(m_writeMsPerByte) * count + m_writeConstantMs);
    int done = 0;
    while (done < count) {
        const ssize_t written = ::write(m_fd, bytes + done, size_t(count - done));
        if (written > 0) {
            done += int(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EAGAIN) {
            // Output queue full: wait for room until the write time-out.
            const int waitMs = MsUntil(end);
            if (waitMs <= 0)
                return false;
            struct pollfd watch = { m_fd, POLLOUT, 0 };
            if (::poll(&watch, 1, waitMs) > 0 && (watch.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                m_gone = true;
                return false;
            }
            continue;
        }
        if (written < 0 && DeviceGoneError(errno))
            m_gone = true;
        return false;
    }
    return true;
}

bool SerialDevice::WaitReadable(int timeoutMs) const
{
    if (m_net)
        return m_net->WaitReadable(timeoutMs);
    const auto end = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    if (m_fd < 0) {
        SleepMs(timeoutMs);
        return false;
    }
    for (;;) {
        struct pollfd watch = { m_fd, POLLIN, 0 };
        const int ready = ::poll(&watch, 1, MsUntil(end));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        // A hung-up device reports itself readable for ever; only a real pending byte counts.
        // A hang-up ends the wait at once (Gone tells the caller why); anything else sleeps out
        // the time-out so that a caller's wait loop cannot spin.
        if (PendingInput() > 0)
            return true;
        if (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            m_gone = true;
            return false;
        }
        SleepMs(MsUntil(end));
        return false;
    }
}
