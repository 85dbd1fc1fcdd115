// Durable appends of whole lines: which step failed, the system's reason, a cut last line closed.
#include "link/AppendOnlyFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(AppendOnlyFile, SaysWhichStepFailedAndClosesACutLastLine)
{
    QTemporaryDir dir;
    const QString cut = dir.filePath(QStringLiteral("cut.jsonl"));
    {
        QFile f(cut);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{\"whole\":1}\n{\"cut");
    }
    using Failed = AppendOnlyFile::Result::Failed;
    struct Case
    {
        QString path;
        Failed failed;
        const char *reason;
        qint64 size; // of what went to the file, a closing newline included
    };
    // A character device cannot be synced and holds nothing to lose; /dev/full is a disk with no
    // room left.
    const Case cases[] = {
        { cut, Failed::Nothing, "", 4 },
        { QStringLiteral("/dev/null"), Failed::Nothing, "", 3 },
        { dir.path(), Failed::Open, "Is a directory", 0 },
        { QStringLiteral("/dev/full"), Failed::Write, "No space left on device", 3 },
        { dir.filePath(QStringLiteral("none/x")), Failed::Open, "No such file or directory", 0 },
    };
    for (const Case &c : cases) {
        const AppendOnlyFile::Result r = AppendOnlyFile::Append(c.path, "{}\n");
        EXPECT_EQ(r.failed, c.failed) << qPrintable(c.path);
        EXPECT_TRUE(r.reason.contains(QString::fromLatin1(c.reason))) << qPrintable(r.reason);
        EXPECT_EQ(r.Ok(), r.reason.isEmpty()) << qPrintable(c.path);
        if (c.size) {
            EXPECT_EQ(r.size, c.size) << qPrintable(c.path);
        }
        EXPECT_FALSE(r.partLeft);
    }
    QFile back(cut);
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    EXPECT_EQ(back.readAll(), QByteArray("{\"whole\":1}\n{\"cut\n{}\n"));
    EXPECT_FALSE(AppendOnlyFile::AccountName().isEmpty());
}
