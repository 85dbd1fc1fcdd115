// Start from the desktop: which arguments are documents, and the working folder an installed
// program uses when it is not started among its data files.
#include "app/ShellStart.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray Read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Puts the current folder back when a test ends.
struct CurrentFolder
{
    QString saved = QDir::currentPath();
    ~CurrentFolder() { QDir::setCurrent(saved); }
};

TEST(ShellStart, DocumentPathsAreTheNonOptionArgumentsMadeAbsolute)
{
    CurrentFolder keep;
    QTemporaryDir start;
    ASSERT_TRUE(QDir::setCurrent(start.path()));
    const QStringList arguments = { QStringLiteral("/usr/bin/tarvik"), QStringLiteral("a.mtr"),
        QStringLiteral("--verbose"), QStringLiteral("/data/b.qxm"), QStringLiteral(""),
        QStringLiteral("sub/../c.que"), QStringLiteral("file:///tmp/d%20e.log") };
    const QStringList expected
        = { start.path() + QStringLiteral("/a.mtr"), QStringLiteral("/data/b.qxm"),
              start.path() + QStringLiteral("/c.que"), QStringLiteral("/tmp/d e.log") };
    EXPECT_EQ(ShellStart::DocumentPaths(arguments), expected);
    EXPECT_TRUE(ShellStart::DocumentPaths({ QStringLiteral("tarvik") }).isEmpty())
        << "a plain start opens nothing";
}

TEST(ShellStart, InstalledDataIsFoundBesideTheProgram)
{
    QTemporaryDir prefix;
    ASSERT_TRUE(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
    EXPECT_TRUE(ShellStart::InstalledDataDir(prefix.path() + QStringLiteral("/bin")).isEmpty());
    ASSERT_TRUE(QDir(prefix.path()).mkpath(QStringLiteral("share/tarvik")));
    WriteFile(prefix.path() + QStringLiteral("/share/tarvik/vars20.dat"), "[4.1A]\n");
    EXPECT_EQ(ShellStart::InstalledDataDir(prefix.path() + QStringLiteral("/bin")),
        prefix.path() + QStringLiteral("/share/tarvik"));
}

TEST(ShellStart, WorkFolderIsSeededKeepingTheUsersFiles)
{
    CurrentFolder keep;
    QTemporaryDir root;
    const QString data = root.path() + QStringLiteral("/share");
    const QString user = root.path() + QStringLiteral("/home/.local/share/tarvik");
    const QString elsewhere = root.path() + QStringLiteral("/home");
    QDir().mkpath(data);
    QDir().mkpath(elsewhere);
    WriteFile(data + QStringLiteral("/vars20.dat"), "layout v2\n");
    WriteFile(data + QStringLiteral("/read20.que"), "list v2\n");
    WriteFile(data + QStringLiteral("/41A_Template.mtr"), "template v2\n");
    WriteFile(data + QStringLiteral("/Terminal.trm"), "");

    // Started from a folder with its own data files: that folder stays, nothing is copied.
    ASSERT_TRUE(QDir::setCurrent(data));
    QString error;
    EXPECT_EQ(ShellStart::EnterWorkFolder(data, user, &error), data);
    EXPECT_FALSE(QFileInfo::exists(user));

    // Started from the home folder: the user folder is made and seeded, and entered.
    ASSERT_TRUE(QDir::setCurrent(elsewhere));
    EXPECT_EQ(ShellStart::EnterWorkFolder(data, user, &error), user);
    EXPECT_TRUE(error.isEmpty()) << qPrintable(error);
    EXPECT_EQ(QDir::currentPath(), user);
    EXPECT_EQ(Read(user + QStringLiteral("/41A_Template.mtr")), "template v2\n");
    EXPECT_TRUE(QFileInfo::exists(QStringLiteral("Terminal.trm")));

    // A later start after an update: the program's data follow the installed copy, the
    // user's edited template stays.
    WriteFile(user + QStringLiteral("/41A_Template.mtr"), "edited by the user\n");
    WriteFile(data + QStringLiteral("/vars20.dat"), "layout v3\n");
    WriteFile(data + QStringLiteral("/41A_Template.mtr"), "template v3\n");
    ASSERT_TRUE(QDir::setCurrent(elsewhere));
    EXPECT_EQ(ShellStart::EnterWorkFolder(data, user, &error), user);
    EXPECT_EQ(Read(user + QStringLiteral("/vars20.dat")), "layout v3\n");
    EXPECT_EQ(Read(user + QStringLiteral("/read20.que")), "list v2\n");
    EXPECT_EQ(Read(user + QStringLiteral("/41A_Template.mtr")), "edited by the user\n");

    // No installed data (a build run from its own tree): the current folder stays.
    ASSERT_TRUE(QDir::setCurrent(elsewhere));
    EXPECT_EQ(ShellStart::EnterWorkFolder(QString(), user, &error), elsewhere);
}

} // namespace
