// The command lists of data/ run against the simulated meter, step by step as the meter forms
// run them: reading fills the version, revision and image-text fields; writing rewrites the
// meter file; a refused write and a silent meter end in the list's message.
#include "ListRunner.h"
#include "SimHarness.h"

#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kPacingMs = 3; // the link's 25 ms per byte, shortened for the tests
constexpr int kImage41 = 26;

QString List(const char *name)
{
    return QDir(TestEnv::DataDir()).filePath(QString::fromLatin1(name));
}

class CommandListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(SimHarness::WriteTestLayout(m_dir.filePath(QStringLiteral("vars.dat"))));
    }
    int Start(const QStringList &extra = {})
    {
        return m_sim.Start(
            QStringList { QStringLiteral("--vars"), m_dir.filePath(QStringLiteral("vars.dat")),
                QStringLiteral("--image"), ImagePath(), QStringLiteral("--interval"),
                QStringLiteral("150") }
            + extra);
    }
    QString ImagePath() const { return m_dir.filePath(QStringLiteral("meter.mtr")); }
    QByteArray ImageFile() const
    {
        QFile f(ImagePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
    SimHarness m_sim;
};

struct ReadCase
{
    const char *list;
    const char *series;
    const char *firmware;
    const char *section;
};

class ReadListTest : public CommandListTest, public ::testing::WithParamInterface<ReadCase>
{
};

TEST_P(ReadListTest, ReadListFillsVersionRevisionAndImageText)
{
    const ReadCase c = GetParam();
    ASSERT_TRUE(Start({ QStringLiteral("--series"), QString::fromLatin1(c.series),
        QStringLiteral("--firmware"), QString::fromLatin1(c.firmware), QStringLiteral("--rev"),
        QStringLiteral("B"), QStringLiteral("--section"), QString::fromLatin1(c.section) }));
    ListRunner run(m_sim.Fd(), kPacingMs);
    EXPECT_EQ(run.Run(List(c.list)), 1) << qPrintable(run.Message());
    EXPECT_EQ(run.fields.value(1049), QString::fromLatin1(c.firmware));
    EXPECT_EQ(run.fields.value(1084), QStringLiteral("B"));
    // What the form decodes: the image text, whose first bytes are those of the meter file.
    const QByteArray file = ImageFile();
    ASSERT_FALSE(file.isEmpty());
    EXPECT_EQ(run.fields.value(1051).toLatin1().left(file.size()), file);
    // The list hands the meter back to run mode: the reading stream resumes.
    m_sim.Purge();
    EXPECT_TRUE(m_sim.ReadUntil([](const QByteArray &b) { return b.contains("RLY2"); }, 2000)
                    .contains("RLY2"));
}

INSTANTIATE_TEST_SUITE_P(Lists, ReadListTest,
    ::testing::Values(ReadCase { "read20.que", "kelvane", "4.1A", "[4.1A]" },
        ReadCase { "read20.que", "kelvane", "3.9G", "[3.9G]" },
        ReadCase { "qxread.que", "quixal", "1.4A", "[1.4A]" }));

struct SendCase
{
    const char *list;
    int drop; // bytes left off the image sent
    int result; // the list's end
    const char *message; // its message, if any
};

class SendListTest : public CommandListTest, public ::testing::WithParamInterface<SendCase>
{
};

TEST_P(SendListTest, SendListWritesTheMeterFileOrReportsTheRefusal)
{
    const SendCase c = GetParam();
    ASSERT_TRUE(Start());
    const QByteArray before = ImageFile();
    QByteArray bytes = QByteArray::fromHex(QByteArray(before).replace(' ', ""));
    ASSERT_EQ(bytes.size(), kImage41);
    bytes[25] = char(0x42); // lockout low byte
    bytes.chop(c.drop);
    QByteArray send;
    for (char b : bytes)
        send += QByteArray(1, b).toHex().toUpper() + "\r";

    ListRunner run(m_sim.Fd(), kPacingMs);
    run.fields[1051] = QString::fromLatin1(send);
    EXPECT_EQ(run.Run(List(c.list)), c.result);
    EXPECT_EQ(run.Message(), QString::fromLatin1(c.message));
    if (c.result == 1) {
        QByteArray expected = before;
        expected.replace(75, 2, "42");
        EXPECT_EQ(ImageFile(), expected);
    } else {
        EXPECT_EQ(ImageFile(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Lists, SendListTest,
    ::testing::Values(SendCase { "send20.que", 0, 1, "" }, SendCase { "qxsend.que", 0, 1, "" },
        SendCase { "send20.que", 3, -1, "Meter refused the configuration" },
        SendCase { "qxsend.que", 26, -1, "Meter refused the configuration" }));

TEST_F(CommandListTest, SelectListChangesTheActiveRange)
{
    ASSERT_TRUE(Start({ QStringLiteral("--range"), QStringLiteral("1") }));
    ListRunner run(m_sim.Fd(), kPacingMs);
    run.fields[1115] = QStringLiteral("3");
    EXPECT_EQ(run.Run(List("select20.que")), 1) << qPrintable(run.Message());
    EXPECT_EQ(ImageFile().mid(6, 2), QByteArray("2A"));
    // The form then sends nine "r"; the meter goes back to run mode.
    m_sim.Send("rrrrrrrrr", kPacingMs);
    m_sim.Purge();
    EXPECT_TRUE(m_sim.ReadUntil([](const QByteArray &b) { return b.contains("RLY2"); }, 2000)
                    .contains("RLY2"));

    ListRunner bad(m_sim.Fd(), kPacingMs);
    bad.fields[1115] = QStringLiteral("7");
    EXPECT_EQ(bad.Run(List("select20.que")), -1);
    EXPECT_EQ(bad.Message(), QStringLiteral("Meter refused the range change"));
    EXPECT_EQ(ImageFile().mid(6, 2), QByteArray("2A"));
}

TEST(CommandListSilentMeterTest, EveryListReportsAMeterThatDoesNotAnswer)
{
    // A port with nobody at the far end: the master side is held open and never answers.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(slave, 0);
    termios tio {};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
    for (const char *list :
        { "read20.que", "send20.que", "select20.que", "qxread.que", "qxsend.que" }) {
        ListRunner run(slave, 0);
        run.fields[1051] = QStringLiteral("AA\r");
        run.fields[1115] = QStringLiteral("2");
        EXPECT_EQ(run.Run(List(list)), -1) << list;
        EXPECT_EQ(run.Message(), QStringLiteral("Meter did not answer")) << list;
    }
    ::close(slave);
    ::close(master);
}

} // namespace
