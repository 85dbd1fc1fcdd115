// Consistency of the command lists in data/: every jump lands on a label (apart from the
// deliberate message jumps, whose text holds blanks), every list ends with "End", and every
// field id is one the list's form offers.
#include "ListRunner.h"

#include "lists/CScript.h"

#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <gtest/gtest.h>

namespace {

struct ListCase
{
    const char *file;
    bool quixal;
};

class QueFileTest : public ::testing::TestWithParam<ListCase>
{
};

TEST_P(QueFileTest, JumpsLandAndTheListEndsWithEnd)
{
    const ListCase c = GetParam();
    QFile f(QDir(TestEnv::DataDir()).filePath(QString::fromLatin1(c.file)));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << c.file;
    QStringList lines = QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    ASSERT_FALSE(lines.isEmpty());

    struct ParsedLine
    {
        QString label;
        QString command;
        QStringList args;
        QString argText;
    };
    QSet<QString> labels;
    QList<ParsedLine> parsed;
    for (QString line : lines) {
        line.remove(QLatin1Char('\r'));
        if (line.startsWith(QLatin1String("//")))
            continue;
        CScript script;
        script.Parse(line);
        const ParsedLine p { script.Token(0), script.Token(1), ListRunner::Arguments(line),
            script.ArgumentText() };
        if (!p.label.isEmpty()) {
            EXPECT_FALSE(labels.contains(p.label)) << "label twice: " << qPrintable(p.label);
            labels.insert(p.label);
        }
        parsed << p;
    }
    ASSERT_FALSE(parsed.isEmpty());
    EXPECT_EQ(parsed.last().command, QStringLiteral("End")) << c.file;

    // Kelvane form: ids 1004..1115 answer; Quixal form: its field table. 0 gives an empty
    // text on both, which is how a list sends a bare command word.
    const QSet<int> quixalIds = { 1004, 1005, 1006, 1008, 1009, 1012, 1013, 1016, 1017, 1018, 1028,
        1031, 1034, 1036, 1037, 1038, 1039, 1042, 1043, 1044, 1045, 1046, 1047, 1048, 1049, 1051,
        1052, 1053, 1054, 1056, 1065, 1066, 1068, 1069, 1084, 1174, 1175 };
    const auto fieldOk = [&](const QString &id) {
        bool ok = false;
        const int n = id.toInt(&ok);
        if (!ok)
            return false;
        if (n == 0)
            return true;
        return c.quixal ? quixalIds.contains(n) : (n >= 1004 && n <= 1115) || n == 1084;
    };

    int messages = 0;
    for (const ParsedLine &p : parsed) {
        if (p.command == QLatin1String("Send")) {
            ASSERT_EQ(p.args.size(), 6) << qPrintable(p.command);
            EXPECT_TRUE(fieldOk(p.args.at(0))) << qPrintable(p.args.at(0));
            EXPECT_EQ(p.args.at(4).size(), 1) << "terminator must be one character";
            EXPECT_TRUE(labels.contains(p.args.at(5))) << "no label " << qPrintable(p.args.at(5));
        } else if (p.command == QLatin1String("Read")) {
            ASSERT_EQ(p.args.size(), 4);
            EXPECT_TRUE(fieldOk(p.args.at(3))) << qPrintable(p.args.at(3));
        } else if (p.command == QLatin1String("Goto")) {
            ASSERT_EQ(p.args.size(), 1);
            if (p.argText.contains(QLatin1Char(' '))) {
                ++messages; // a jump to no label: its argument text is the message shown
                EXPECT_FALSE(labels.contains(p.args.at(0)));
            } else
                EXPECT_TRUE(labels.contains(p.args.at(0)))
                    << "no label " << qPrintable(p.args.at(0));
        } else {
            EXPECT_EQ(p.command, QStringLiteral("End"))
                << "unknown command " << qPrintable(p.command);
        }
    }
    // Each list reports a meter that does not answer.
    bool noAnswer = false;
    for (const ParsedLine &p : parsed)
        noAnswer = noAnswer
            || (p.command == QLatin1String("Goto")
                && p.argText == QLatin1String("Meter did not answer"));
    EXPECT_TRUE(noAnswer);
    EXPECT_GE(messages, 1);
}

INSTANTIATE_TEST_SUITE_P(Lists, QueFileTest,
    ::testing::Values(ListCase { "read20.que", false }, ListCase { "send20.que", false },
        ListCase { "select20.que", false }, ListCase { "qxread.que", true },
        ListCase { "qxsend.que", true }),
    [](const auto &p) {
        std::string n = p.param.file;
        return n.substr(0, n.find('.'));
    });

} // namespace
