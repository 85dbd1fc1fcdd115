#pragma once

#include <QString>

// Cross-process lock for one port name: an flock(2) on a lock file named after the device
// name (on Windows a named mutex of that name), recursive within the process (a second flock on a
// new descriptor would block). Each CSerial and mbCSerial owns one, named once at construction, and
// takes it around every port operation.
class PortLock
{
public:
    explicit PortLock(const QString &name);
    ~PortLock();
    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;

    // Takes the lock if nobody else holds it, without waiting; true when held (the count then
    // goes up by one). A wait for a busy lock is a dialogue's (SerialPort::LockWithin).
    bool Acquire();
    void Release();
    bool IsHeld() const { return m_depth > 0; }
    QString Name() const { return m_name; }
    QString LockFilePath() const { return m_path; }
    // Who else holds the lock, for a refusal ("NAME (PID n, lock file F)"); empty where that
    // cannot be told (Windows' named mutexes, another user's processes).
    QString Holder() const;

    // The folder lock files go to: $TARVIK_LOCK_DIR, /run/lock, else $XDG_RUNTIME_DIR, else the
    // temp folder, whichever is writable first.
    static QString LockDirectory();
    // The lock file name for a port name: every character outside [A-Za-z0-9._-] is written as
    // %XX, so different names never share a file ("/dev/ttyS0" -> "tarvik-%2Fdev%2FttyS0.lock").
    static QString LockFileName(const QString &name);

    // Holds the lock for a scope when it could be taken at once; Held() says whether it was.
    class Hold
    {
    public:
        explicit Hold(PortLock &lock)
            : m_lock(lock)
            , m_held(lock.Acquire())
        {
        }
        ~Hold()
        {
            if (m_held)
                m_lock.Release();
        }
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;
        bool Held() const { return m_held; }

    private:
        PortLock &m_lock;
        bool m_held;
    };

private:
    QString m_name;
    QString m_path;
#ifdef _WIN32
    void *m_mutex = nullptr; // HANDLE of the named mutex
#else
    int m_fd = -1;
#endif
    int m_depth = 0;
};
