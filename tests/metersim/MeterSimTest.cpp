// Black-box tests of tarvik-metersim over its pseudo-terminal: one group per exchange the
// program relies on (terminal screens, reading stream, identification, command mode, the
// logger vocabulary, log transfer, the command-list commands), plus robustness.
#include "SimHarness.h"

#include "link/CSerial.h"
#include "support/RunToEnd.h"
#include "terminal/TermScreen.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

void SleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The terminal's screen fed with what the meter drew, and its identification scan.
struct ScannedScreen
{
    QString model, version, revision, number;
    explicit ScannedScreen(const QByteArray &bytes)
    {
        TermScreen screen;
        screen.FeedTick(bytes);
        TermScreen::ScanIdentification(screen.Text(), model, version, revision, number);
    }
};

// Bytes 32..90 except "$", as the datalogger's line reader keeps them.
QByteArray ReaderView(const QByteArray &line)
{
    QByteArray out;
    for (char c : line) {
        if (c >= 32 && c <= 90 && c != '$')
            out.append(c);
    }
    return out;
}

class MeterSimTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(SimHarness::WriteTestLayout(Vars()));
    }
    QString Vars() const { return m_dir.filePath(QStringLiteral("vars.dat")); }
    QString ImagePath() const { return m_dir.filePath(QStringLiteral("meter.mtr")); }
    QStringList Args(const QStringList &extra = {}) const
    {
        return QStringList { QStringLiteral("--vars"), Vars(), QStringLiteral("--image"),
            ImagePath(), QStringLiteral("--interval"), QStringLiteral("200") }
        + extra;
    }
    QByteArray ImageFile() const
    {
        QFile f(ImagePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The stored image as bytes (file form: "%02X " per byte).
    QByteArray ImageBytes() const { return QByteArray::fromHex(ImageFile().replace(' ', "")); }

    QTemporaryDir m_dir;
    SimHarness m_sim;
};

// ------------------------------------------------------------------------- terminal

struct IdentCase
{
    const char *series;
    const char *firmware;
    const char *rev;
    const char *range;
    const char *model;
    const char *marker; // what the scan looks for before the range digit
};

class TerminalIdentTest : public MeterSimTest, public ::testing::WithParamInterface<IdentCase>
{
};

TEST_P(TerminalIdentTest, OpeningScreenCarriesTheIdentificationTheTerminalScans)
{
    const IdentCase c = GetParam();
    ASSERT_TRUE(m_sim.Start(Args({ QStringLiteral("--series"), QString::fromLatin1(c.series),
        QStringLiteral("--firmware"), QString::fromLatin1(c.firmware), QStringLiteral("--rev"),
        QString::fromLatin1(c.rev), QStringLiteral("--range"), QString::fromLatin1(c.range),
        QStringLiteral("--section"), QStringLiteral("[4.1A]") })));
    // The terminal purges, sends seven "[" 20 ms apart, and purges again right after.
    m_sim.Purge();
    m_sim.Send("[[[[[[[", 20);
    m_sim.Purge();
    const QByteArray screen = m_sim.ReadQuiet(300);
    ASSERT_TRUE(screen.startsWith("\x1b\n")) << screen.constData();
    const QByteArray line = QByteArray(" ") + c.model + " v" + c.firmware + " Rev." + c.rev + " "
        + c.marker + "#" + c.range;
    EXPECT_TRUE(screen.contains(line)) << screen.constData();

    const ScannedScreen term(screen);
    EXPECT_EQ(term.model, QString::fromLatin1(c.model));
    EXPECT_EQ(term.version, QString::fromLatin1(c.firmware));
    EXPECT_EQ(term.revision, QString::fromLatin1(c.rev));
    EXPECT_EQ(term.number, QString::fromLatin1(c.range));
}

INSTANTIATE_TEST_SUITE_P(Firmware, TerminalIdentTest,
    ::testing::Values(IdentCase { "kelvane", "3.9E", "A", "1", "620", "Meter" },
        IdentCase { "kelvane", "3.9G", "B", "2", "620", "Meter" },
        IdentCase { "kelvane", "4.0A", "C", "3", "620", "Meter" },
        IdentCase { "kelvane", "4.0B", "A", "4", "620", "Meter" },
        IdentCase { "kelvane", "4.1A", "C", "2", "620", "Range" },
        IdentCase { "kelvane", "4.2C", "D", "3", "620", "Range" },
        IdentCase { "quixal", "1.0A", "A", "1", "500", "Range" },
        IdentCase { "quixal", "1.4A", "B", "1", "500", "Range" }),
    [](const auto &p) {
        return std::string(p.param.series) + "_" + std::string(p.param.firmware).replace(1, 1, "_");
    });

TEST_F(MeterSimTest, MenuEchoesTypedKeysAndTakesBackUnknownOnes)
{
    ASSERT_TRUE(m_sim.Start(Args()));
    m_sim.Send("[");
    const QByteArray screen = m_sim.ReadQuiet(200);
    m_sim.Send("z");
    EXPECT_EQ(m_sim.ReadQuiet(150), QByteArray("z\b \b"));
    m_sim.Send("i");
    const QByteArray ident = m_sim.ReadQuiet(200);
    EXPECT_TRUE(ident.startsWith("i\r\nID:v4.1A #12345678 #1 ,")) << ident.constData();
    // The identification text below the screen's identification line does not disturb the
    // terminal's scan, nor does it look like one on a screen of its own.
    EXPECT_EQ(ScannedScreen(screen + ident).model, QStringLiteral("620"));
    EXPECT_TRUE(ScannedScreen(QByteArray(30, '\n') + ident).version.isEmpty());
    // Range keys redraw the screen with the new range.
    m_sim.Send("3");
    const ScannedScreen term(m_sim.ReadQuiet(200));
    EXPECT_EQ(term.number, QStringLiteral("3"));
    EXPECT_EQ(ImageBytes().at(2), char(0x2A)); // mode: range 3 in bits 0-1 and 2-3, bit 5
}

// ------------------------------------------------------------------------- run mode

TEST_F(MeterSimTest, RunModeStreamsReadingLinesTheLineReaderCanParse)
{
    ASSERT_TRUE(m_sim.Start(Args()));
    m_sim.Purge();
    QByteArray stream
        = m_sim.ReadUntil([](const QByteArray &b) { return b.count('\r') >= 4; }, 4000);
    const QList<QByteArray> raw = stream.split('\r');
    ASSERT_GE(raw.size(), 4);
    const QRegularExpression form(
        QStringLiteral("^(\\d+\\.\\d\\d) +SCFM +(\\d+\\.\\d{4}) +SCF +(\\d+\\.\\d\\d) "
                       "+(\\d+\\.\\d\\d) +RL1[*.] RL2[*.]$"));
    QStringList flows;
    for (int i = 1; i < 3; ++i) { // whole lines only
        const QByteArray line = raw.at(i);
        for (char ch : line)
            EXPECT_FALSE(ch >= 'a' && ch <= 'z') << "lower case in " << line.constData();
        const QString view = QString::fromLatin1(ReaderView(line));
        const auto m = form.match(view);
        ASSERT_TRUE(m.hasMatch()) << qPrintable(view);
        flows << m.captured(2); // the total grows with every line
    }
    EXPECT_NE(flows.at(0), flows.at(1));
    EXPECT_LT(flows.at(0).toDouble(), flows.at(1).toDouble());
}

// ------------------------------------------------------------------------- logger dialogue

TEST_F(MeterSimTest, SixDotsAfterRunModeGiveTheIdentificationText)
{
    ASSERT_TRUE(m_sim.Start(
        Args({ QStringLiteral("--serial"), QStringLiteral("87654321"), QStringLiteral("--range"),
            QStringLiteral("2"), QStringLiteral("--firmware"), QStringLiteral("4.2C") })));
    m_sim.Send("rrrrrr\r\n", 20);
    m_sim.Purge();
    m_sim.ReadQuiet(100, 500);
    m_sim.Purge();
    m_sim.Send("......", 20);
    QByteArray r = m_sim.ReadUntil(
        [](const QByteArray &b) { return b.contains('v') && b.indexOf('\n', b.indexOf('v')) > 0; });
    // The dialogue's parse: "v" + firmware up to a blank, "#" serial, "#" range, three ",",
    // then the characters (blanks skipped) up to the first "n": the first four are the units.
    const int v = int(r.indexOf('v'));
    ASSERT_GE(v, 0) << r.constData();
    r = r.mid(v);
    EXPECT_EQ(r.left(r.indexOf(' ')), QByteArray("v4.2C"));
    int p = int(r.indexOf('#')) + 1;
    EXPECT_EQ(r.mid(p, r.indexOf(' ', p) - p), QByteArray("87654321"));
    p = int(r.indexOf('#', p)) + 1;
    EXPECT_EQ(r.at(p), '2');
    for (int commas = 0; commas < 3; ++p) {
        if (r.at(p) == ',')
            ++commas;
    }
    QByteArray units;
    for (; p < r.size(); ++p) {
        if (r.at(p) != ' ')
            units.append(r.at(p));
        if (r.at(p) == 'n')
            break;
    }
    EXPECT_EQ(units.left(4), QByteArray("SCFM"));
}

TEST_F(MeterSimTest, EighteenDotsGiveThePromptAndParametersComeBetweenEqualSigns)
{
    ASSERT_TRUE(m_sim.Start(Args()));
    ASSERT_TRUE(m_sim.EnterCommandMode());
    EXPECT_TRUE(m_sim.Command("600").contains('>'));
    struct Item
    {
        const char *code;
        const char *value;
    };
    const Item items[] = { { "221", "01/31/08" }, { "140", "80.000000" },
        { "813", "1.000000 FT^2" }, { "812", "0.000000e+00" } };
    for (const Item &item : items) {
        const QByteArray r = m_sim.Command(item.code);
        const int a = int(r.indexOf('='));
        const int b = int(r.indexOf('=', a + 1));
        ASSERT_GT(b, a) << item.code << ": " << r.constData();
        EXPECT_EQ(r.mid(a + 1, b - a - 1), QByteArray(item.value)) << item.code;
        EXPECT_TRUE(r.mid(b).contains('\x1c')) << "acknowledgement after the value";
        EXPECT_TRUE(m_sim.Command(".").contains('>'));
    }
}

TEST_F(MeterSimTest, LogMemoryTokenHasHexDigitsAtCharactersFiveToEight)
{
    ASSERT_TRUE(m_sim.Start(Args()));
    ASSERT_TRUE(m_sim.EnterCommandMode());
    m_sim.Purge();
    m_sim.Send("956\r\n", 20);
    const QByteArray r = m_sim.ReadUntilChar(' ');
    const QByteArray token = r.left(r.indexOf(' '));
    ASSERT_GE(token.size(), 8) << r.constData();
    bool ok = false;
    EXPECT_EQ(token.mid(4, 4).toInt(&ok, 16), 32000);
    EXPECT_TRUE(ok);
}

TEST_F(MeterSimTest, LoggerConfigurationWrittenWith955ReadsBackWith954)
{
    ASSERT_TRUE(m_sim.Start(Args()));
    ASSERT_TRUE(m_sim.EnterCommandMode());
    const int values[17] = { 1, 5, 8, 12, 31, 9, 7, 30, 0, 18, 45, 59, 0, 1, 30, 160, 1 };
    m_sim.Purge();
    m_sim.Send("955\r\n", 20);
    for (int v : values) {
        m_sim.Send(QByteArray::number(v).rightJustified(2, '0') + "\r\n", 5);
        EXPECT_EQ(m_sim.ReadUntilChar('\x1c', 1000), QByteArray("\x1c")) << "value " << v;
    }
    // The meter signals it is done and idle with apostrophes until the program answers.
    EXPECT_TRUE(m_sim.ReadUntilChar('\'', 1500).contains('\''));

    m_sim.Purge();
    m_sim.Send("954\r\n", 20);
    m_sim.Purge(); // the datalogger purges right after sending; the answer must come later
    const QByteArray r = m_sim.ReadUntil([](const QByteArray &b) { return b.size() >= 17; });
    ASSERT_GE(r.size(), 17);
    for (int i = 0; i < 17; ++i)
        EXPECT_EQ((unsigned char)r.at(i), values[i]) << "byte " << i;
}

TEST_F(MeterSimTest, EmptyLogTransfersAsCountZero)
{
    ASSERT_TRUE(m_sim.Start(Args()));
    ASSERT_TRUE(m_sim.EnterCommandMode());
    m_sim.Purge();
    m_sim.Send("953\r\n", 20);
    m_sim.Purge();
    const QByteArray r = m_sim.ReadUntil([](const QByteArray &b) { return b.size() >= 2; });
    ASSERT_GE(r.size(), 2);
    EXPECT_EQ(r.at(0), 0);
    EXPECT_EQ(r.at(1), 0);
}

// Sets a 1-second interval with the options Date, Flow and Relay1 (128 + 32 + 2).
void ConfigureLogger(SimHarness &sim, int startOffsetS, int stopOffsetS, int timer)
{
    const QDateTime start = QDateTime::currentDateTime().addSecs(startOffsetS);
    const QDateTime stop = QDateTime::currentDateTime().addSecs(stopOffsetS);
    const int values[17] = { start.date().month(), start.date().day(), start.date().year() % 100,
        stop.date().month(), stop.date().day(), stop.date().year() % 100, start.time().hour(),
        start.time().minute(), start.time().second(), stop.time().hour(), stop.time().minute(),
        stop.time().second(), 0, 0, 1, 162, timer };
    sim.Purge();
    sim.Send("955\r\n", 5);
    for (int v : values) {
        sim.Send(QByteArray::number(v) + "\r\n", 2);
        sim.ReadUntilChar('\x1c', 1000);
    }
}

QByteArray TransferLog(SimHarness &sim)
{
    sim.Purge();
    sim.Send("953\r\n", 20);
    sim.Purge();
    QByteArray r = sim.ReadUntil([](const QByteArray &b) {
        return b.size() >= 2
            && b.size() >= 2 + ((unsigned char)b.at(0) << 8 | (unsigned char)b.at(1));
    });
    if (r.size() < 2)
        return QByteArray();
    const int count = (unsigned char)r.at(0) << 8 | (unsigned char)r.at(1);
    return r.mid(2, count);
}

// Waits in run mode until the logger has stored at least `rows` rows: the menu's logger screen
// ("[" then "l") shows the count, and "r" returns to run mode after each look.
bool WaitForLoggerRows(SimHarness &sim, int rows, int timeoutMs = 20000)
{
    const QRegularExpression count(QStringLiteral(" ROWS +(\\d+) "));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        sim.Purge();
        sim.Send("[l", 20);
        const QByteArray screen = sim.ReadUntil([](const QByteArray &b) {
            const qsizetype at = b.indexOf(" ROWS ");
            return at >= 0 && b.indexOf("SELECT: ", at) > at;
        });
        sim.Send("r", 20);
        const QRegularExpressionMatch m = count.match(QString::fromLatin1(screen));
        if (m.hasMatch() && m.captured(1).toInt() >= rows)
            return true;
        SleepMs(50); // the next look
    }
    return false;
}

TEST_F(MeterSimTest, ManualLoggerRunStoresRowsInThePcLogLayout)
{
    ASSERT_TRUE(m_sim.Start(Args()));
    ASSERT_TRUE(m_sim.EnterCommandMode());
    ConfigureLogger(m_sim, 0, 3600, 0);
    // Back to run mode after the apostrophe, as the datalogger does.
    ASSERT_TRUE(m_sim.ReadUntilChar('\'', 1500).contains('\''));
    m_sim.Send("rrrrrrrrrrr", 20);
    m_sim.Send("eeeeeeeeeeeee", 20); // START (meter): thirteen "e", then thirteen "E"
    m_sim.Send("EEEEEEEEEEEEE", 20);
    ASSERT_TRUE(WaitForLoggerRows(m_sim, 2));
    m_sim.Send("eeeeeeeeeee", 20); // STOP (meter)
    ASSERT_TRUE(m_sim.EnterCommandMode());
    const QByteArray log = TransferLog(m_sim);
    const QList<QByteArray> lines = log.split('\n');
    ASSERT_GE(lines.size(), 10) << log.constData();
    // What LOAD relies on: a quoted first line holding "Time" with the 11-character start time
    // 6 characters after the "T", the interval after "al = ", the units 13 characters after
    // "Flow Units", the column header starting ";", rows starting "; ", then the stop line.
    EXPECT_TRUE(lines.at(0).startsWith("\"Serial#  12345678   Start Date: "));
    const int t = int(lines.at(0).indexOf("Time"));
    ASSERT_GT(t, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d [AP]M$"))
                    .match(QString::fromLatin1(lines.at(0).mid(t + 6, 11)))
                    .hasMatch())
        << lines.at(0).constData();
    EXPECT_TRUE(lines.at(2).contains("al = 1 secs"));
    EXPECT_EQ(lines.at(2).mid(lines.at(2).indexOf("Flow Units") + 13, 4), QByteArray("SCFM"));
    EXPECT_EQ(lines.at(4), QByteArray("\"Options Selected:\r"));
    EXPECT_EQ(lines.at(5), QByteArray(";Line ; Date ; Flow ; Relay1 "));
    int rows = 0;
    int i = 6;
    for (; i < lines.size() && lines.at(i).startsWith("; "); ++i, ++rows) {
        const QList<QByteArray> f = lines.at(i).split(';');
        ASSERT_EQ(f.size(), 5) << lines.at(i).constData();
        EXPECT_EQ(f.at(1).trimmed().toInt(), rows + 1);
        EXPECT_TRUE(f.at(4).trimmed().startsWith("RL1"));
    }
    EXPECT_GE(rows, 2);
    EXPECT_LE(rows, 4);
    ASSERT_LT(i + 1, lines.size());
    EXPECT_TRUE(lines.at(i).isEmpty());
    EXPECT_TRUE(lines.at(i + 1).startsWith("\"Stop Ocurred "));
}

TEST_F(MeterSimTest, TimerArmedWith466StartsAtTheStartTime)
{
    ASSERT_TRUE(m_sim.Start(Args()));
    ASSERT_TRUE(m_sim.EnterCommandMode());
    ConfigureLogger(m_sim, 1, 3600, 1);
    m_sim.ReadUntilChar('\'', 1500);
    m_sim.Send("rrrrrrrrrrr", 20);
    m_sim.Send("eeeeeeeeeeeee", 20);
    ASSERT_TRUE(m_sim.EnterCommandMode());
    m_sim.Purge();
    m_sim.Send("466\r\n", 20);
    EXPECT_TRUE(m_sim.ReadUntilChar('\'', 1500).contains('\''));
    m_sim.Send("rrrrrrrrrrr", 20);
    EXPECT_TRUE(WaitForLoggerRows(m_sim, 1));
    ASSERT_TRUE(m_sim.EnterCommandMode());
    const QByteArray log = TransferLog(m_sim);
    EXPECT_TRUE(log.startsWith("\"Serial#")) << log.constData();
    EXPECT_TRUE(log.contains("\n; 1; ")) << log.constData();
    EXPECT_FALSE(log.contains("Stop Ocurred")); // still running until its stop time
}

TEST_F(MeterSimTest, ElevenRAfterTheApostropheReturnToRunMode)
{
    ASSERT_TRUE(m_sim.Start(Args()));
    ASSERT_TRUE(m_sim.EnterCommandMode());
    m_sim.Purge();
    m_sim.Send("956\r\n", 20);
    ASSERT_TRUE(m_sim.ReadUntilChar('\'', 1500).contains('\''));
    m_sim.Send("rrrrrrrrrrr", 20);
    m_sim.Purge();
    const QByteArray r
        = m_sim.ReadUntil([](const QByteArray &b) { return b.contains("SCFM"); }, 2000);
    EXPECT_TRUE(r.contains("SCFM")) << r.constData();
}

// The datalogger's parameter refresh from start to end, with its real send pacing and its
// purges: back to run mode, identification, command mode, the four items, the memory token,
// back to run mode. Every wait is bounded as the dialogue bounds it; none may run out.
TEST_F(MeterSimTest, DataloggerParameterRefreshRunsThroughWithoutTimeouts)
{
    ASSERT_TRUE(m_sim.Start(Args({ QStringLiteral("--interval"), QStringLiteral("1000") })));
    const auto waitForAck
        = [this](int rounds) { return m_sim.ReadUntilChar('\x1c', rounds * 60).contains('\x1c'); };
    const auto waitForPrompt = [this] { return m_sim.ReadUntilChar('>', 3000).contains('>'); };

    m_sim.SendString("rrrrrr\r\n");
    m_sim.Purge();
    EXPECT_TRUE(waitForAck(250)); // a reading record closes with the acknowledgement
    m_sim.Purge();
    m_sim.SendString("......");
    const QByteArray ident
        = m_sim.ReadUntil([](const QByteArray &b) { return b.contains(" units"); });
    EXPECT_TRUE(ident.contains("v4.1A #12345678 #1 ,")) << ident.constData();

    // ContactMeter
    m_sim.Purge();
    m_sim.SendString(QByteArray(18, '.'));
    ASSERT_TRUE(waitForPrompt());
    EXPECT_TRUE(waitForAck(2));

    m_sim.SendString("600\r\n");
    ASSERT_TRUE(waitForPrompt());
    const char *const items[] = { "221", "140", "813", "812" };
    for (const char *item : items) {
        waitForAck(25);
        m_sim.Purge();
        m_sim.SendString(QByteArray(item) + "\r\n");
        const QByteArray value
            = m_sim.ReadUntil([](const QByteArray &b) { return b.count('=') >= 2; }, 2000);
        EXPECT_EQ(value.count('='), 2) << item;
        EXPECT_TRUE(waitForAck(25)) << item;
        m_sim.SendString(".\r\n");
        m_sim.Purge();
        EXPECT_TRUE(waitForPrompt()) << item;
    }
    waitForAck(50);
    m_sim.Purge();
    m_sim.SendString("956\r\n");
    const QByteArray token = m_sim.ReadUntilChar(' ');
    EXPECT_TRUE(token.startsWith("MEM:7D00 ")) << token.constData();

    // ReturnToRunMode: one byte dropped, then an apostrophe, then eleven "r".
    unsigned char dropped;
    m_sim.Link().ReadByte(&dropped);
    EXPECT_TRUE(m_sim.ReadUntilChar('\'', 5000).contains('\''));
    DialogueRunner runner;
    RunToEnd(runner, m_sim.Link().SendCommandAsync(runner, "rrrrrrrrrrr"));
    m_sim.Purge();
    EXPECT_TRUE(m_sim.ReadUntil([](const QByteArray &b) { return b.contains("RL2"); }, 4000)
                    .contains("RL2"));
}

// ------------------------------------------------------------------------- command lists

TEST_F(MeterSimTest, VersionAndImageDumpFitTheReadList)
{
    ASSERT_TRUE(m_sim.Start(Args({ QStringLiteral("--rev"), QStringLiteral("C") })));
    ASSERT_TRUE(m_sim.EnterCommandMode());
    const QByteArray ver = m_sim.Command("100");
    EXPECT_EQ(ver.mid(ver.indexOf("VER=") + 4, 4), QByteArray("4.1A"));
    EXPECT_EQ(ver.mid(ver.indexOf("REV=") + 4, 1), QByteArray("C"));
    EXPECT_TRUE(ver.contains('>'));
    const QByteArray img = m_sim.Command("110");
    const QByteArray text = img.mid(img.indexOf("IMG=") + 4, SimHarness::kTestImage41 * 3);
    EXPECT_EQ(text, ImageFile());
    EXPECT_EQ(text.left(9), QByteArray("AA 02 20 ")); // key, flow_prec, mode (range 1)
    EXPECT_EQ(text.mid(12, 12), QByteArray("00 BC 61 4E ")); // serial 12345678, MSB first
}

TEST_F(MeterSimTest, AcceptedImageWriteRewritesTheMeterFile)
{
    ASSERT_TRUE(m_sim.Start(Args()));
    ASSERT_TRUE(m_sim.EnterCommandMode());
    QByteArray bytes = ImageBytes();
    ASSERT_EQ(bytes.size(), SimHarness::kTestImage41);
    bytes[4] = char(0x00); // serial 0x00BC614E -> 0x00000001
    bytes[5] = char(0x00);
    bytes[6] = char(0x00);
    bytes[7] = char(0x01);
    QByteArray send;
    for (char b : bytes)
        send += QByteArray(1, b).toHex().toUpper() + "\r";
    EXPECT_TRUE(m_sim.Command("120").contains('>'));
    m_sim.Purge();
    m_sim.Send(send + "\r", 1); // the list adds its carriage return after the image text
    const QByteArray r = m_sim.ReadQuiet(250);
    EXPECT_TRUE(r.contains("IMAGE STORED*")) << r.constData();
    EXPECT_EQ(ImageBytes(), bytes);
    EXPECT_TRUE(m_sim.Command("100").contains("SN=1 "));
}

struct RefusedCase
{
    const char *name;
    int dropBytes; // bytes left off the end
    bool badKey; // key byte not 0xAA
    const char *junk; // a line that is no hex byte
    const char *reason;
};

class RefusedWriteTest : public MeterSimTest, public ::testing::WithParamInterface<RefusedCase>
{
};

TEST_P(RefusedWriteTest, RefusedWriteHasNoTerminatorAndLeavesTheFile)
{
    const RefusedCase c = GetParam();
    ASSERT_TRUE(m_sim.Start(Args()));
    ASSERT_TRUE(m_sim.EnterCommandMode());
    const QByteArray before = ImageFile();
    QByteArray bytes = ImageBytes();
    bytes.chop(c.dropBytes);
    if (c.badKey)
        bytes[0] = char(0x55);
    QByteArray send;
    for (int i = 0; i < bytes.size(); ++i) {
        send += QByteArray(1, bytes.at(i)).toHex().toUpper() + "\r";
        if (i == 3 && *c.junk)
            send += QByteArray(c.junk) + "\r";
    }
    m_sim.Command("120");
    m_sim.Purge();
    m_sim.Send(send + "\r", 1);
    const QByteArray r = m_sim.ReadQuiet(250);
    EXPECT_FALSE(r.contains('*')) << r.constData();
    EXPECT_TRUE(r.contains(c.reason)) << r.constData();
    EXPECT_TRUE(r.contains('>'));
    EXPECT_EQ(ImageFile(), before);
}

INSTANTIATE_TEST_SUITE_P(Writes, RefusedWriteTest,
    ::testing::Values(RefusedCase { "short", 1, false, "", "SIZE 25 OF 26" },
        RefusedCase { "key", 0, true, "", "KEY" },
        RefusedCase { "junk", 0, false, "ZZ", "BAD DATA" }),
    [](const auto &p) { return std::string(p.param.name); });

struct RangeCase
{
    const char *firmware;
    const char *entry;
    bool accepted;
    int imageOffset; // mode / meter_num byte
    int imageByte; // expected afterwards
};

class RangeChangeTest : public MeterSimTest, public ::testing::WithParamInterface<RangeCase>
{
};

TEST_P(RangeChangeTest, RangeChangeStoresTheRangeAndNineRReturnToRunMode)
{
    const RangeCase c = GetParam();
    ASSERT_TRUE(
        m_sim.Start(Args({ QStringLiteral("--firmware"), QString::fromLatin1(c.firmware) })));
    ASSERT_TRUE(m_sim.EnterCommandMode());
    EXPECT_TRUE(m_sim.Command("130").contains('>'));
    const QByteArray r = m_sim.Command(c.entry);
    EXPECT_EQ(r.contains('*'), c.accepted) << r.constData();
    EXPECT_EQ((unsigned char)ImageBytes().at(c.imageOffset), c.imageByte);
    m_sim.Send("rrrrrrrrr", 25);
    m_sim.Purge();
    const QByteArray stream
        = m_sim.ReadUntil([](const QByteArray &b) { return b.contains("RL2"); }, 4000);
    EXPECT_TRUE(stream.contains("RL2")) << stream.constData();
}

INSTANTIATE_TEST_SUITE_P(Ranges, RangeChangeTest,
    ::testing::Values(RangeCase { "4.1A", "3", true, 2, 0x2A },
        RangeCase { "4.1A", "4", true, 2, 0x2F }, RangeCase { "4.1A", "5", false, 2, 0x20 },
        RangeCase { "4.1A", "x", false, 2, 0x20 }, RangeCase { "3.9G", "2", true, 1, 0x2D },
        RangeCase { "4.0B", "3", true, 2, 0x55 }));

// ------------------------------------------------------------------------- robustness

TEST_F(MeterSimTest, GarbageInEveryModeDoesNotStopTheMeter)
{
    ASSERT_TRUE(m_sim.Start(Args()));
    QByteArray junk;
    quint32 seed = 7;
    for (int i = 0; i < 600; ++i) {
        seed = seed * 1664525u + 1013904223u;
        junk.append(char(seed >> 24));
    }
    const QByteArray prefixes[] = { "", "[", "..................", "..................120\r\n",
        "..................955\r\n", "..................130\r\n", "..................221\r\n" };
    for (const QByteArray &prefix : prefixes) {
        m_sim.Send(prefix, 2);
        m_sim.Send(junk, 0);
        m_sim.Send(QByteArray(300, 'x'), 0); // an endless line
        m_sim.Send("\r\nrrrrrr\r\n", 2);
        ASSERT_TRUE(m_sim.IsRunning());
        ASSERT_TRUE(m_sim.EnterCommandMode()) << "after " << prefix.constData();
        m_sim.Send("rrrrrr\r\n", 2);
    }
    EXPECT_EQ(ImageBytes().size(), SimHarness::kTestImage41);
}

TEST_F(MeterSimTest, SigtermEndsCleanlyAndRemovesTheLink)
{
    const QString link = m_dir.filePath(QStringLiteral("meter-link"));
    ASSERT_TRUE(m_sim.Start(Args({ QStringLiteral("--link"), link })));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), m_sim.SlavePath());
    EXPECT_EQ(m_sim.Terminate(2000), 0);
    EXPECT_FALSE(QFileInfo::exists(link));
}

TEST_F(MeterSimTest, ClosedPortLeavesTheMeterIdleAndItAnswersAfterReopening)
{
    ASSERT_TRUE(m_sim.Start(Args({ QStringLiteral("--interval"), QStringLiteral("1000") })));
    ASSERT_TRUE(m_sim.EnterCommandMode());
    m_sim.Send("rrrrrr\r\n", 2);
    m_sim.ClosePort();
    SleepMs(200);
    const double before = m_sim.CpuSeconds();
    SleepMs(1000);
    const double used = m_sim.CpuSeconds() - before;
    ASSERT_GE(before, 0.0);
    // A meter spinning on the hung-up port would burn the whole second.
    EXPECT_LT(used, 0.1);
    ASSERT_TRUE(m_sim.OpenPort());
    EXPECT_TRUE(m_sim.EnterCommandMode());
}

TEST_F(MeterSimTest, BaudOptionPacesTheOutput)
{
    // 2400 baud: 240 bytes a second, so a screen of several hundred bytes takes well over a
    // second to arrive (a lower bound only: a slow machine can only take longer).
    ASSERT_TRUE(m_sim.Start(Args({ QStringLiteral("--baud"), QStringLiteral("2400") })));
    m_sim.Purge();
    m_sim.Send("[");
    const auto t0 = std::chrono::steady_clock::now();
    const QByteArray screen
        = m_sim.ReadUntil([](const QByteArray &b) { return b.endsWith("SELECT: "); }, 5000);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_TRUE(screen.endsWith("SELECT: "));
    EXPECT_GE(s, screen.size() * 10.0 / 2400.0 * 0.9);
}

TEST_F(MeterSimTest, BadCommandLineIsRefusedWithAMessage)
{
    SimHarness sim;
    EXPECT_FALSE(sim.Start({ QStringLiteral("--vars"), Vars(), QStringLiteral("--section"),
        QStringLiteral("[9.9Z]") }));
    SimHarness sim2;
    EXPECT_FALSE(sim2.Start({ QStringLiteral("--range"), QStringLiteral("7") }));
}

TEST_F(MeterSimTest, PresetMeterFileIsUsedAndKeptWhenUnchanged)
{
    QFile f(ImagePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const QByteArray preset
        = "AA 02 23 06 00 00 30 39 3F 80 00 00 42 A0 00 00 00 00 00 00 1F 01 08 00 00 07 ";
    f.write(preset);
    f.close();
    ASSERT_TRUE(m_sim.Start(Args()));
    EXPECT_EQ(ImageFile(), preset);
    ASSERT_TRUE(m_sim.EnterCommandMode());
    const QByteArray ver = m_sim.Command("100");
    EXPECT_TRUE(ver.contains("SN=12345 RNG=4")) << ver.constData();
}

} // namespace
