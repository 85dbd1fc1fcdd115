// The command lists of data/ run against the simulated meter, step by step as the meter forms
// run them: reading fills the version, revision and image-text fields; writing rewrites the
// meter file; a refused write and a silent meter end in the list's message.
#include "ListRunner.h"
#include "SimHarness.h"

#include "base/Globals.h"
#include "link/CSerial.h"
#include "meter/MeterVars.h"
#include "support/RunToEnd.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

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
    ListRunner run(m_sim.Link());
    EXPECT_EQ(run.Run(List(c.list)), 1) << qPrintable(run.Message());
    EXPECT_EQ(run.fields.value(1049), QString::fromLatin1(c.firmware));
    EXPECT_EQ(run.fields.value(1084), QStringLiteral("B"));
    // What the form decodes: the image text, whose first bytes are those of the meter file.
    const QByteArray file = ImageFile();
    ASSERT_FALSE(file.isEmpty());
    EXPECT_EQ(run.fields.value(1051).toLatin1().left(file.size()), file);
    // The list hands the meter back to run mode: the reading stream resumes.
    m_sim.Purge();
    EXPECT_TRUE(m_sim.ReadUntil([](const QByteArray &b) { return b.contains("RL2"); }, 4000)
                    .contains("RL2"));
}

INSTANTIATE_TEST_SUITE_P(Lists, ReadListTest,
    ::testing::Values(ReadCase { "read20.que", "kelvane", "4.1A", "[4.1A]" },
        ReadCase { "read20.que", "kelvane", "3.9G", "[3.9G]" },
        ReadCase { "qxread.que", "quixal", "1.4A", "[1.4A]" }),
    [](const auto &p) {
        std::string n = std::string(p.param.list).substr(0, std::string(p.param.list).find('.'))
            + "_" + p.param.firmware;
        n.replace(n.size() - 3, 1, "_");
        return n;
    });

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
    ASSERT_EQ(bytes.size(), SimHarness::kTestImage41);
    bytes[25] = char(0x42); // lockout low byte
    bytes.chop(c.drop);
    QByteArray send;
    for (char b : bytes)
        send += QByteArray(1, b).toHex().toUpper() + "\r";

    ListRunner run(m_sim.Link());
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
        SendCase { "qxsend.que", 26, -1, "Meter refused the configuration" }),
    [](const auto &p) {
        return std::string(p.param.list).substr(0, std::string(p.param.list).find('.')) + "_drop"
            + std::to_string(p.param.drop);
    });

TEST_F(CommandListTest, SelectListChangesTheActiveRange)
{
    ASSERT_TRUE(Start({ QStringLiteral("--range"), QStringLiteral("1") }));
    ListRunner run(m_sim.Link());
    run.fields[1115] = QStringLiteral("3");
    EXPECT_EQ(run.Run(List("select20.que")), 1) << qPrintable(run.Message());
    EXPECT_EQ(ImageFile().mid(6, 2), QByteArray("2A"));
    // The form then sends nine "r"; the meter goes back to run mode.
    DialogueRunner runner;
    RunToEnd(runner, m_sim.Link().SendCommandAsync(runner, "rrrrrrrrr"));
    m_sim.Purge();
    EXPECT_TRUE(m_sim.ReadUntil([](const QByteArray &b) { return b.contains("RL2"); }, 4000)
                    .contains("RL2"));

    ListRunner bad(m_sim.Link());
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
    LinkTiming timing;
    timing.pacingScale = 0.0;
    timing.readMsPerByte = 0;
    CSerial link(QString::fromLocal8Bit(::ptsname(master)), timing);
    link.SetBaudText(QStringLiteral("9600"));
    ASSERT_TRUE(link.OpenPort());
    for (const char *list :
        { "read20.que", "send20.que", "select20.que", "qxread.que", "qxsend.que" }) {
        ListRunner run(link);
        run.fields[1051] = QStringLiteral("AA\r");
        run.fields[1115] = QStringLiteral("2");
        EXPECT_EQ(run.Run(List(list)), -1) << list;
        // The text of the jump that has no label: the list's message.
        EXPECT_EQ(run.Message(), QStringLiteral("Meter did not answer")) << list;
    }
    link.ClosePort();
    ::close(master);
}

// With the layout files of data/: the meter of each firmware version dumps its image in the
// layout the program builds for that version, so the program's table decodes it and what the
// program writes back lands where the meter expects it.
struct FirmwareCase
{
    const char *firmware;
};

class RealLayoutTest : public ::testing::TestWithParam<FirmwareCase>
{
};

TEST_P(RealLayoutTest, ProgramTableDecodesTheDumpAndItsWriteIsStored)
{
    const QString fw = QString::fromLatin1(GetParam().firmware);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString image = dir.filePath(QStringLiteral("m.mtr"));
    SimHarness sim;
    // The simulator finds vars20.dat in the source data folder by default.
    ASSERT_TRUE(sim.Start({ QStringLiteral("--firmware"), fw, QStringLiteral("--serial"),
        QStringLiteral("4242"), QStringLiteral("--image"), image, QStringLiteral("--interval"),
        QStringLiteral("150") }));
    ListRunner read(sim.Link());
    ASSERT_EQ(read.Run(List("read20.que")), 1) << qPrintable(read.Message());
    ASSERT_EQ(read.fields.value(1049), fw);

    // As the form does: the version field builds the table "[version]", then the text is decoded.
    ResetGlobals();
    const QString section = QLatin1Char('[') + fw + QLatin1Char(']');
    QString version = section;
    MeterVars table(section, &version);
    ASSERT_GT(table.Count(), 0) << qPrintable(table.SectionName());
    table.ImageFromText(read.fields.value(1051).trimmed());
    EXPECT_EQ(table.Value(QStringLiteral("key"), 1), 0xAAu);
    EXPECT_EQ(table.Value(QStringLiteral("serial_num"), 4), 4242u);
    QFile f(image);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(table.ImageToText().toLatin1(), f.readAll());
    f.close();

    table.SetValue(QStringLiteral("serial_num"), 4, 777);
    ListRunner send(sim.Link());
    send.fields[1051] = table.ImageToSendText();
    EXPECT_EQ(send.Run(List("send20.que")), 1) << qPrintable(send.Message());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), table.ImageToText().toLatin1());
    ResetGlobals();
}

INSTANTIATE_TEST_SUITE_P(Firmware, RealLayoutTest,
    ::testing::Values(FirmwareCase { "3.9E" }, FirmwareCase { "3.9G" }, FirmwareCase { "4.0A" },
        FirmwareCase { "4.0B" }, FirmwareCase { "4.1A" }, FirmwareCase { "4.2C" }),
    [](const auto &p) {
        std::string n = std::string("v") + p.param.firmware;
        n.replace(2, 1, "_");
        return n;
    });

TEST(RealLayoutQuixalTest, QuixalDumpUsesTheSectionOfItsFirmware)
{
    // 1.4A has its own section, 1.3A shares "[1.0A]", every other version reads "[4.1A]".
    const struct
    {
        const char *firmware;
        const char *section;
    } cases[] = { { "1.4A", "[1.4A]" }, { "1.3A", "[1.0A]" }, { "1.0A", "[4.1A]" },
        { "1.2B", "[4.1A]" } };
    for (const auto &c : cases) {
        SimHarness sim;
        ASSERT_TRUE(sim.Start({ QStringLiteral("--series"), QStringLiteral("quixal"),
            QStringLiteral("--firmware"), QString::fromLatin1(c.firmware),
            QStringLiteral("--interval"), QStringLiteral("150") }));
        ListRunner read(sim.Link());
        ASSERT_EQ(read.Run(List("qxread.que")), 1) << c.firmware;
        MeterVars table(QString::fromLatin1(c.section),
            QDir(TestEnv::DataDir()).filePath(QStringLiteral("varsQX.dat")));
        ASSERT_GT(table.Count(), 0);
        const QString text = read.fields.value(1051);
        table.ImageFromText(text);
        EXPECT_EQ(table.Value(QStringLiteral("key"), 1), 0xAAu) << c.firmware;
        EXPECT_EQ(table.Value(QStringLiteral("serial_num"), 4), 12345678u) << c.firmware;
        // The dump holds exactly the section's bytes.
        EXPECT_EQ(text.indexOf(QLatin1String("\r\nEND")), table.ImageBytes() * 3) << c.firmware;
    }
}

} // namespace
