#include "lists/CScript.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {
struct ParseCase
{
    const char *line;
    QStringList tokens;
};

// One row per line: the tokens Parse must produce, in order.
const ParseCase kParseCases[] = {
    { " End", { "", "End", "" } },
    { "L1: Goto(L2)", { "L1", "Goto", "L2", "" } },
    { "\tFind(\"Flow = \", 7, 10) done", { "", "Find", "Flow = ", "7", "10", "done" } },
    { " Send(a, b", { "", "Send", "a", "" } },
    { "2:End", { "2", "End", "" } },
    { "Loop", { "Loop", "", "" } },
    { "", { "", "", "" } },
    { " Send(a b)", { "", "Send", "ab", "" } },
    { " Send(a\tb)", { "", "Send", "a\tb", "" } },
    { "\tRead(\"v \"x, 1)", { "", "Read", "v x", "1", "" } },
    { " Send(\"never closed, 1)", { "", "Send", "" } },
    { " Goto L2", { "", "Goto", "" } },
    { " End()", { "", "End", "", "" } },
    { "Top:   Test(1051,Top)   ", { "Top", "Test", "1051", "Top", "" } },
    { " Send(1051,100,,\"\",\">\",Bad) trailing  text",
        { "", "Send", "1051", "100", "", "", ">", "Bad", "trailing  text" } },
};

void PrintTo(const ParseCase &c, std::ostream *os)
{
    *os << '"' << c.line << '"';
}

class ParseTable : public ::testing::TestWithParam<ParseCase>
{
};
} // namespace

TEST_P(ParseTable, GivesTheTokensInOrder)
{
    const ParseCase &c = GetParam();
    CScript script;
    script.Parse(QString::fromLatin1(c.line));
    QStringList got;
    for (int i = 0; i < script.TokenCount(); ++i)
        got.append(script.Token(i));
    EXPECT_EQ(got, c.tokens) << "line: " << c.line;
}

INSTANTIATE_TEST_SUITE_P(Lines, ParseTable, ::testing::ValuesIn(kParseCases),
    [](const auto &row) { return "Row" + std::to_string(row.index); });

TEST(CScript, UnparsedScriptAnswersTenEmptyTokens)
{
    CScript script;
    EXPECT_EQ(script.TokenCount(), 10);
    EXPECT_TRUE(script.Token(9).isEmpty());
}

TEST(CScript, TokensPastTheEndAreEmptyAndParseReplacesThePreviousLine)
{
    CScript script;
    script.Parse(QStringLiteral(" Send(1,2,3,4,5,6) x"));
    script.Parse(QStringLiteral(" End"));
    EXPECT_EQ(script.TokenCount(), 3);
    EXPECT_EQ(script.Token(1), QStringLiteral("End"));
    EXPECT_TRUE(script.Token(3).isEmpty());
    EXPECT_TRUE(script.Token(-1).isEmpty());
    EXPECT_EQ(script.Line(), QStringLiteral(" End"));
}

TEST(CScript, ArgumentTextIsTheListAsWritten)
{
    CScript script;
    script.Parse(QStringLiteral("L3: Send(1051, 100, \"\", X) tail"));
    EXPECT_EQ(script.ArgumentText(), QStringLiteral("1051, 100, \"\", X"));
    script.Parse(QStringLiteral(" Send(a, b"));
    EXPECT_EQ(script.ArgumentText(), QStringLiteral("a, b"));
    // A jump to no label shows this text, so a list writes its message as the argument.
    script.Parse(QStringLiteral("Msg: Goto(Meter did not answer)"));
    EXPECT_EQ(script.ArgumentText(), QStringLiteral("Meter did not answer"));
}

TEST(CScript, FindLabel)
{
    const QStringList lines = {
        QStringLiteral("Start: Send(1051,100,200,\"\",\">\",Fail)"),
        QStringLiteral(" End"),
        QStringLiteral("Fail: Goto(Start)"),
        QStringLiteral("Fail: End"),
        QStringLiteral("Done"),
        QStringLiteral("2:End"),
    };
    struct Row
    {
        const char *label;
        int index;
    };
    const Row rows[] = {
        { "Start", 0 }, { "Fail", 2 }, { "Done", 4 }, { "2", 5 }, { "", -1 }, { "Missing", -1 },
        { "start", -1 }, { "End", -1 }, // " End" has no label and is compared whole
    };
    for (const Row &row : rows)
        EXPECT_EQ(CScript::FindLabel(lines, QString::fromLatin1(row.label)), row.index)
            << row.label;
    EXPECT_EQ(CScript::FindLabel({}, QStringLiteral("Start")), -1);
}
