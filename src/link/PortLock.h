#pragma once

#include <QString>

// Cross-process lock for one port name: an flock(2) on a lock file named after the device
// name, recursive within the process (a second flock on a new descriptor would block).
class PortLock
{
public:
    explicit PortLock(const QString &name);
    ~PortLock();
    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;

    // Takes the lock, waiting up to waitMs; true when held (the count then goes up by one).
    bool Acquire(int waitMs);
    void Release();
    QString Name() const { return m_name; }
    QString LockFilePath() const { return m_path; }

private:
    QString m_name;
    QString m_path;
    int m_fd = -1;
    int m_depth = 0;
};
