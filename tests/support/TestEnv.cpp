#include "support/TestEnv.h"

#include "link/UucpLock.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>
#include <memory>

namespace {
std::unique_ptr<QTemporaryDir> &RootDir()
{
    static std::unique_ptr<QTemporaryDir> dir;
    return dir;
}
} // namespace

void TestEnv::Init()
{
    RootDir()
        = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tarvik-test-XXXXXX"));
    const QString root = RootDir()->path();
    QDir(root).mkpath(QStringLiteral("config"));
    QDir(root).mkpath(QStringLiteral("runtime"));
    QDir(root).mkpath(QStringLiteral("work"));
    // The port lock files (LCK..pts_3) of the pseudo-terminals tests open stay with the test.
    QDir(root).mkpath(QStringLiteral("uucp"));
#ifndef Q_OS_WIN
    UucpLock::SetFolder((root + QStringLiteral("/uucp")).toStdString());
#endif
    // So are the cross-process port locks; the programs a test starts inherit the folder, so a
    // tarvik-cli beside the test's window still meets the window's lock.
    if (qEnvironmentVariableIsEmpty("TARVIK_LOCK_DIR")) {
        QDir(root).mkpath(QStringLiteral("locks"));
        qputenv("TARVIK_LOCK_DIR", (root + QStringLiteral("/locks")).toLocal8Bit());
    }
    QFile::setPermissions(root + QStringLiteral("/runtime"),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/runtime")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toLocal8Bit());
    QSettings::setPath(
        QSettings::IniFormat, QSettings::UserScope, root + QStringLiteral("/config"));
    ReseedWorkDir();
    QDir::setCurrent(WorkDir());
}

QString TestEnv::Root()
{
    return RootDir() ? RootDir()->path() : QString();
}

QString TestEnv::WorkDir()
{
    return Root() + QStringLiteral("/work");
}

void TestEnv::ClearPreferences()
{
    QDir(Root() + QStringLiteral("/config")).removeRecursively();
    QDir(Root()).mkpath(QStringLiteral("config"));
}

void TestEnv::ReseedWorkDir()
{
    const QDir data(DataDir());
    for (const QString &name : data.entryList(QDir::Files)) {
        const QString target = WorkDir() + QLatin1Char('/') + name;
        QFile::remove(target);
        QFile::copy(data.filePath(name), target);
        QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
}

bool TestEnv::WaitUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}
