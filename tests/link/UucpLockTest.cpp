// LCK..name lock files shared with other serial tools: a live one refuses, stale ones are cleared.
#include "ChildProcess.h"
#include "support/PtyPair.h"

#include "link/SerialDevice.h"
#include "link/UucpLock.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray Contents(const std::string &path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

QByteArray LockText(long pid)
{
    return QByteArray::number(qlonglong(pid)).rightJustified(10, ' ') + '\n';
}

// A process id that belonged to a process that has ended.
long DeadPid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return long(child);
}

class UucpLockTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid() && m_pty.IsValid()); }
    void TearDown() override { UucpLock::SetFolder(m_oldFolder); }

    QTemporaryDir m_dir;
    PtyPair m_pty;
    std::string m_oldFolder = UucpLock::SetFolder(m_dir.path().toStdString());
    std::string m_path = m_pty.SlavePath().toStdString();
    std::string m_lockFile = UucpLock::LockFileFor(m_path);
};

} // namespace

TEST(UucpLockName, NamesTheDeviceUnderDevAndReadsItsOwner)
{
    const std::string folder = UucpLock::Folder();
    EXPECT_EQ(UucpLock::LockFileFor("/dev/ttyUSB0"), folder + "/LCK..ttyUSB0");
    EXPECT_EQ(UucpLock::LockFileFor("/dev/pts/7"), folder + "/LCK..pts_7");

    const struct
    {
        QByteArray text;
        long owner;
    } cases[] = {
        { "      1234\n", 1234 },
        { "1234", 1234 },
        { QByteArray("\xd2\x04\x00\x00", 4), 1234 }, // a binary one of old tools
        { "12ab\n", 0 },
        { "99999999999999999999\n", 0 },
    };
    for (const auto &c : cases)
        EXPECT_EQ(UucpLock::OwnerOf(c.text.toStdString()), c.owner) << c.text.constData();
}

TEST_F(UucpLockTest, ALiveOwnerRefusesThePortStaleAndGarbledLocksAreCleared)
{
    QProcess sleeper; // killed by its destructor
    sleeper.start(QStringLiteral("sleep"), { QStringLiteral("30") });
    ASSERT_TRUE(sleeper.waitForStarted(5000));
    const long live = long(sleeper.processId());
    const struct
    {
        const char *what;
        QByteArray lock;
        bool opens;
    } cases[] = {
        { "live owner", LockText(live), false },
        { "dead owner", LockText(DeadPid()), true },
        { "garbage", "not a pid at all\n", true },
        { "empty", "", true },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QFile lock(QString::fromStdString(m_lockFile));
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
        lock.write(c.lock);
        lock.close();
        SerialDevice device;
        EXPECT_EQ(device.Open(m_path), c.opens) << device.LastError();
        const std::string why = device.LastError();
        if (c.opens) {
            EXPECT_EQ(Contents(m_lockFile), LockText(::getpid())) << "a stale lock is replaced";
            device.Close();
            EXPECT_FALSE(lock.exists()) << "ours goes too";
        } else {
            EXPECT_NE(why.find("in use by another program: sleep (PID " + std::to_string(live)),
                std::string::npos)
                << why;
            EXPECT_NE(why.find(m_lockFile), std::string::npos) << why;
            EXPECT_EQ(Contents(m_lockFile), c.lock) << "another program's lock is left alone";
        }
    }
    sleeper.kill();
    sleeper.waitForFinished(3000);
}

// A missing lock folder, and (for an ordinary user) one without write permission.
TEST_F(UucpLockTest, WithoutAWritableLockFolderThePortStillOpens)
{
    const QString readOnly = m_dir.filePath(QStringLiteral("readonly"));
    ASSERT_TRUE(QDir().mkpath(readOnly));
    QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    for (const QString &folder : { m_dir.filePath(QStringLiteral("missing")), readOnly }) {
        UucpLock::SetFolder(folder.toStdString());
        SerialDevice device;
        EXPECT_TRUE(device.Open(m_path)) << device.LastError();
    }
}

// A port held by another program is refused naming it: from its lock file, else from /proc.
TEST_F(UucpLockTest, ARefusalNamesTheProgramHoldingThePort)
{
    const std::string path = m_path;
    for (const bool layer : { true, false }) {
        ChildProcess holder([&](ChildProcess &self) {
            static SerialDevice device; // through this layer, which makes a lock file too
            const int fd = layer ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY);
            if (layer ? device.Open(path) : fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
                self.Ready();
            self.WaitForFinish();
        });
        ASSERT_TRUE(holder.Started());
        SerialDevice device;
        EXPECT_FALSE(device.Open(m_path));
        const std::string named = "in use by another program: test_link (PID "
            + std::to_string(holder.Pid()) + (layer ? ", lock file " + m_lockFile + ")" : ")");
        EXPECT_NE(device.LastError().find(named), std::string::npos) << device.LastError();
    }
}
