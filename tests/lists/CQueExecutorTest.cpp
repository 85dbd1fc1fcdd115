#include "lists/CQueExecutor.h"

#include "base/UserMessage.h"
#include "lists/QueFakes.h"
#include "support/RunToEnd.h"

#include <gtest/gtest.h>

#include <climits>

namespace {
struct Shown
{
    QString text;
    QString caption;
};

// Runs lines against a fake form and meter, recording the message boxes the run shows.
class ExecutorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = UserMessage::SetHandler([this](const QString &text, const QString &caption) {
            messages.append({ text, caption });
        });
        executor.SetLink(&link);
        executor.SetPauseMs(0);
    }
    void TearDown() override { UserMessage::SetHandler(m_previous); }

    void Load(const QStringList &lines) { executor.SetLines(lines); }
    // One line, run as the list window runs it: a dialogue on the runner.
    int Step(IFieldAccess *on)
    {
        const int result = RunToEnd(runner, executor.StepAsync(on, runner));
        executor.ShowMessages(); // as the list's owner does once the line's dialogue has ended
        return result;
    }
    QList<int> Run(int steps)
    {
        QList<int> results;
        for (int i = 0; i < steps; ++i)
            results.append(Step(&form));
        return results;
    }

    FakeMeterLink link;
    MapForm form;
    CQueExecutor executor;
    DialogueRunner runner;
    QList<Shown> messages;

private:
    UserMessage::Handler m_previous;
};
} // namespace

TEST_F(ExecutorTest, SendsAFieldAndReadsPartsOfTheAnswerIntoFields)
{
    form.fields[2000] = QStringLiteral("rv");
    link.replies = { QByteArray("v4.1A #12345 r2 >") };
    Load({ QStringLiteral(" Send(2000, 120, 800, \"X\", \">\", Fail)"),
        QStringLiteral(" Read(\"v\", 1, 4, 1049)"), QStringLiteral(" Read(\"#\", 1, 5, 1048)"),
        QStringLiteral(" End"), QStringLiteral("Fail: End") });

    EXPECT_EQ(Run(4), (QList<int> { 0, 0, 0, 1 }));
    EXPECT_EQ(link.calls, (QStringList { "purge", "send:rvX\r", "read:120,800" }));
    EXPECT_EQ(
        form.writes, (QList<std::pair<int, QString>> { { 1049, "4.1A" }, { 1048, "12345" } }));
    EXPECT_TRUE(executor.Stopped());
    EXPECT_EQ(executor.LineIndex(), 3);
    // A stopped list runs nothing more.
    EXPECT_EQ(Run(2), (QList<int> { 0, 0 }));
    EXPECT_EQ(executor.LineIndex(), 3);
    EXPECT_EQ(link.calls.size(), 3);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(ExecutorTest, FailedExchangeJumpsToItsLabel)
{
    struct Row
    {
        QByteArray reply;
        const char *terminator;
        int lineAfterSend; // 1 when the terminator matched, 3 (Fail) when it did not
    };
    const Row rows[] = {
        { "ok>", ">", 1 },
        { "", ">", 3 },
        { "ok", ">", 3 },
        { ">>", ">>", 3 }, // a two-character terminator never matches
        { "ok>", "", 3 },
        { QByteArray("\x00\x01>", 3), ">", 1 },
    };
    for (const Row &row : rows) {
        link.replies = { row.reply };
        Load({ QStringLiteral(" Send(1, 10, 20, \"\", \"%1\", Fail)")
                   .arg(QLatin1String(row.terminator)),
            QStringLiteral(" Goto(Ok)"), QStringLiteral("Ok: End"), QStringLiteral("Fail: End") });
        Step(&form);
        Step(&form);
        EXPECT_EQ(executor.LineIndex(), row.lineAfterSend)
            << row.reply.toHex().constData() << " / " << row.terminator;
    }
}

TEST_F(ExecutorTest, SendCmdExchangesTheValueFoundBefore)
{
    link.replies = { QByteArray("serial=777>"), QByteArray("done>") };
    Load({ QStringLiteral(" Send(5, 10, 20, \"\", \">\", F)"), QStringLiteral(" Find(\"=\", 1, 3)"),
        QStringLiteral(" SendCmd(50, 60, \">\", F)"), QStringLiteral(" End"),
        QStringLiteral("F: End") });
    EXPECT_EQ(Run(4), (QList<int> { 0, 0, 0, 1 }));
    EXPECT_EQ(link.calls,
        (QStringList { "purge", "send:\r", "read:10,20", "purge", "send:777\r", "read:50,60" }));
    EXPECT_EQ(executor.Value(), QStringLiteral("777"));
    EXPECT_EQ(executor.Reply(), QByteArray("done>"));
    EXPECT_TRUE(form.writes.isEmpty());
}

TEST_F(ExecutorTest, FindCutsThePieceOfTheReply)
{
    struct Row
    {
        QByteArray reply;
        const char *find; // search text, offset, length
        QString value;
    };
    const QByteArray longReply = QByteArray(5000, 'x') + "END=42>";
    const Row rows[] = {
        { "v4.1A r", "\"v\", 1, 4", "4.1A" },
        { "ABCDEFG", "\"zz\", 3, 2", "CD" }, // absent: from offset - 1
        { "ABCDEFG", "\"zz\", 0, 3", "ABC" }, // absent, offset - 1 negative: from 0
        { "ABC", "\"B\", 5, 2", "" }, // past the end
        { "v4.1", "\"v\", 1, 4", "4.1" }, // truncated reply
        { "ABC", "\"A\", 0, -1", "" },
        { "", "\"x\", 0, 5", "" },
        { "a=1 a=2", "\"a=\", 2, 1", "1" }, // first occurrence
        { QByteArray("\x00\x01=7\xff", 5), "\"=\", 1, 2", QString::fromLatin1("7\xff") },
        { longReply, "\"END=\", 4, 2", "42" },
        { "A=5", "\"=\", -2147483647, 1", "A" },
    };
    for (const Row &row : rows) {
        link.replies = { row.reply };
        Load({ QStringLiteral(" SendCmd(1, 1, \">\", Next)"),
            QStringLiteral("Next: Read(%1, 1051)").arg(QLatin1String(row.find)) });
        EXPECT_EQ(Run(2), (QList<int> { 0, 0 }));
        EXPECT_EQ(form.fields[1051], row.value) << row.find;
    }
}

TEST_F(ExecutorTest, TestJumpsWhenTheFieldIsEmpty)
{
    Load({ QStringLiteral(" Test(7, Empty)"), QStringLiteral(" End"),
        QStringLiteral("Empty: End") });
    Step(&form);
    EXPECT_EQ(Step(&form), 1);
    EXPECT_EQ(executor.LineIndex(), 2);

    form.fields[7] = QStringLiteral("x");
    Load(executor.Lines());
    Step(&form);
    EXPECT_EQ(Step(&form), 1);
    EXPECT_EQ(executor.LineIndex(), 1);
}

TEST_F(ExecutorTest, GotoContinuesAtTheFirstLineCarryingTheLabel)
{
    Load({ QStringLiteral(" Goto(B)"), QStringLiteral("A: End"), QStringLiteral("B: Goto(A)"),
        QStringLiteral("A: Goto(B)") });
    EXPECT_EQ(Run(3), (QList<int> { 0, 0, 1 }));
    EXPECT_EQ(executor.LineIndex(), 1);
}

TEST_F(ExecutorTest, BadLabelShowsTheBoxAndStopsTheList)
{
    Load({ QStringLiteral(" Goto(Nowhere)"), QStringLiteral(" End") });
    EXPECT_EQ(Step(&form), -1);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].caption, QStringLiteral("Bad jump lable on line 0"));
    EXPECT_EQ(messages[0].text, QStringLiteral("Nowhere"));
    EXPECT_TRUE(executor.Stopped());
    EXPECT_EQ(Step(&form), 0);
    EXPECT_EQ(executor.LineIndex(), 0);

    // A failed exchange whose label is missing, further down the list.
    messages.clear();
    Load({ QStringLiteral("// read the serial number"), QStringLiteral(" Find(\"x\",0,1)"),
        QStringLiteral(" Send(1, 5, 6, \"\", \">\", Lost)") });
    EXPECT_EQ(Run(3), (QList<int> { 0, 0, -1 }));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].caption, QStringLiteral("Bad jump lable on line 2"));
    EXPECT_EQ(messages[0].text, QStringLiteral("1, 5, 6, \"\", \">\", Lost"));
}

TEST_F(ExecutorTest, CommentCostsOneStepAndIsShown)
{
    QList<int> shown;
    executor.SetLineHook([&shown](int index, const QString &) { shown.append(index); });
    Load({ QStringLiteral("// Read(\"x\", 0, 1, 5)"), QStringLiteral("//Goto(Nowhere)"),
        QStringLiteral(" End") });
    EXPECT_EQ(Run(3), (QList<int> { 0, 0, 1 }));
    EXPECT_EQ(shown, (QList<int> { 0, 1, 2 }));
    EXPECT_TRUE(form.writes.isEmpty());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(ExecutorTest, ListWithoutEndReportsItsEndOnEveryLaterStep)
{
    Load({ QStringLiteral(" Find(\"x\",0,1)"), QStringLiteral(" Find(\"y\",0,1)") });
    EXPECT_EQ(Run(5), (QList<int> { 0, 0, 1, 1, 1 }));
    EXPECT_EQ(executor.LineIndex(), 1);
    EXPECT_FALSE(executor.Stopped());

    Load({});
    EXPECT_EQ(Run(2), (QList<int> { 1, 1 }));
    EXPECT_EQ(executor.LineIndex(), -1);
}

TEST_F(ExecutorTest, MalformedAndUnknownLinesDoNothing)
{
    Load({ QStringLiteral(" Frobnicate(1,2)"), QString(), QStringLiteral("   "),
        QStringLiteral(" Find("), QStringLiteral("garbage without colon"), QStringLiteral(")))"),
        QStringLiteral("\"\"\""), QStringLiteral(" end"), QStringLiteral(" End") });
    EXPECT_EQ(Run(9), (QList<int> { 0, 0, 0, 0, 0, 0, 0, 0, 1 }));
    EXPECT_TRUE(link.calls.isEmpty());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(ExecutorTest, SendMissingItsArgumentsFailsAndReportsTheMissingLabel)
{
    Load({ QStringLiteral(" Send(abc, x, y") });
    EXPECT_EQ(Step(&form), -1);
    EXPECT_EQ(link.calls, (QStringList { "purge", "send:\r", "read:0,0" }));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].caption, QStringLiteral("Bad jump lable on line 0"));
}

TEST_F(ExecutorTest, RunsWithoutFormOrLink)
{
    executor.SetLink(nullptr);
    Load({ QStringLiteral(" Send(1, 5, 5, \"\", \">\", F)"), QStringLiteral("F: Read(\"\",0,1,2)"),
        QStringLiteral(" Test(3, G)"), QStringLiteral("G: End") });
    EXPECT_EQ(Step(nullptr), 0);
    EXPECT_EQ(executor.LineIndex(), 0);
    EXPECT_EQ(Step(nullptr), 0); // F
    EXPECT_EQ(Step(nullptr), 0); // Test jumps
    EXPECT_EQ(Step(nullptr), 1);
    EXPECT_EQ(executor.LineIndex(), 3);
}

TEST(MeterExchange, PurgesSendsWithCarriageReturnAndReadsWithTheTimeouts)
{
    FakeMeterLink link;
    link.replies = { QByteArray("abc>") };
    QByteArray reply("stale");
    DialogueRunner runner;
    EXPECT_EQ(RunToEnd(runner,
                  CQueExecutor::MeterExchangeAsync(&link, runner, QStringLiteral("600"), reply,
                      QStringLiteral(">"), 150, 900, 0)),
        1);
    EXPECT_EQ(link.calls, (QStringList { "purge", "send:600\r", "read:150,900" }));
    EXPECT_EQ(reply, QByteArray("abc>"));
}

TEST(MeterExchange, KeepsTimeoutsWithinBoundsAndFailsWithoutALink)
{
    FakeMeterLink link;
    QByteArray reply("stale");
    DialogueRunner runner;
    EXPECT_EQ(RunToEnd(runner,
                  CQueExecutor::MeterExchangeAsync(
                      &link, runner, QString(), reply, QStringLiteral(">"), -5, INT_MAX, 0)),
        0);
    EXPECT_EQ(link.calls.last(), QStringLiteral("read:0,%1").arg(CQueExecutor::kMaxTimeoutMs));
    EXPECT_TRUE(reply.isEmpty());

    reply = "stale";
    EXPECT_EQ(RunToEnd(runner,
                  CQueExecutor::MeterExchangeAsync(
                      nullptr, runner, QStringLiteral("x"), reply, QStringLiteral(">"), 1, 1, 0)),
        0);
    EXPECT_TRUE(reply.isEmpty());
}

TEST(CQueExecutor, ToIntReadsLikeAtoi)
{
    const std::pair<const char *, int> rows[] = {
        { "12", 12 },
        { " 7", 7 },
        { "-3", -3 },
        { "+5", 5 },
        { "12abc", 12 },
        { "abc", 0 },
        { "", 0 },
        { "1 2", 1 },
        { "99999999999", INT_MAX },
        { "-99999999999", INT_MIN },
    };
    for (const auto &[text, value] : rows)
        EXPECT_EQ(CQueExecutor::ToInt(QString::fromLatin1(text)), value) << text;
}
