#include "terminal/TermScreen.h"

#include "base/AppServices.h"
#include "base/Globals.h"
#include "base/MeterSession.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

QByteArray Blank(int n)
{
    return QByteArray(n, ' ');
}

// The bytes of one row with trailing blanks removed, so expectations stay short.
QByteArray Trimmed(const TermScreen &screen, int row)
{
    QByteArray text = screen.RowText(row);
    while (text.endsWith(' '))
        text.chop(1);
    return text;
}

QByteArray Lines(int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += "L" + QByteArray::number(i) + "\r\n";
    return bytes;
}

struct ScreenCase
{
    const char *name;
    std::vector<QByteArray> ticks; // each entry is one timer tick's input
    int row;
    int column;
    int length;
    std::vector<std::pair<int, QByteArray>> rows; // row -> its content, trailing blanks cut
};

void PrintTo(const ScreenCase &c, std::ostream *os)
{
    *os << c.name;
}

class ScreenRules : public ::testing::TestWithParam<ScreenCase>
{
};

TEST_P(ScreenRules, EndsWithExpectedScreen)
{
    const ScreenCase &c = GetParam();
    TermScreen screen;
    for (const QByteArray &tick : c.ticks)
        screen.FeedTick(tick);
    EXPECT_EQ(screen.Row(), c.row);
    EXPECT_EQ(screen.Column(), c.column);
    EXPECT_EQ(screen.Text().size(), c.length);
    for (const auto &[row, text] : c.rows)
        EXPECT_EQ(Trimmed(screen, row), text) << "row " << row;
}

const ScreenCase kScreenCases[] = {
    { "Fresh", {}, 0, 0, 2002, { { 0, "" }, { 25, "" } } },
    { "FirstCharacterGoesToColumnOne", { "AB" }, 0, 2, 2002, { { 0, " AB" } } },
    // The first line feed after opening keeps only the last 77 characters: row 0 is lost.
    { "FirstLineFeedDropsRowZero", { "ABC\n" }, 1, 3, 154, { { 0, "" }, { 1, "" } } },
    { "EscapeLineFeedKeepsFollowingText", { "\x1b\n", "ABC\r\nDEF" }, 1, 3, 154,
        { { 0, " ABC" }, { 1, " DEF" } } },
    // Everything after an escape up to the line feed is swallowed within the same tick.
    { "EscapeThreeCharsLineFeedOneTick",
        { "XYZ\x1b"
          "abc\n" },
        0, 3, 77, { { 0, "" } } },
    { "SuppressionEndsWithTheTick",
        { "\x1b"
          "abc",
            "de" },
        0, 5, 2002, { { 0, "    de" } } },
    { "LineFeedInNextTickAdvances",
        { "\x1b"
          "abc",
            "\n" },
        1, 3, 154, { { 0, "" }, { 1, "" } } },
    { "CarriageReturnGoesToColumnZero", { "\x1b\nABCD\rxy" }, 0, 2, 77, { { 0, " xyCD" } } },
    { "BackspaceOverwrites", { "AB\bC" }, 0, 2, 2002, { { 0, " AC" } } },
    { "BackspaceAtColumnZeroStays", { "\b\b\bA" }, 0, 1, 2002, { { 0, " A" } } },
    { "LineFeedKeepsColumn", { "\x1b\nABC\nD" }, 1, 4, 154, { { 0, " ABC" }, { 1, "    D" } } },
    { "TabAndHighBytesAreCharacters", { QByteArray("\t\xff\x80\x00z", 5) }, 0, 5, 2002,
        { { 0, QByteArray(" \t\xff\x80\x00z", 6) } } },
    // 77 printable characters: 76 fill columns 1..76, the 77th wraps to column 0, no new row.
    { "SeventySeventhCharacterWraps", { "\x1b\n" + QByteArray(76, 'a') + "Z" }, 0, 0, 77,
        { { 0, "Z" + QByteArray(76, 'a') } } },
    { "WrapOverwritesColumnOne", { "\x1b\n" + QByteArray(77, 'a') + "B" }, 0, 1, 77,
        { { 0, "aB" + QByteArray(75, 'a') } } },
    { "TwentyFiveLinesFillTheScreen", { "\x1b\n" + Lines(25) }, 25, 0, 2002,
        { { 0, " L0" }, { 24, " L24" }, { 25, "" } } },
    // A line feed on row 25 scrolls: row 0 goes, the new row 25 is blank.
    { "LineFeedOnLastRowScrolls", { "\x1b\n" + Lines(26) }, 25, 0, 2002,
        { { 0, " L1" }, { 23, " L24" }, { 24, " L25" }, { 25, "" } } },
    { "LongStreamKeepsLastRows", { "\x1b\n" + Lines(100), "tail" }, 25, 4, 2002,
        { { 0, " L75" }, { 24, " L99" }, { 25, " tail" } } },
    { "EscapeClearsFullScreen", { "\x1b\n" + Lines(30), "\x1b" }, 0, 0, 2002,
        { { 0, "" }, { 24, "" } } },
};

INSTANTIATE_TEST_SUITE_P(TermScreen, ScreenRules, ::testing::ValuesIn(kScreenCases),
    [](const auto &param) { return std::string(param.param.name); });

struct RepaintCase
{
    const char *name;
    QByteArray before; // fed in one tick, then its repaint list is thrown away
    QByteArray bytes; // fed in the next tick
    std::vector<QRect> cells;
};

void PrintTo(const RepaintCase &c, std::ostream *os)
{
    *os << c.name;
}

class ScreenRepaint : public ::testing::TestWithParam<RepaintCase>
{
};

TEST_P(ScreenRepaint, AsksForTheChangedCellsOnly)
{
    const RepaintCase &c = GetParam();
    TermScreen screen;
    screen.FeedTick(c.before);
    screen.TakeRepaint();
    screen.FeedTick(c.bytes);
    const QList<QRect> cells = screen.TakeRepaint();
    EXPECT_EQ(std::vector<QRect>(cells.begin(), cells.end()), c.cells);
    EXPECT_FALSE(screen.HasRepaint());
    EXPECT_TRUE(screen.TakeRepaint().isEmpty());
}

const QRect kWhole(0, 0, 77, 26);

const RepaintCase kRepaintCases[] = {
    { "Nothing", "", "", {} },
    { "OneCharacter", "", "A", { QRect(1, 0, 1, 1) } },
    { "RunOnOneRow", "", "ABC", { QRect(1, 0, 3, 1) } },
    { "WrappedRow", "", QByteArray(77, 'x'), { QRect(0, 0, 77, 1) } },
    { "BackspaceAndCarriageReturnAlone", "AB", "\b\r", {} },
    { "OverwriteAfterReturn", "\x1b\n\n\nABCDEF", "\rxy", { QRect(1, 2, 2, 1) } },
    { "LineFeedRepaintsAll", "", "A\nB", { kWhole } },
    { "EscapeRepaintsAll", "ABC", "\x1b", { kWhole } },
    { "SuppressedCharactersPaintNothing", "\x1b", "", {} },
};

INSTANTIATE_TEST_SUITE_P(TermScreen, ScreenRepaint, ::testing::ValuesIn(kRepaintCases),
    [](const auto &param) { return std::string(param.param.name); });

TEST(TermScreen, NewScreenAsksForWholeRepaint)
{
    TermScreen screen;
    EXPECT_EQ(screen.TakeRepaint(), QList<QRect> { kWhole });
}

struct IdentCase
{
    const char *name;
    QByteArray text;
    const char *model;
    const char *version;
    const char *revision;
    const char *number;
};

void PrintTo(const IdentCase &c, std::ostream *os)
{
    *os << c.name;
}

class Identification : public ::testing::TestWithParam<IdentCase>
{
};

TEST_P(Identification, UpdatesTheMeterStrings)
{
    const IdentCase &c = GetParam();
    QString model = "m", version = "v", revision = "r", number = "n";
    TermScreen::ScanIdentification(c.text, model, version, revision, number);
    EXPECT_EQ(model, QString::fromLatin1(c.model));
    EXPECT_EQ(version, QString::fromLatin1(c.version));
    EXPECT_EQ(revision, QString::fromLatin1(c.revision));
    EXPECT_EQ(number, QString::fromLatin1(c.number));
}

// A row after the first (index 77 on) holds the identification line.
QByteArray OnRow1(const QByteArray &line)
{
    return Blank(77) + " " + line + Blank(76 - line.size());
}

const IdentCase kIdentCases[] = {
    { "Kelvane41A", OnRow1("500 v4.1A Rev.C Range#2"), "500", "4.1A", "C", "2" },
    { "Kelvane40B", OnRow1("240 v4.0B Rev.D Meter#1"), "240", "4.0B", "D", "1" },
    { "Kelvane39E", OnRow1("220 v3.9E Rev.A Meter#3"), "220", "3.9E", "A", "3" },
    // Firmware 4.0 and 3.9 take the number after "er#", all others after "ge#".
    { "Old firmware ignores Range", OnRow1("240 v4.0A Rev.B Range#2 Meter#4"), "240", "4.0A", "B",
        "4" },
    { "New firmware ignores Meter", OnRow1("500 v4.1A Rev.C Meter#4 Range#2"), "500", "4.1A", "C",
        "2" },
    { "NoMarker", OnRow1("500 4.1A Rev.C Range#2"), "m", "v", "r", "n" },
    { "MarkerAtIndex3ChangesNothing", "500 v4.1A Rev.C Range#2" + Blank(100), "m", "v", "r", "n" },
    { "MarkerAtIndex4SetsModelOnly", " 500 v4.1A Rev.C Range#2" + Blank(100), "500", "v", "r",
        "n" },
    { "MarkerAtIndex25SetsModelOnly", Blank(22) + "500 v4.1A Rev.C" + Blank(60), "500", "v", "r",
        "n" },
    { "MarkerAtIndex26SetsAll", Blank(23) + "500 v4.1A Rev.C Range#2" + Blank(60), "500", "4.1A",
        "C", "2" },
    { "FirstMarkerWins", OnRow1("300 v4.1A Rev.E Range#5") + OnRow1("500 v3.9G"), "300", "4.1A",
        "E", "5" },
    { "VersionCutByEndOfText", Blank(80) + "500 v4.", "500", "4.", "", "" },
    { "MissingRevisionAndNumberBecomeUnknown", OnRow1("500 v4.1A"), "500", "4.1A", "", "" },
    { "NumberMarkerAtEndOfText", OnRow1("500 v4.1A Rev.C") + "Range#", "500", "4.1A", "C", "" },
    { "HighBytesTakenAsLatin1",
        OnRow1("5\xb0"
               "0 v4.1\xe9 Rev.\xff Range#\x80"),
        "5\xb0"
        "0",
        "4.1\xe9", "\xff", "\x80" },
};

INSTANTIATE_TEST_SUITE_P(
    TermScreen, Identification, ::testing::ValuesIn(kIdentCases), [](const auto &param) {
        std::string name = param.param.name;
        for (char &ch : name) {
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        }
        return name;
    });

class ScreenGlobals : public ::testing::Test
{
protected:
    void SetUp() override { ResetGlobals(); }
    void TearDown() override { ResetGlobals(); }
};

// The meter's answer to "[[[[[[[" as it is drawn: clear, line feed, menu lines.
TEST_F(ScreenGlobals, CarriageReturnAfterIdentificationRowSetsGlobals)
{
    TermScreen screen;
    int changes = 0;
    const QMetaObject::Connection followed = QObject::connect(
        &AppServices::Meter(), &MeterSession::Changed, [&changes] { ++changes; });
    screen.FeedTick("\x1b\nHalvren Instruments\r\n500 v4.1A Rev.C Range#2");
    EXPECT_TRUE(AppServices::Meter().Version().isEmpty()) << "scan runs only on carriage return";
    screen.FeedTick("\r\n");
    EXPECT_EQ(AppServices::Meter().Model(), "500");
    EXPECT_EQ(AppServices::Meter().Version(), "4.1A");
    EXPECT_EQ(AppServices::Meter().Revision(), "C");
    EXPECT_EQ(AppServices::Meter().Range(), "2");
    // Those who follow the session hear of the identification once; a rescan that finds the
    // same is no news.
    EXPECT_EQ(changes, 1);
    screen.FeedTick("\r");
    EXPECT_EQ(changes, 1);
    QObject::disconnect(followed);
}

TEST_F(ScreenGlobals, CarriageReturnWithoutIdentificationKeepsGlobals)
{
    AppServices::Meter().SetModel("240");
    AppServices::Meter().SetVersion("4.0B");
    AppServices::Meter().SetRevision("D");
    AppServices::Meter().SetRange("1");
    TermScreen screen;
    screen.FeedTick("\x1b\nno line here\r\n>\r");
    EXPECT_EQ(AppServices::Meter().Model(), "240");
    EXPECT_EQ(AppServices::Meter().Version(), "4.0B");
    EXPECT_EQ(AppServices::Meter().Revision(), "D");
    EXPECT_EQ(AppServices::Meter().Range(), "1");
}

// Any byte values in any order and any split into ticks keep the cursor and every repaint
// request on the screen, and the text long enough for the cursor's row.
TEST_F(ScreenGlobals, RandomBytesStayInsideTheScreen)
{
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> byteDist(0, 255);
    std::uniform_int_distribution<int> controlDist(0, 5);
    std::uniform_int_distribution<int> tickDist(0, 600);
    const unsigned char controls[] = { 8, 10, 13, 27, ' ', 'v' };
    const QRect screenCells(0, 0, TermScreen::kColumns, TermScreen::kRows);
    TermScreen screen;
    for (int tick = 0; tick < 2000; ++tick) {
        screen.StartTick();
        const int count = tickDist(random);
        for (int i = 0; i < count; ++i) {
            // Half the bytes are the interpreted ones, so every state is reached often.
            const int pick = byteDist(random);
            const unsigned char byte = pick < 128 ? controls[controlDist(random)]
                                                  : static_cast<unsigned char>(byteDist(random));
            screen.Put(byte);
            ASSERT_GE(screen.Row(), 0);
            ASSERT_LT(screen.Row(), TermScreen::kRows);
            ASSERT_GE(screen.Column(), 0);
            ASSERT_LT(screen.Column(), TermScreen::kColumns);
            ASSERT_GE(screen.Text().size(), (screen.Row() + 1) * TermScreen::kColumns);
            ASSERT_LE(screen.Text().size(), TermScreen::kScreenSize);
            ASSERT_EQ(screen.Text().size() % TermScreen::kColumns, 0);
        }
        for (const QRect &cells : screen.TakeRepaint())
            ASSERT_TRUE(screenCells.contains(cells)) << "tick " << tick;
        ASSERT_LE(AppServices::Meter().Model().size(), 3);
        ASSERT_LE(AppServices::Meter().Version().size(), 4);
        ASSERT_LE(AppServices::Meter().Revision().size(), 1);
        ASSERT_LE(AppServices::Meter().Range().size(), 1);
    }
}

} // namespace
