// The lock files other Linux serial tools share a port by (LCK..name holding a PID), both ways:
// ours refuses them and theirs refuses us; stale and garbled ones are cleared.
#include "support/PtyPair.h"

#include "link/SerialDevice.h"
#include "link/UucpLock.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray Contents(const std::string &path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

void Put(const std::string &path, const QByteArray &bytes)
{
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
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
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_pty.IsValid());
        m_oldFolder = UucpLock::SetFolder(m_dir.path().toStdString());
        m_path = m_pty.SlavePath().toStdString();
        m_lockFile = UucpLock::LockFileFor(m_path);
    }
    void TearDown() override
    {
        UucpLock::SetFolder(m_oldFolder);
        if (m_sleeper.state() != QProcess::NotRunning) {
            m_sleeper.kill();
            m_sleeper.waitForFinished(3000);
        }
    }

    QTemporaryDir m_dir;
    PtyPair m_pty;
    std::string m_oldFolder;
    std::string m_path;
    std::string m_lockFile;
    QProcess m_sleeper;
};

} // namespace

TEST(UucpLockName, NamesTheDeviceUnderDevAndReadsItsOwner)
{
    const std::string folder = UucpLock::Folder();
    EXPECT_EQ(UucpLock::LockFileFor("/dev/ttyUSB0"), folder + "/LCK..ttyUSB0");
    EXPECT_EQ(UucpLock::LockFileFor("/dev/pts/7"), folder + "/LCK..pts_7");

    struct Case
    {
        QByteArray text;
        long owner;
    };
    const Case cases[] = {
        { "      1234\n", 1234 },
        { "1234", 1234 },
        { QByteArray("\xd2\x04\x00\x00", 4), 1234 }, // a binary one of old tools
        { "", 0 },
        { "garbage\n", 0 },
        { "12ab\n", 0 },
        { "99999999999999999999\n", 0 },
    };
    for (const Case &c : cases)
        EXPECT_EQ(UucpLock::OwnerOf(c.text.toStdString()), c.owner) << c.text.constData();
}

TEST_F(UucpLockTest, ALiveOwnerRefusesThePortStaleAndGarbledLocksAreCleared)
{
    m_sleeper.start(QStringLiteral("sleep"), { QStringLiteral("30") });
    ASSERT_TRUE(m_sleeper.waitForStarted(5000));
    const long live = long(m_sleeper.processId());

    struct Case
    {
        const char *what;
        QByteArray lock;
        bool opens;
    };
    const Case cases[] = {
        { "live owner", QByteArray::number(qlonglong(live)).rightJustified(10, ' ') + '\n', false },
        { "dead owner", QByteArray::number(qlonglong(DeadPid())).rightJustified(10, ' ') + '\n',
            true },
        { "garbage", "not a pid at all\n", true },
        { "empty", "", true },
    };
    for (const Case &c : cases) {
        Put(m_lockFile, c.lock);
        SerialDevice device;
        EXPECT_EQ(device.Open(m_path), c.opens) << c.what << ": " << device.LastError();
        if (c.opens) {
            EXPECT_EQ(Contents(m_lockFile),
                QByteArray::number(qlonglong(::getpid())).rightJustified(10, ' ') + '\n')
                << c.what << ": the stale lock is replaced by ours";
            device.Close();
            EXPECT_FALSE(QFile::exists(QString::fromStdString(m_lockFile))) << "ours goes too";
        } else {
            const std::string why = device.LastError();
            EXPECT_NE(why.find("in use by another program: sleep (PID " + std::to_string(live)),
                std::string::npos)
                << why;
            EXPECT_NE(why.find(m_lockFile), std::string::npos) << why;
            EXPECT_EQ(Contents(m_lockFile), c.lock) << "another program's lock is left alone";
        }
        device.Close();
    }
}

TEST_F(UucpLockTest, WithoutAWritableLockFolderThePortStillOpens)
{
    // A folder that does not exist, and (for an ordinary user) one without write permission.
    UucpLock::SetFolder(m_dir.filePath(QStringLiteral("missing")).toStdString());
    SerialDevice device;
    EXPECT_TRUE(device.Open(m_path)) << device.LastError();
    device.Close();

    const QString readOnly = m_dir.filePath(QStringLiteral("readonly"));
    ASSERT_TRUE(QDir().mkpath(readOnly));
    QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    UucpLock::SetFolder(readOnly.toStdString());
    EXPECT_TRUE(device.Open(m_path)) << device.LastError();
    device.Close();
}
