#include "meter/ZarnFormFrame.h"
#include "terminal/CTermDoc.h"

#include "base/Globals.h"
#include "support/TestEnv.h"

#include <QFile>

#include <gtest/gtest.h>

#include <vector>

namespace {

QString WorkFile(const char *name)
{
    return TestEnv::WorkDir() + QLatin1Char('/') + QLatin1String(name);
}

TEST(CTermDoc, OpenClearsTheScreenAndReadsNothing)
{
    QFile file(WorkFile("Filled.trm"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\x1b\n500 v4.1A Rev.C Range#2\r\n");
    file.close();
    CTermDoc doc;
    doc.Screen().FeedTick("\x1b\nold text");
    ASSERT_TRUE(doc.OnOpenDocument(file.fileName()));
    EXPECT_EQ(doc.Screen().Text(), QByteArray(2002, ' '));
    EXPECT_EQ(doc.Screen().Row(), 0);
    EXPECT_EQ(doc.Screen().Column(), 0);
    EXPECT_FALSE(doc.IsModified());
}

TEST(CTermDoc, OpenFailsForMissingFile)
{
    CTermDoc doc;
    EXPECT_FALSE(doc.OnOpenDocument(WorkFile("NoSuchTerminal.trm")));
}

TEST(CTermDoc, OpenTellsTheViewsToRepaintEverything)
{
    CTermDoc doc;
    doc.Screen().TakeRepaint();
    QList<QRect> seen;
    QObject::connect(
        &doc, &CTermDoc::ScreenChanged, [&](const QList<QRect> &cells) { seen = cells; });
    ASSERT_TRUE(doc.OnOpenDocument(WorkFile("Terminal.trm")));
    EXPECT_EQ(seen, QList<QRect> { QRect(0, 0, 77, 26) });
}

TEST(CTermDoc, SaveLeavesAnEmptyNewFile)
{
    const QString path = WorkFile("Saved.trm");
    QFile::remove(path);
    CTermDoc doc;
    doc.Screen().FeedTick("\x1b\nsome screen\r\n");
    ASSERT_TRUE(doc.OnSaveDocument(path));
    QFile file(path);
    ASSERT_TRUE(file.exists());
    EXPECT_EQ(file.size(), 0);
    EXPECT_FALSE(doc.IsModified());
}

TEST(CTermDoc, SaveOverAnotherFileKeepsItsContent)
{
    const QString path = WorkFile("Other.mtr");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("00 01 02 ");
    file.close();
    CTermDoc doc;
    ASSERT_TRUE(doc.OnSaveDocument(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("00 01 02 "));
}

TEST(CTermDoc, SaveIntoMissingFolderFails)
{
    CTermDoc doc;
    EXPECT_FALSE(doc.OnSaveDocument(WorkFile("no/such/folder/T.trm")));
}

struct FrameCase
{
    const char *name;
    int docKind;
    int startCount;
    std::vector<QRect> geometries; // frames created one after the other
    int docKindAfter;
    int countAfter;
};

void PrintTo(const FrameCase &c, std::ostream *os)
{
    *os << c.name;
}

class FrameSize : public ::testing::TestWithParam<FrameCase>
{
protected:
    void TearDown() override
    {
        ResetGlobals();
        ZarnFormFrame::ResetSmallFrameCount();
    }
};

const QRect kSmall(0, 0, 560, 470);
const QRect kForm(300, 0, 685, 700);

TEST_P(FrameSize, FollowsTheWindowKind)
{
    const FrameCase &c = GetParam();
    g_DocKind = c.docKind;
    ZarnFormFrame::ResetSmallFrameCount();
    for (int i = 0; i < c.startCount; ++i)
        delete new ZarnFormFrame(g_DocKind); // count up with g_DocKind 2 already set
    g_DocKind = c.docKind;
    for (size_t i = 0; i < c.geometries.size(); ++i) {
        ZarnFormFrame frame(g_DocKind);
        EXPECT_EQ(frame.FrameGeometry(), c.geometries[i]) << "frame " << i;
    }
    EXPECT_EQ(g_DocKind, c.docKindAfter);
    EXPECT_EQ(ZarnFormFrame::SmallFrameCount(), c.countAfter);
}

const FrameCase kFrameCases[] = {
    { "MeterForm", 1, 0, { kForm, kForm }, 1, 0 },
    { "QuixalKindIsFormSize", 5, 0, { kForm }, 5, 0 },
    { "OneTerminal", 2, 0, { kSmall }, 2, 1 },
    // The third small frame resets the kind, so the fourth frame is form-sized again.
    { "ThreeSmallThenForm", 2, 0, { kSmall, kSmall, kSmall, kForm }, 1, 0 },
    { "CounterCarriesOver", 2, 1, { kSmall, kSmall, kForm }, 1, 0 },
};

INSTANTIATE_TEST_SUITE_P(ZarnFormFrame, FrameSize, ::testing::ValuesIn(kFrameCases),
    [](const auto &param) { return std::string(param.param.name); });

} // namespace
