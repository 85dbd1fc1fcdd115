// A meter file saved where it cannot be written: a folder the user may not write to, and a disk
// that fills up during the write. Either way the file already there keeps its bytes, nothing
// half-written is left beside it, and the user gets one message saying why.
#include "support/TestEnv.h"

#include "base/Globals.h"
#include "base/SaveFileName.h"
#include "base/UserMessage.h"
#include "meter/CMeterDoc.h"
#include "meter/MeterVars.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <grp.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs body in a child process and gives back its exit code (-1 when it died).
int InChild(const std::function<int()> &body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

QByteArray Read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

struct SaveFault
{
    const char *name;
    // Sets up the child's obstacle; false when it cannot be set up.
    std::function<bool(const QString &folder)> obstacle;
};

const SaveFault kFaults[] = {
    { "read-only folder",
        [](const QString &folder) {
            if (::chmod(QFile::encodeName(folder).constData(), 0555) != 0)
                return false;
            if (::geteuid() != 0)
                return true;
            // Root writes anywhere: save as an ordinary user instead.
            return ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
        } },
    { "disk full during the write",
        [](const QString &) {
            // The write stops after 100 bytes, as on a full disk.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit = { 100, 100 };
            return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
        } },
};

TEST(MeterFileSaveFaults, OldFileKeptAndOneMessage)
{
    ResetGlobals();
    QDir::setCurrent(TestEnv::WorkDir());
    CMeterDoc doc;
    ASSERT_TRUE(doc.OnOpenDocument(QStringLiteral("41A_Template.mtr")));
    ASSERT_GT(doc.ImageToText().size(), 300);
    doc.Vars()->SetValue(QStringLiteral("serial_num"), 4, 987654);

    for (const SaveFault &fault : kFaults) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        const QString target = dir.filePath(QStringLiteral("meter.mtr"));
        const QByteArray old = "old meter file, must survive\n";
        {
            QFile file(target);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(old);
        }
        const int code = InChild([&] {
            if (!fault.obstacle(dir.path()))
                return 90;
            int messages = 0;
            UserMessage::SetHandler([&messages](const QString &text, const QString &) {
                if (text.contains(QLatin1String("meter.mtr")))
                    ++messages;
            });
            if (doc.OnSaveDocument(target))
                return 91; // reported success
            if (doc.SaveError().isEmpty())
                return 92;
            return messages;
        });
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        EXPECT_EQ(code, 1) << fault.name << ": one message, failure reported";
        EXPECT_EQ(Read(target), old) << fault.name << ": the old file is intact";
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
            QStringList { QStringLiteral("meter.mtr") })
            << fault.name << ": nothing half-written left beside it";
    }
    ResetGlobals();
}

// A save dialog's name in such a folder is refused before any question, saying which folder.
TEST(MeterFileSaveFaults, ReadOnlyFolderRefusedByName)
{
    QTemporaryDir dir;
    const QString typed = dir.filePath(QStringLiteral("meter"));
    const int code = InChild([&] {
        const SaveFileName name(typed, { QStringLiteral(".mtr") });
        return kFaults[0].obstacle(dir.path())
                && name.Check() == SaveFileName::State::ReadOnlyFolder
                && name.RefusalText(name.Check()).contains(typed + QStringLiteral(".mtr"))
            ? 0
            : 1;
    });
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    EXPECT_EQ(code, 0);
}

} // namespace
