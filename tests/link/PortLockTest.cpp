// The per-name port lock: recursion in the process, exclusion between processes.
#include "ChildProcess.h"
#include "TestPortName.h"

#include "link/PortLock.h"

#include <gtest/gtest.h>

#include <chrono>

#include <unistd.h>

namespace {

// 1 when another process can take the lock of this name, 0 when not.
int OtherProcessTakes(const QString &name)
{
    return ChildProcess::Run([&] {
        PortLock lock(name);
        return lock.Acquire() ? 1 : 0;
    });
}

TEST(PortLock, FileNamesKeepDifferentPortNamesApart)
{
    EXPECT_EQ(PortLock::LockFileName(QStringLiteral("COM1")), QStringLiteral("tarvik-COM1.lock"));
    EXPECT_EQ(PortLock::LockFileName(QStringLiteral("/dev/ttyS0")),
        QStringLiteral("tarvik-%2Fdev%2FttyS0.lock"));
    EXPECT_NE(PortLock::LockFileName(QStringLiteral("/dev/a_b")),
        PortLock::LockFileName(QStringLiteral("/dev/a/b")));
    EXPECT_FALSE(
        PortLock::LockFileName(QStringLiteral("COM1")).startsWith(QStringLiteral("LCK..")));
}

TEST(PortLock, IsRecursiveWithinTheProcessAndExcludesOthers)
{
    const TestPortName name("lock");
    PortLock lock(name);
    ASSERT_TRUE(lock.Acquire());
    ASSERT_TRUE(lock.Acquire()); // nested: must not wait for itself
    EXPECT_EQ(OtherProcessTakes(name), 0);
    lock.Release();
    EXPECT_TRUE(lock.IsHeld());
    EXPECT_EQ(OtherProcessTakes(name), 0);
    lock.Release();
    EXPECT_FALSE(lock.IsHeld());
    EXPECT_EQ(OtherProcessTakes(name), 1);
}

// A busy lock is refused at once: waiting for it is a dialogue's, between the event loop's turns
// (the port owner's tests).
TEST(PortLock, RefusesABusyLockWithoutWaiting)
{
    const TestPortName name("wait");
    ChildProcess holder([&](ChildProcess &self) {
        PortLock lock(name);
        lock.Acquire();
        self.Ready();
        self.WaitForFinish();
    });
    ASSERT_TRUE(holder.Started());
    PortLock lock(name);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(lock.Acquire());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_FALSE(lock.IsHeld());
    // The refusal can name who holds it; once the lock is ours, nobody else does.
    EXPECT_TRUE(lock.Holder().contains(QStringLiteral("PID %1,").arg(holder.Pid())))
        << qPrintable(lock.Holder());
    holder.Finish();
    EXPECT_TRUE(lock.Acquire());
    EXPECT_EQ(lock.Holder(), QString());
    lock.Release();
}

} // namespace
