#include "meter/MeterVars.h"

#include "base/Globals.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

class MeterVarsTest : public ::testing::Test
{
protected:
    void SetUp() override { ResetGlobals(); }
    void TearDown() override
    {
        TestEnv::ReseedWorkDir(); // puts back a vars20.dat a test replaced
        ResetGlobals();
    }
    // A table read exactly from a test layout file.
    static MeterVars Layout(const QByteArray &content, const QString &section = "[T]")
    {
        WriteFile(QStringLiteral("layout_test.dat"), content);
        return MeterVars(section, QStringLiteral("layout_test.dat"));
    }
};

TEST_F(MeterVarsTest, ThreeVariableSection)
{
    MeterVars vars = Layout("[X]\n1 other\n.\n[T]\n1 key\n2 serial_num\n4 coeff[0]\n.\n4 late\n");
    EXPECT_EQ(vars.Count(), 3);
    EXPECT_EQ(vars.IndexOf("key"), 0);
    EXPECT_EQ(vars.IndexOf("serial_num"), 1);
    EXPECT_EQ(vars.IndexOf("coeff[0]"), 3);
    EXPECT_EQ(vars.ImageBytes(), 7);
    EXPECT_EQ(vars.Size(3), -1);
    EXPECT_EQ(vars.ImageToText().size(), 21);
    EXPECT_EQ(vars.IndexOf("late"), 0);
    EXPECT_FALSE(vars.Has("late"));
    EXPECT_EQ(vars.SectionName(), "[T]");
}

TEST_F(MeterVarsTest, ImageTextIsMostSignificantByteFirst)
{
    MeterVars vars = Layout("[T]\n2 a\n1 b\n4 c\n.\n");
    vars.SetValue("a", 2, 0x1234);
    vars.SetValue("b", 1, 5);
    vars.SetValue("c", 4, 65536);
    EXPECT_EQ(vars.ImageToText(), "12 34 05 00 01 00 00 ");
    EXPECT_EQ(vars.ImageToSendText(), "12\r34\r05\r00\r01\r00\r00\r");
    EXPECT_EQ(vars.ImageStart()[0], 0x34); // little-endian in the image
    vars.SetValue("b", 1, 0x8C);
    EXPECT_EQ(vars.ImageToText().mid(6, 3), "8C ");
}

TEST_F(MeterVarsTest, SendFormReadsBackToTheSameFileForm)
{
    MeterVars from = Layout("[T]\n2 a\n1 b\n4 c\n.\n");
    for (int i = 0; i < 7; ++i)
        from.ImageStart()[i] = (unsigned char)(0x91 + 17 * i);
    MeterVars to = Layout("[T]\n2 a\n1 b\n4 c\n.\n");
    to.ImageFromText(from.ImageToSendText());
    EXPECT_EQ(to.ImageToText(), from.ImageToText());
    MeterVars other = Layout("[T]\n2 a\n1 b\n4 c\n.\n");
    QString anySeparators = from.ImageToText();
    anySeparators[2] = ';';
    anySeparators[5] = '\t';
    other.ImageFromText(anySeparators.toLower());
    EXPECT_EQ(other.ImageToText(), from.ImageToText());
}

struct TextCase
{
    const char *text;
    const char *expected; // file form afterwards, starting from 11 22 33 44 55 66 77
};

class ImageFromTextCases : public MeterVarsTest, public ::testing::WithParamInterface<TextCase>
{
};

TEST_P(ImageFromTextCases, FillsOnlyWhatTheTextHolds)
{
    MeterVars vars = Layout("[T]\n2 a\n1 b\n4 c\n.\n");
    vars.ImageFromText("11 22 33 44 55 66 77 ");
    vars.ImageFromText(QString::fromLatin1(GetParam().text));
    EXPECT_EQ(vars.ImageToText(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, ImageFromTextCases,
    ::testing::Values(TextCase { "", "11 22 33 44 55 66 77 " },
        TextCase { "AA BB", "AA BB 33 44 55 66 77 " },
        TextCase { "AA BB C", "AA BB 33 44 55 66 77 " },
        TextCase { "AA BB CC DD EE FF 01 02 03 04 05", "AA BB CC DD EE FF 01 " },
        TextCase { "ZZ QQ 01", "11 22 01 44 55 66 77 " },
        TextCase { "\x01\xff\x80 7", "11 07 33 44 55 66 77 " }));

TEST_F(MeterVarsTest, MissingOrDamagedLayoutFileGivesEmptyOrPartialTable)
{
    MeterVars missing("[T]", "no_such_file.dat");
    EXPECT_EQ(missing.Count(), 0);
    EXPECT_EQ(missing.ImageToText(), "");
    EXPECT_EQ(missing.IndexOf("key"), 0);
    missing.ImageFromText("AA BB");
    EXPECT_EQ(missing.ImageStart()[0], 0);

    EXPECT_EQ(Layout("").Count(), 0);
    EXPECT_EQ(Layout("[T]").Count(), 0);
    EXPECT_EQ(Layout("[T]\n1 key\n4 met").Count(), 2); // cut mid-line: the name as it stands
    EXPECT_EQ(Layout("[T]\n1 key\n4").Count(), 1); // a size without a name ends it
    EXPECT_EQ(Layout("[T]\n1 key\n3 odd\n1 b\n").Count(), 1); // so does an odd size digit
    EXPECT_EQ(Layout("[T]\n1 key\nx odd\n").Count(), 1);
    EXPECT_EQ(Layout("[T]\r\n1 key\r\n2 b\r\n\r\n1 c\r\n").Count(), 2); // CR LF, empty line ends
    MeterVars noEnd = Layout("[T]\n1 key\n2 b");
    EXPECT_EQ(noEnd.Count(), 2);
    EXPECT_EQ(noEnd.ImageToText(), "00 00 00 ");
    EXPECT_EQ(Layout(QByteArray("[T]\n1 key\n") + QByteArray(5000, '\xff')).Count(), 0 + 1);
}

// A layout held in memory reads exactly as the file with the same bytes (section list, tables,
// detection), and once held its name no longer reaches the disk.
TEST_F(MeterVarsTest, HeldLayoutReadsAsTheFileWithTheSameBytes)
{
    const QByteArray contents[] = {
        "[X]\n1 other\n.\n[T]\n1 key\n2 serial_num\n4 coeff[0]\n.\n4 late\n",
        "[T]\r\n1 key\r\n2 b\r\n\r\n1 c\r\n[U]\r\n2 x\r\n1 key",
        "[T]\n1 key\n4",
        "",
        "[T]\n\n[T]\n1 key\n",
        QByteArray("[A]\n4 f\n1 key\n[T]\n1 key\n") + QByteArray(5000, '\xff'),
    };
    const QString text = QStringLiteral("00 11 22 33 AA 55 66 77 ");
    for (int i = 0; i < int(std::size(contents)); ++i) {
        const QByteArray &content = contents[i];
        WriteFile(QStringLiteral("layout_test.dat"), content);
        const QString held = QStringLiteral("held_layout_%1.dat").arg(i); // never on disk
        MeterVars::HoldLayoutFile(held, content);
        const QStringList sections = MeterVars::SectionsOf(QStringLiteral("layout_test.dat"));
        EXPECT_EQ(MeterVars::SectionsOf(held), sections) << i;
        EXPECT_EQ(MeterVars::DetectLayout(text, held),
            MeterVars::DetectLayout(text, QStringLiteral("layout_test.dat")))
            << i;
        for (const QString &section : sections + QStringList { "[none]" }) {
            const MeterVars fromFile(section, QStringLiteral("layout_test.dat"));
            const MeterVars fromMemory(section, held);
            ASSERT_EQ(fromMemory.Count(), fromFile.Count()) << i << qPrintable(section);
            EXPECT_EQ(fromMemory.ImageBytes(), fromFile.ImageBytes()) << i;
            for (int e = 0; e <= fromFile.Count(); ++e) {
                EXPECT_EQ(fromMemory.Name(e), fromFile.Name(e)) << i;
                EXPECT_EQ(fromMemory.Offset(e), fromFile.Offset(e)) << i;
                EXPECT_EQ(fromMemory.Size(e), fromFile.Size(e)) << i;
            }
        }
    }
    // Held bytes win over what the disk holds under that name.
    MeterVars::HoldLayoutFile(QStringLiteral("held_layout_over.dat"), "[T]\n2 key\n");
    WriteFile(QStringLiteral("held_layout_over.dat"), "[T]\n1 a\n1 b\n1 key\n");
    EXPECT_EQ(MeterVars("[T]", QStringLiteral("held_layout_over.dat")).Count(), 1);
}

// A name looked up many times (the tables index their names after a few lookups) still gives
// the first of repeated names, and an absent name stays absent.
TEST_F(MeterVarsTest, RepeatedNameGivesTheFirstBeforeAndAfterManyLookups)
{
    MeterVars vars = Layout("[T]\n1 key\n2 twice\n4 twice\n1 key\n.\n");
    for (int round = 0; round < 20; ++round) {
        EXPECT_EQ(vars.EntryOf("twice"), 1) << round;
        EXPECT_EQ(vars.IndexOf("key"), 0) << round;
        EXPECT_EQ(vars.SizeOf("twice"), 2) << round;
        EXPECT_EQ(vars.EntryOf("absent"), -1) << round;
    }
    MeterVars copy = vars; // a copy keeps answering the same
    EXPECT_EQ(copy.EntryOf("twice"), 1);
    EXPECT_EQ(copy.SetValue("twice", 4, 0x01020304u), 1);
    EXPECT_EQ(copy.ImageToText(), "00 03 04 00 00 00 00 00 ");
}

TEST_F(MeterVarsTest, OversizedSectionIsCutAtWhatFits)
{
    QByteArray many = "[T]\n";
    for (int i = 0; i < 300; ++i)
        many += "1 v" + QByteArray::number(i) + "\n";
    MeterVars manyVars = Layout(many);
    EXPECT_EQ(manyVars.Count(), 255);
    EXPECT_EQ(manyVars.ImageToText().size(), 255 * 3);

    QByteArray big = "[T]\n";
    for (int i = 0; i < 70; ++i)
        big += "4 f" + QByteArray::number(i) + "\n";
    MeterVars bigVars = Layout(big);
    EXPECT_EQ(bigVars.Count(), 64);
    EXPECT_EQ(bigVars.ImageBytes(), 256);
    bigVars.ImageFromText(QString(2000, 'F'));
    EXPECT_EQ(bigVars.Value("f63", 4), 0xFFFFFFFFu);
    EXPECT_EQ(bigVars.SetValue("f69", 4, 1), 0);
}

TEST_F(MeterVarsTest, AbsentNameReadsOffsetZeroAndIsNeverWritten)
{
    MeterVars vars = Layout("[T]\n1 key\n2 serial_num\n4 coeff[0]\n.\n");
    vars.ImageFromText("AA 12 34 01 02 03 04 ");
    EXPECT_EQ(vars.IndexOf("missing"), 0);
    EXPECT_EQ(vars.VarAddress("missing"), vars.ImageStart());
    EXPECT_EQ(vars.Value("missing", 1), 0xAAu);
    EXPECT_EQ(vars.SetValue("missing", 4, 0x55555555), 0);
    EXPECT_EQ(vars.SetFloat("missing", 1.0f), 0);
    EXPECT_EQ(vars.ImageToText(), "AA 12 34 01 02 03 04 ");
    // A wider value into a narrower variable keeps its low bytes and the neighbours.
    EXPECT_EQ(vars.SetValue("serial_num", 4, 0x11115678), 1);
    EXPECT_EQ(vars.ImageToText(), "AA 56 78 01 02 03 04 ");
    EXPECT_EQ(vars.SetFloat("serial_num", 2.0f), 0);
    EXPECT_EQ(vars.Value("coeff[0]", 4), 0x01020304u);
}

struct VersionRow
{
    const char *before;
    const char *requested;
    const char *after;
    const char *section;
};

class VersionTable : public MeterVarsTest, public ::testing::WithParamInterface<VersionRow>
{
};

TEST_P(VersionTable, NormalisesVersionAndChoosesSection)
{
    QString version = QString::fromLatin1(GetParam().before);
    MeterVars vars { QString::fromLatin1(GetParam().requested), &version };
    EXPECT_EQ(version, GetParam().after);
    EXPECT_EQ(vars.SectionName(), GetParam().section);
    EXPECT_GT(vars.Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, VersionTable,
    ::testing::Values(VersionRow { "[3.9G]", "[1.4A]", "3.9G", "[1.4A]" },
        VersionRow { "3.9G", "[3.9G]", "3.9G", "[3.9G]" },
        VersionRow { "[1.4A]", "[4.1A]", "1.4A", "[4.1A]" },
        VersionRow { "1.4A", "[1.4A]", "1.4A", "[1.4A]" },
        VersionRow { "[4.0A]", "[3.9G]", "4.0x", "[4.0A]" },
        VersionRow { "[4.0B]", "[4.0B]", "4.0x", "[4.0A]" },
        VersionRow { "4.0x", "[4.1A]", "4.0x", "[4.0A]" },
        VersionRow { "[?.??]", "[4.1A]", "?.??", "[?.??]" },
        VersionRow { "[1.0A]", "[1.4A]", "1.0A", "[1.0A]" },
        VersionRow { "1.1A", "[4.1A]", "1.0A", "[1.0A]" },
        VersionRow { "[1.2C]", "[4.1A]", "1.0A", "[1.0A]" },
        VersionRow { "1.3A", "[4.1A]", "1.0A", "[1.0A]" },
        VersionRow { "4.0B", "[4.0A]", ">= 4.1A", "[4.1A]" },
        VersionRow { "4.2C", "[3.9G]", ">= 4.1A", "[4.1A]" },
        VersionRow { "?.??", "[?.??]", ">= 4.1A", "[4.1A]" },
        VersionRow { ">= 4.1A", "[4.0A]", ">= 4.1A", "[4.1A]" },
        VersionRow { "3.9g", "[3.9G]", ">= 4.1A", "[4.1A]" },
        VersionRow { "", "[3.9G]", "", "[3.9G]" }, VersionRow { "", "[?.??]", "", "[?.??]" }));

TEST_F(MeterVarsTest, DetectSectionFindsTheLayoutOfEachTemplate)
{
    const struct
    {
        const char *file;
        const char *section;
    } rows[] = { { "39G_Template.mtr", "[3.9G]" }, { "40x_Template.mtr", "[4.0A]" },
        { "41A_Template.mtr", "[4.1A]" }, { "39E_Template.mtr", "[4.1A]" },
        { "Quixal.qxm", "[1.4A]" } };
    for (const auto &row : rows) {
        QFile file(QString::fromLatin1(row.file));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << row.file;
        const QString text = QString::fromLatin1(file.readAll());
        QString version; // empty: the requested sections stand, detection really chooses
        std::unique_ptr<MeterVars> table;
        EXPECT_EQ(MeterVars::DetectSection(text, &version, &table), row.section) << row.file;
        ASSERT_TRUE(table);
        EXPECT_EQ(table->SectionName(), row.section);
        EXPECT_EQ(MeterVars::DetectLayout(text, "vars20.dat"), row.section);
    }
    std::unique_ptr<MeterVars> none;
    EXPECT_EQ(MeterVars::DetectSection("00 00 00 00 00 00 00 00", nullptr, &none), "");
    EXPECT_FALSE(none);
    EXPECT_EQ(MeterVars::DetectSection("", nullptr, &none), "");
}

TEST_F(MeterVarsTest, DetectSectionWithVersionInForceOnlyConfirms)
{
    // ">= 4.1A" makes every candidate the [4.1A] layout: a 3.9G file finds none.
    QFile file("39G_Template.mtr");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(file.readAll());
    QString version = ">= 4.1A";
    std::unique_ptr<MeterVars> table;
    EXPECT_EQ(MeterVars::DetectSection(text, &version, &table), "");
    version = "3.9G";
    EXPECT_EQ(MeterVars::DetectSection(text, &version, &table), "[3.9G]");
    EXPECT_EQ(version, "3.9G");
}

TEST_F(MeterVarsTest, MissingLayoutFileDetectsNothing)
{
    QFile::remove("vars20.dat");
    std::unique_ptr<MeterVars> table;
    EXPECT_EQ(MeterVars::DetectSection("AA AA AA AA", nullptr, &table), "");
    QString version = "4.0x";
    MeterVars vars { QStringLiteral("[4.0A]"), &version };
    EXPECT_EQ(vars.Count(), 0);
}

} // namespace

TEST(MeterVarsSectionChoice, TheVersionPassedItselfStillNamesItsSection)
{
    // The section choice rewrites the working version; a caller handing it that version as the
    // requested section must still get the section it asked for.
    QString version = QStringLiteral("[3.9G]");
    const MeterVars vars(version, &version);
    EXPECT_EQ(vars.SectionName(), QStringLiteral("[3.9G]"));
    EXPECT_GT(vars.Count(), 0);
    EXPECT_EQ(version, QStringLiteral("3.9G"));
}
