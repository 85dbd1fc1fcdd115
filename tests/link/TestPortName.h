#pragma once

#include "link/PortLock.h"

#include <QFile>
#include <QString>

#include <unistd.h>

// A port name (lock name) of this test process alone, so that test runs of several checkouts on
// one machine never wait for each other's locks; its lock file goes when the test ends.
class TestPortName
{
public:
    explicit TestPortName(const char *base)
        : m_name(QStringLiteral("%1-test-%2").arg(QLatin1String(base)).arg(::getpid()))
    {
    }
    ~TestPortName()
    {
        QFile::remove(
            PortLock::LockDirectory() + QLatin1Char('/') + PortLock::LockFileName(m_name));
    }
    TestPortName(const TestPortName &) = delete;
    TestPortName &operator=(const TestPortName &) = delete;

    operator QString() const { return m_name; }

private:
    QString m_name;
};
