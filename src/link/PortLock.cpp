#include "link/PortLock.h"

#ifndef _WIN32
#include "link/UucpLock.h"
#endif

#include <QDir>
#include <QFile>

#include <cerrno>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// Windows: the lock is a named mutex (the lock file name, in the Global namespace). A holder
// that dies leaves it abandoned, and the next waiter gets it.

PortLock::PortLock(const QString &name)
    : m_name(name)
    , m_path(QStringLiteral("Global\\") + LockFileName(name))
{
}

PortLock::~PortLock()
{
    if (m_mutex != nullptr) {
        if (m_depth > 0)
            ReleaseMutex(static_cast<HANDLE>(m_mutex));
        CloseHandle(static_cast<HANDLE>(m_mutex));
    }
}

QString PortLock::Holder() const
{
    return QString();
}

QString PortLock::LockDirectory()
{
    return QDir::tempPath(); // no lock files here: the mutex's name is LockFilePath()
}

bool PortLock::Acquire()
{
    if (m_depth > 0) {
        ++m_depth;
        return true;
    }
    if (m_mutex == nullptr)
        m_mutex = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(m_path.utf16()));
    if (m_mutex == nullptr) {
        ++m_depth; // no mutex can be made: run unlocked rather than never, as on POSIX
        return true;
    }
    const DWORD result = WaitForSingleObject(static_cast<HANDLE>(m_mutex), 0);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED)
        return false;
    ++m_depth;
    return true;
}

void PortLock::Release()
{
    if (m_depth <= 0)
        return;
    if (--m_depth == 0 && m_mutex != nullptr)
        ReleaseMutex(static_cast<HANDLE>(m_mutex));
}

#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

bool WritableDirectory(const QString &path)
{
    return !path.isEmpty() && ::access(QFile::encodeName(path).constData(), W_OK | X_OK) == 0;
}

} // namespace

PortLock::PortLock(const QString &name)
    : m_name(name)
    , m_path(LockDirectory() + QLatin1Char('/') + LockFileName(name))
{
}

PortLock::~PortLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing the last descriptor also drops a held flock
}

QString PortLock::Holder() const
{
    return QString::fromStdString(UucpLock::FlockHolderOf(QFile::encodeName(m_path).toStdString()));
}

QString PortLock::LockDirectory()
{
    // A folder of its own where one is named: the tests give each run theirs, as pseudo-terminal
    // names come back to other processes while a lock on the old one may still be held.
    const QString own = qEnvironmentVariable("TARVIK_LOCK_DIR");
    if (WritableDirectory(own))
        return own;
    const QString runLock = QStringLiteral("/run/lock");
    if (WritableDirectory(runLock))
        return runLock;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (WritableDirectory(runtime))
        return runtime;
    return QDir::tempPath();
}

bool PortLock::Acquire()
{
    // flock belongs to the open file description, so a second flock from this process on a new
    // descriptor would wait for ourselves: nested operations only count.
    if (m_depth > 0) {
        ++m_depth;
        return true;
    }
    if (m_fd < 0) {
        const QByteArray path = QFile::encodeName(m_path);
        m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_fd < 0) // another user's lock file: flock needs only read access
            m_fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    }
    if (m_fd < 0) {
        // No lock file can be made (read-only folders): run unlocked rather than never. The
        // exclusive open of the device still keeps a second program off an open port.
        ++m_depth;
        return true;
    }
    int result = ::flock(m_fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR)
        result = ::flock(m_fd, LOCK_EX | LOCK_NB);
    if (result != 0 && errno == EWOULDBLOCK)
        return false;
    ++m_depth; // held, or the folder does not support locks: run unlocked, as above
    return true;
}

void PortLock::Release()
{
    if (m_depth <= 0)
        return;
    if (--m_depth == 0 && m_fd >= 0)
        ::flock(m_fd, LOCK_UN);
}
#endif

QString PortLock::LockFileName(const QString &name)
{
    QString file = QStringLiteral("tarvik-");
    const QByteArray utf8 = name.toUtf8();
    for (const char c : utf8) {
        const unsigned char byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z')
            || (byte >= '0' && byte <= '9') || byte == '.' || byte == '_' || byte == '-';
        if (plain)
            file += QLatin1Char(c);
        else
            file += QStringLiteral("%%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    }
    return file + QStringLiteral(".lock");
}
