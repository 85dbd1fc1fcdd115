#include "meter/ZarnFormRules.h"

#include <gtest/gtest.h>

using CoeffList = ZarnFormRules::CoeffList;

namespace {
struct TrimCase
{
    int id;
    const char *in;
    const char *out;
};

struct LimitCase
{
    int id;
    const char *in;
    const char *out;
};

struct VersionCase
{
    const char *section;
    const char *versionIn;
    const char *label;
    const char *versionOut;
};
} // namespace

TEST(ZarnFormRules, TrimsFieldTexts)
{
    const TrimCase cases[] = {
        { 1010, "  1234 =>more text", "1234" },
        { 1018, "12.5>7", "12.5" },
        { 1018, "\t\r\n7=8", "7" },
        { 1049, "4.1A", "4.1A" },
        { 1084, "", "" },
        { 1051, "  AA 01 02 \r", "AA 01 02 \r" }, // the image text is never cut
        { 1060, " AA 01", "AA" },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ZarnFormRules::TrimForField(c.id, QString::fromLatin1(c.in)),
            QString::fromLatin1(c.out))
            << c.id << " '" << c.in << "'";
    }
}

TEST(ZarnFormRules, ReadsLeadingNumbersLikeTheCLibrary)
{
    EXPECT_EQ(ZarnFormRules::LeadingInt(QStringLiteral("  +17abc")), 17);
    EXPECT_EQ(ZarnFormRules::LeadingInt(QStringLiteral("-3")), -3);
    EXPECT_EQ(ZarnFormRules::LeadingInt(QStringLiteral("?")), 0);
    EXPECT_EQ(ZarnFormRules::LeadingInt(QStringLiteral("99999999999999")), INT_MAX);
    EXPECT_DOUBLE_EQ(ZarnFormRules::LeadingNumber(QStringLiteral("1.5e3x")), 1500.0);
    EXPECT_DOUBLE_EQ(ZarnFormRules::LeadingNumber(QStringLiteral(" -2.25")), -2.25);
    EXPECT_DOUBLE_EQ(ZarnFormRules::LeadingNumber(QStringLiteral(".5")), 0.5);
    EXPECT_DOUBLE_EQ(ZarnFormRules::LeadingNumber(QStringLiteral("3e")), 3.0);
    EXPECT_DOUBLE_EQ(ZarnFormRules::LeadingNumber(QStringLiteral("e5")), 0.0);
    // A units line's code, in its last four characters, less five within the 32 codes; the
    // same for every line code the files or a meter may give, negative and huge ones included.
    const struct
    {
        const char *line;
        int units;
    } units[] = { { "SCFM  Standard cubic feet per minute   101", 0 }, { "LB/M  Pounds  103", 2 },
        { "Kg/H 0116", 15 }, { "odd   4", 31 }, { "x -03", 24 }, { "none", 27 } };
    for (const auto &row : units)
        EXPECT_EQ(ZarnFormRules::UnitsOfLine(QLatin1String(row.line)), row.units) << row.line;
    for (const qint64 code : { qint64(-40), qint64(-1), qint64(37), qint64(1) << 40 })
        EXPECT_EQ(UnitConversion::UnitsOfCode(code), int(((code - 5) % 32 + 32) % 32)) << code;
}

TEST(ZarnFormRules, LimitsFieldsWhenLeft)
{
    const LimitCase cases[] = {
        { 1010, "400000001", "400000000" }, { 1013, "400000000", "400000000" },
        { 1011, "-7", "-7" }, { 1014, "300", "255" }, { 1017, "256", "255" },
        { 1015, "255", "255" }, { 1028, "201", "200" }, { 1028, "200", "200" },
        { 1024, "64", "63" }, { 1024, "63", "63" }, { 1022, "128", "127" }, { 1022, "127", "127" },
        { 1037, "5.01", "5.00000" }, { 1037, "-5.5", "-5.00000" }, { 1037, "-5", "-5" },
        { 1018, "999999999999", "999999999999" }, // no limit on Full Scale
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ZarnFormRules::LimitOnLeave(c.id, QString::fromLatin1(c.in)),
            QString::fromLatin1(c.out))
            << c.id << " " << c.in;
    }
}

TEST(ZarnFormRules, CurveFitChoicePerVersion)
{
    const struct
    {
        int pick;
        const char *version;
        int result;
    } cases[] = {
        { 0, "4.0x", 0 },
        { 1, "4.0x", 1 },
        { 2, "4.0x", 1 },
        { 3, "3.9G", 1 },
        { 2, ">= 4.1A", 2 },
        { 3, ">= 4.1A", 3 },
        { 0, ">= 4.1A", 0 },
    };
    for (const auto &c : cases)
        EXPECT_EQ(
            ZarnFormRules::CurveFitAfterPick(c.pick, QString::fromLatin1(c.version)), c.result)
            << c.pick << " " << c.version;
}

TEST(ZarnFormRules, TemplateLabelFollowsTableThenVersion)
{
    const VersionCase cases[] = {
        { "[3.9G]", ">= 4.1A", "3.9G", ">= 4.1A" },
        { "[4.0A]", "", "4.0x", "" },
        { "[4.1A]", "3.9G", "3.9G", "3.9G" },
        { "[4.1A]", "4.0x", "4.0x", "4.0x" },
        { "", "?.??", "?.??", "?.??" },
        { "[4.1A]", "4.1A", ">= 4.1A", ">= 4.1A" },
        { "", "4.2C", ">= 4.1A", ">= 4.1A" },
        { "", "", "", "" },
    };
    for (const auto &c : cases) {
        QString version = QString::fromLatin1(c.versionIn);
        EXPECT_EQ(ZarnFormRules::TemplateLabel(QString::fromLatin1(c.section), version),
            QString::fromLatin1(c.label))
            << c.section << " " << c.versionIn;
        EXPECT_EQ(version, QString::fromLatin1(c.versionOut));
    }
}

TEST(ZarnFormRules, ParameterRingWrapsBothWays)
{
    const int cases[][3] = {
        // code, step, next
        { 5, +1, 6 },
        { 9, +1, 10 },
        { 10, +1, 5 },
        { 5, -1, 10 },
        { 7, -1, 6 },
        { 4, +1, 4 },
    };
    for (const auto &c : cases)
        EXPECT_EQ(ZarnFormRules::NextRingCode(c[0], c[1]), c[2]) << c[0] << " " << c[1];
}

TEST(ZarnFormRules, CoefficientWalkAndLabels)
{
    EXPECT_EQ(ZarnFormRules::ItemLabel(CoeffList::Primary, 0), QStringLiteral("A="));
    EXPECT_EQ(ZarnFormRules::ItemLabel(CoeffList::Secondary, 9), QStringLiteral("J="));
    EXPECT_EQ(ZarnFormRules::ItemLabel(CoeffList::PointWise, 1), QStringLiteral("@5%="));
    EXPECT_EQ(ZarnFormRules::ItemLabel(CoeffList::PointWise, 20), QStringLiteral("@100%="));

    const struct
    {
        CoeffList list;
        int index, count, down, up;
    } cases[] = {
        { CoeffList::Primary, 0, 10, 1, 0 },
        { CoeffList::Primary, 9, 10, 0, 8 },
        { CoeffList::Primary, -1, 10, 0, -1 },
        { CoeffList::PointWise, 20, 21, 1, 19 },
        { CoeffList::PointWise, 1, 21, 2, 1 },
        { CoeffList::PointWise, 2, 21, 3, 1 },
        { CoeffList::PointWise, 0, 1, -1, 0 },
        { CoeffList::Secondary, 0, 0, -1, 0 },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ZarnFormRules::WalkDown(c.list, c.index, c.count), c.down) << c.index;
        EXPECT_EQ(ZarnFormRules::WalkUp(c.list, c.index), c.up) << c.index;
    }
}

TEST(ZarnFormRules, RangeChangeNeedsAKnownDifferentActiveRange)
{
    const struct
    {
        const char *active, *desired;
        bool allowed;
    } cases[] = {
        { "", "2", false },
        { "?", "2", false },
        { "5", "2", false },
        { "0", "1", false },
        { "2", "2", false },
        { "1", "4", true },
        { "4", "", false },
    };
    for (const auto &c : cases)
        EXPECT_EQ(ZarnFormRules::CanChangeRange(
                      QString::fromLatin1(c.active), QString::fromLatin1(c.desired)),
            c.allowed)
            << "'" << c.active << "' '" << c.desired << "'";
}

TEST(ZarnFormRules, ImageTextNeedsHexPairsForEveryByte)
{
    const struct
    {
        const char *text;
        int bytes;
        bool image;
    } cases[] = {
        { "AA 01 FF", 3, true },
        { "AA\r01\rff\r", 3, true },
        { "AA 01 FF 00", 3, true }, // more than the layout needs
        { "AA 01", 3, false },
        { "AA 0G FF", 3, false },
        { "=3.9G REV=B", 3, false },
        { "", 0, false },
    };
    for (const auto &c : cases)
        EXPECT_EQ(ZarnFormRules::IsImageText(QString::fromLatin1(c.text), c.bytes), c.image)
            << c.text;
}

TEST(ZarnFormRules, ClockTexts)
{
    EXPECT_EQ(ZarnFormRules::TimeText(QTime(13, 4, 5), false), QStringLiteral("01:04:05PM"));
    EXPECT_EQ(ZarnFormRules::TimeText(QTime(0, 0, 9), false), QStringLiteral("12:00:09AM"));
    EXPECT_EQ(ZarnFormRules::TimeText(QTime(12, 30, 0), false), QStringLiteral("12:30:00PM"));
    EXPECT_EQ(ZarnFormRules::TimeText(QTime(13, 4, 5), true), QStringLiteral("13:04:05"));
    EXPECT_EQ(ZarnFormRules::DateText(QDate(2026, 3, 9), false), QStringLiteral("03/09/26"));
    EXPECT_EQ(ZarnFormRules::DateText(QDate(2026, 3, 9), true), QStringLiteral("09.03.26"));
    EXPECT_EQ(ZarnFormRules::DateText(QDate(2000, 12, 31), false), QStringLiteral("12/31/00"));
}
