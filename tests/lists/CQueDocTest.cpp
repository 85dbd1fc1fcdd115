#include "lists/CQueDoc.h"

#include "support/TestEnv.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {
QString WriteFile(const QString &name, const QByteArray &content)
{
    const QString path = TestEnv::WorkDir() + QLatin1Char('/') + name;
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(content);
    return path;
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}
} // namespace

TEST(CQueDoc, SplitsLinesAtLineFeedsWithOrWithoutCarriageReturn)
{
    const std::pair<QByteArray, QStringList> rows[] = {
        { "", {} },
        { "\r\n", { "" } },
        { " End", { " End" } },
        { "a\r\nb\nc\r\n", { "a", "b", "c" } },
        { "a\n\n b\n", { "a", "", " b" } },
        { "a\r\r\nb", { "a\r", "b" } },
        { QByteArray("x\0y\n\xe9", 5),
            { QString::fromLatin1("x\0y", 3), QString::fromLatin1("\xe9") } },
    };
    for (const auto &[content, lines] : rows)
        EXPECT_EQ(CQueDoc::SplitLines(content), lines) << content.toHex().constData();
}

TEST(CQueDoc, OpensAFileAndRefusesAMissingOne)
{
    CQueDoc doc;
    ASSERT_TRUE(doc.OnOpenDocument(WriteFile("five.que", "a\r\nb\r\nc\r\nd\r\n End\r\n")));
    EXPECT_EQ(doc.Lines().size(), 5);
    EXPECT_EQ(doc.Lines().last(), QStringLiteral(" End"));

    CQueDoc missing;
    EXPECT_FALSE(missing.OnOpenDocument(TestEnv::WorkDir() + "/no-such.que"));
    EXPECT_TRUE(missing.Lines().isEmpty());

    CQueDoc empty;
    ASSERT_TRUE(empty.OnOpenDocument(WriteFile("empty.que", "")));
    EXPECT_TRUE(empty.Lines().isEmpty());
}

TEST(CQueDoc, SaveNeverDamagesTheListFile)
{
    const QByteArray content("// mixed ends\n Send(1,2,3,\"\",\">\",X)\r\nX: End");
    const QString path = WriteFile("keep.que", content);
    CQueDoc doc;
    ASSERT_TRUE(doc.OnOpenDocument(path));
    doc.SetPathName(path);
    EXPECT_TRUE(doc.OnSaveDocument(path));
    EXPECT_EQ(ReadFile(path), content);

    // Under another name the steps are written back unchanged.
    const QString copy = TestEnv::WorkDir() + "/copy.que";
    EXPECT_TRUE(doc.OnSaveDocument(copy));
    CQueDoc reread;
    ASSERT_TRUE(reread.OnOpenDocument(copy));
    EXPECT_EQ(reread.Lines(), doc.Lines());
    EXPECT_EQ(ReadFile(path), content);

    // A save that cannot be written reports it.
    EXPECT_FALSE(doc.OnSaveDocument(TestEnv::WorkDir() + "/no-such-dir/x.que"));
}
