// The datalogger without a window or a meter: field rules, the reading-line receiver and parser,
// the PC log file byte for byte, column numbers, LOAD, and the status transitions of PC logging.
#include "RecordingSink.h"

#include "base/ScanText.h"
#include "datalog/ColumnNumbers.h"
#include "datalog/DatalogCore.h"
#include "datalog/DatalogFieldRules.h"
#include "datalog/LogData.h"
#include "datalog/LogLoader.h"
#include "datalog/LoggerConfigDialogue.h"
#include "datalog/PcLogger.h"
#include "datalog/ReadingLine.h"
#include "datalog/ReadingReceiver.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A core ready for PC logging: the meter counts as checked, a clock the test moves.
struct LoggerRig
{
    LoggerRig()
    {
        core.SetSink(&sink);
        core.SetClock([this] { return now; });
        core.OnFirstShown();
        core.state.meterParametersRead = true;
        core.fields.fileName = dir.filePath(QStringLiteral("pc.log"));
    }
    void Feed(const QByteArray &bytes)
    {
        for (char c : bytes)
            core.Pc().OnReceivedByte((unsigned char)c);
    }
    void Ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            core.Pc().ClockTick();
    }

    QTemporaryDir dir;
    QDateTime now { QDate(2007, 1, 31), QTime(14, 15, 7) };
    RecordingSink sink;
    DatalogCore core;
};

} // namespace

TEST(DatalogFieldRules, DatesAndTimesNormalizeToTwoDigitParts)
{
    struct Case
    {
        const char *typed;
        const char *date;
        const char *time; // the same text in a time edit, ":" for "/"
    };
    const Case cases[] = {
        { "1/5/08", "01/05/08", "01:05:08" },
        { "01/05/08", "01/05/08", "01:05:08" },
        { "12/31/9", "12/31/09", "12:31:09" },
        { "/5/08", "00/05/08", "00:05:08" },
        { "3//", "03/00/00", "03:00:00" },
        { "13/45/99", "13/45/99", "13:45:99" }, // kept as typed: out-of-range parts never crash
        { "010508", "01/50/08", "01:50:08" }, // no separator: taken to stand at index 2
        { "", "00/00/00", "00:00:00" },
        { "7", "07/00/07", "07:00:07" },
    };
    for (const Case &c : cases) {
        const QString typed = QString::fromLatin1(c.typed);
        EXPECT_EQ(DatalogFieldRules::NormalizeDate(typed).toStdString(), c.date) << c.typed;
        QString asTime = typed;
        asTime.replace(QLatin1Char('/'), QLatin1Char(':'));
        EXPECT_EQ(DatalogFieldRules::NormalizeTime(asTime).toStdString(), c.time) << c.typed;
    }
    int y = 0, m = 0, d = 0;
    DatalogFieldRules::ParseDate(QStringLiteral("1/5/08"), &y, &m, &d);
    EXPECT_EQ(std::make_tuple(y, m, d), std::make_tuple(8, 1, 5));
    DatalogFieldRules::ParseDate(QStringLiteral("12/31/99"), &y, &m, &d);
    EXPECT_EQ(std::make_tuple(y, m, d), std::make_tuple(99, 12, 31));
    EXPECT_EQ(DatalogFieldRules::TimeSeconds(QStringLiteral("9:05:07")), 9 * 3600 + 5 * 60 + 7);
    EXPECT_EQ(DatalogFieldRules::TimeSeconds(QStringLiteral("23:59:59")), 86399);
    EXPECT_EQ(DatalogFieldRules::TimeSeconds(QStringLiteral("99:99:99")), 99 * 3600 + 99 * 60 + 99);
}

TEST(DatalogFieldRules, IntervalEditsKeepTheirBounds)
{
    enum Leave { H, M, S };
    struct Case
    {
        Leave leave;
        const char *hour, *min, *sec;
        const char *hourAfter, *minAfter, *secAfter;
    };
    const Case cases[] = {
        { S, "0", "0", "", "0", "0", "0" },
        { S, "0", "0", "61", "0", "0", "60" },
        { S, "0", "0", "60", "0", "0", "60" },
        { S, "0", "0", "-3", "0", "0", "0" },
        { S, "24", "7", "9", "24", "0", "0" },
        { S, "0", "0", "abc", "0", "0", "0" }, // no number shows the 0 it is taken as
        { S, "0", "0", "060", "0", "0", "60" },
        { M, "0", "x5", "5", "0", "0", "5" },
        { M, "0", "0060", "5", "0", "60", "5" },
        { H, "024", "7", "abc", "24", "0", "0" },
        { S, "0", "0", "007", "0", "0", "007" },
        { M, "0", "", "5", "0", "0", "5" },
        { M, "0", "75", "5", "0", "60", "5" },
        { M, "0", "-1", "5", "0", "0", "5" },
        { M, "30", "5", "5", "30", "0", "0" },
        { H, "25", "10", "10", "24", "0", "0" },
        { H, "24", "00", "0", "24", "0", "0" }, // the text is rewritten, not only the value
        { M, "24", "-0", "00", "24", "0", "0" },
        { H, "", "1", "2", "0", "1", "2" },
        { H, "-2", "1", "2", "0", "1", "2" },
        { H, "99999999999999999999", "1", "2", "24", "0", "0" },
    };
    for (const Case &c : cases) {
        QString h = QString::fromLatin1(c.hour), m = QString::fromLatin1(c.min),
                s = QString::fromLatin1(c.sec);
        if (c.leave == H)
            DatalogFieldRules::LeaveHour(h, m, s);
        else if (c.leave == M)
            DatalogFieldRules::LeaveMin(h, m, s);
        else
            DatalogFieldRules::LeaveSec(h, m, s);
        EXPECT_EQ((h + QLatin1Char('|') + m + QLatin1Char('|') + s).toStdString(),
            QStringLiteral("%1|%2|%3")
                .arg(QLatin1String(c.hourAfter), QLatin1String(c.minAfter),
                    QLatin1String(c.secAfter))
                .toStdString())
            << c.hour << ' ' << c.min << ' ' << c.sec;
    }
}

TEST(DatalogFieldRules, StartTakesTheIntervalWithinOneSecondAndOneDay)
{
    struct Case
    {
        const char *hour, *min, *sec;
        int interval;
        const char *edits;
    };
    const Case cases[] = {
        { "0", "0", "0", 5, "0:0:5" },
        { "24", "0", "0", 86400, "24:0:0" },
        { "24", "0", "1", 86400, "24:0:0" },
        { "0", "1", "30", 90, "0:1:30" },
        { "2147483647", "2147483647", "5", 86400, "24:0:0" }, // no overflow on the way
        { "-1", "0", "0", 5, "0:0:5" },
    };
    for (const Case &c : cases) {
        LoggerRig rig;
        rig.core.fields.hour = QString::fromLatin1(c.hour);
        rig.core.fields.min = QString::fromLatin1(c.min);
        rig.core.fields.sec = QString::fromLatin1(c.sec);
        rig.core.Pc().StartPcLogging();
        EXPECT_EQ(rig.core.log.intervalSeconds, c.interval)
            << c.hour << ':' << c.min << ':' << c.sec;
        EXPECT_EQ(rig.core.Pc().SnapshotPeriodMs(), c.interval * 1000);
        const DatalogFields &f = rig.core.fields;
        EXPECT_EQ((f.hour + ':' + f.min + ':' + f.sec).toStdString(), c.edits);
        rig.core.Pc().StopPcLogging();
    }
}

TEST(ReadingLine, TakesTheStreamLineApart)
{
    struct Case
    {
        const char *line;
        const char *flow, *flowDisplay, *total, *totalDisplay, *high, *low, *relay1, *relay2;
        bool on1, on2;
    };
    const Case cases[] = {
        { "T12.3  SCFM  1234.5678  SCF  59.12  0.00  RLY1* RLY2", "12.3  ", "12.3  SCFM",
            "1234.5678  ", "1234.5678  SCF", "59.12", "0.00", "RLY1*", "RLY2", true, false },
        { "12.5 SCFM 5 SCF 1 2 R1 R2*", "12.5 ", "12.5 SCFM", "5 ", "5 SCF", "1", "2", "R1", "R2*",
            false, true },
        { "1T2T.T5", "12.5", "12.5", "", "", "", "", "", "", false, false },
        { "", "", "", "", "", "", "", "", "", false, false },
        { "   40.0 SCFM", "   ", "   40.0", "SCFM", "SCFM", "", "", "", "", false, false },
        { "61002051.87 MSCD  1022002.2358 MSC  1 2 * *", "61002051.87 ", "61002051.87 MSCD",
            "1022002.2358 ", "1022002.2358 MSC", "1", "2", "*", "*", true, true },
    };
    for (const Case &c : cases) {
        const ReadingLine r = ReadingLine::Parse(QByteArray(c.line));
        EXPECT_EQ(r.flowValue.toStdString(), c.flow) << c.line;
        EXPECT_EQ(r.flowDisplay.toStdString(), c.flowDisplay) << c.line;
        EXPECT_EQ(r.totalValue.toStdString(), c.total) << c.line;
        EXPECT_EQ(r.totalDisplay.toStdString(), c.totalDisplay) << c.line;
        EXPECT_EQ(r.high.toStdString(), c.high) << c.line;
        EXPECT_EQ(r.low.toStdString(), c.low) << c.line;
        EXPECT_EQ(r.relay1.toStdString(), c.relay1) << c.line;
        EXPECT_EQ(r.relay2.toStdString(), c.relay2) << c.line;
        EXPECT_EQ(r.Relay1On(), c.on1) << c.line;
        EXPECT_EQ(r.Relay2On(), c.on2) << c.line;
    }
    // Only the first 200 characters are read: a relay token past them stays empty.
    const QByteArray longLine = "1 U 2 V 3 4 " + QByteArray(200, 'X') + " R*";
    EXPECT_TRUE(ReadingLine::Parse(longLine).relay2.isEmpty());
    EXPECT_EQ(ReadingLine::Parse(longLine).relay1.size(), 200 - 12);
}

TEST(ReadingReceiver, KeepsStreamCharactersAndCountsEveryByte)
{
    ReadingReceiver rx;
    // Before the first carriage return after a restart, a line may have lost its beginning.
    rx.Restart();
    for (char c : QByteArray("1.87 SCFM"))
        EXPECT_EQ(rx.Feed((unsigned char)c), ReadingReceiver::Result::None);
    EXPECT_EQ(rx.Feed('\r'), ReadingReceiver::Result::None);
    for (char c : QByteArray("\n12.5 scfm $X\x1c\x7f~[Z]"))
        EXPECT_EQ(rx.Feed((unsigned char)c), ReadingReceiver::Result::None);
    EXPECT_EQ(rx.Feed('\r'), ReadingReceiver::Result::Line);
    EXPECT_EQ(
        rx.Line().toStdString(), "12.5  XZ"); // lower case, "$", controls, "[" and "]" dropped

    // 300 bytes without a carriage return, lower case and "$" included, stop the reader.
    int overflowAt = -1;
    for (int i = 0; i < 400 && overflowAt < 0; ++i) {
        if (rx.Feed(i % 2 ? 'a' : '$') == ReadingReceiver::Result::Overflow)
            overflowAt = i + 1;
    }
    EXPECT_EQ(overflowAt, ReadingReceiver::kLimit);
    // The count starts again at each carriage return.
    for (int i = 0; i < 299; ++i)
        ASSERT_EQ(rx.Feed('1'), ReadingReceiver::Result::None);
    EXPECT_EQ(rx.Feed('\r'), ReadingReceiver::Result::Line);
    EXPECT_EQ(rx.Line().size(), 299);
    EXPECT_EQ(rx.Feed('1'), ReadingReceiver::Result::None);
}

TEST(ColumnNumbers, EveryHeaderLineCountsAfreshAndFindsTotal)
{
    std::array<bool, 8> all;
    all.fill(true);
    ColumnNumbers c;
    c.FromHeaderLine(PcLogger::ColumnHeaderLine(all));
    for (int q = 0; q < ColumnNumbers::kCount; ++q)
        EXPECT_EQ(c.Of(ColumnNumbers::Quantity(q)), q + 2) << q;
    // A second line does not continue the count of the first.
    c.FromHeaderLine(";Line ; Flow ; Relay2");
    EXPECT_EQ(c.Of(ColumnNumbers::Flow), 2);
    EXPECT_EQ(c.Of(ColumnNumbers::Relay2), 3);
    EXPECT_EQ(c.Of(ColumnNumbers::Total), 0);
    c.FromHeaderLine(";Line ");
    EXPECT_EQ(c, ColumnNumbers());

    // A logged row split at ";" gives the relay tokens at their columns (what the graph reads).
    LoggerRig rig;
    rig.core.fields.options = all;
    rig.core.Pc().StartPcLogging();
    rig.Feed("\r55.25  SCFM  1000.5  SCF  60.1  2.2  RLY1* RLY2\r");
    rig.core.Pc().SnapshotTick();
    const QStringList fields = rig.core.log.snapshotList.value(0).split(QLatin1Char(';'));
    const ColumnNumbers &cols = rig.core.log.columns;
    EXPECT_EQ(fields.value(cols.Of(ColumnNumbers::Flow)).trimmed(), QStringLiteral("55.25"));
    EXPECT_EQ(fields.value(cols.Of(ColumnNumbers::Total)).trimmed(), QStringLiteral("1000.5"));
    EXPECT_EQ(fields.value(cols.Of(ColumnNumbers::Relay1)).trimmed(), QStringLiteral("RLY1*"));
    EXPECT_EQ(fields.value(cols.Of(ColumnNumbers::Relay2)).trimmed(), QStringLiteral("RLY2"));
}

TEST(PcLogFile, ShortRunsAreWrittenByteForByte)
{
    struct Case
    {
        std::array<bool, 8> options;
        QByteArray columnHeader;
        QByteArray row1, row2;
    };
    const QByteArray line = "T12.5  SCFM  1234.5678  SCF  59.12  0.00  RLY1* RLY2";
    const Case cases[] = {
        { { true, true, true, false, false, false, false, false }, ";Line ; Date ; Time ; Flow ",
            "; 1; 01/31/2007 ; 02:15:08 PM ; 12.5   ", "; 2; 01/31/2007 ; 02:15:09 PM ; 12.5   " },
        { {}, ";Line ", "; 1", "; 2" },
        { { true, true, true, true, true, true, true, true },
            ";Line ; Date ; Time ; Flow ; Total ; High ; Low ; Relay1 ; Relay2",
            "; 1; 01/31/2007 ; 02:15:08 PM ; 12.5   ; 1234.5678   ; 59.12 ; 0.00 ; RLY1* ; RLY2 ",
            "; 2; 01/31/2007 ; 02:15:09 PM ; 12.5   ; 1234.5678   ; 59.12 ; 0.00 ; RLY1* ; RLY2 " },
    };
    for (const Case &c : cases) {
        LoggerRig rig;
        rig.core.fields.options = c.options;
        rig.core.Pc().StartPcLogging();
        EXPECT_EQ(rig.sink.statuses.last(), QStringLiteral("Datalogger Running"));
        EXPECT_EQ(rig.sink.modes.last(), QStringLiteral("PC Manual Mode"));
        rig.Feed("1.87 SCFM\r" + line + "\r\n");
        rig.now = rig.now.addSecs(1);
        rig.core.Pc().SnapshotTick();
        rig.now = rig.now.addSecs(1);
        rig.core.Pc().SnapshotTick();
        rig.now = rig.now.addSecs(1);
        rig.core.Pc().StopPcLogging();
        const QString path = rig.core.fields.fileName;
        const QByteArray expected = "\"Halvren - PC Datalog Filename " + path.toLatin1()
            + "\r\n"
              "\"Full Scale Flow Rate = 80.000000\r\n"
              "\"Serial#  12345678   Start Date: 01/31/2007   Time: 02:15:07 PM\r\n"
              "\r\n"
              "\"Snapshot Interval = 5 secs   Flow Units = SCFM   Total Units = SCF\r\n"
              "\r\n"
              "\"Options Selected:\r\r\n"
            + c.columnHeader + "\r\n" + c.row1 + "\r\n" + c.row2
            + "\r\n"
              "\r\n"
              "\"Stop Ocurred 01/31/2007 02:15:10 PM\r\n";
        EXPECT_EQ(ReadFile(path).toStdString(), expected.toStdString());
        const LogData &log = rig.core.log;
        EXPECT_EQ(log.headerList,
            QStringList({ QStringLiteral(
                              "Serial#  12345678   Start Date: 01/31/2007   Time: 02:15:07 PM"),
                QStringLiteral(
                    "Snapshot Interval = 5 secs   Flow Units = SCFM   Total Units = SCF"),
                QStringLiteral("\"Options Selected:\r\n"), QString::fromLatin1(c.columnHeader) }));
        ASSERT_EQ(log.snapshotList.size(), 3); // two rows and the empty entry of the stop
        EXPECT_TRUE(log.snapshotList.at(2).isEmpty());
        EXPECT_EQ(
            log.stopList, QStringList(QStringLiteral("\"Stop Ocurred 01/31/2007 02:15:10 PM")));
        // The file reads back as it was shown.
        LogData loaded;
        ASSERT_TRUE(LogLoader::LoadFile(path, loaded));
        EXPECT_EQ(loaded.snapshotList,
            QStringList({ QString::fromLatin1(c.row1), QString::fromLatin1(c.row2) }));
        EXPECT_EQ(loaded.columns, log.columns);
        EXPECT_EQ(loaded.stopList, log.stopList);
    }
}

TEST(PcLogging, StatusModesTimersAndCountdowns)
{
    LoggerRig rig;
    EXPECT_TRUE(rig.core.Pc().ClockRunning());
    EXPECT_EQ(rig.core.Pc().SnapshotPeriodMs(), 0);
    EXPECT_EQ(rig.core.fields.capacity, QStringLiteral("Press UPDATE Button"));
    EXPECT_EQ(rig.core.fields.status, QStringLiteral("IDLE"));

    // Row before any reading line: empty meter values.
    rig.core.Pc().StartPcLogging();
    EXPECT_TRUE(rig.core.Pc().LineReaderRunning());
    rig.core.Pc().SnapshotTick();
    EXPECT_EQ(rig.core.log.snapshotList.value(0), QStringLiteral("; 1;     "));
    EXPECT_EQ(rig.core.fields.status, QStringLiteral("SNAPSHOT"));
    // Option boxes cannot change while logging; START again does nothing.
    rig.core.Pc().OptionClicked(0, true);
    EXPECT_FALSE(rig.core.fields.options[0]);
    rig.core.Pc().StartPcLogging();
    EXPECT_EQ(rig.core.state.rowNumber, 2);
    // "SNAPSHOT" stays its while, then the running status comes back.
    const auto shownFor = [&rig](const char *next) {
        QElapsedTimer shown;
        shown.start();
        EXPECT_TRUE(
            TestEnv::WaitUntil([&] { return rig.core.fields.status == QLatin1String(next); }, 5000))
            << qPrintable(rig.core.fields.status);
        return shown.elapsed();
    };
    EXPECT_GE(shownFor("Z-Ozuved Running"), PcLogger::kSnapshotShownMs - 5);
    rig.core.Pc().StopPcLogging();
    EXPECT_EQ(rig.core.fields.status, QStringLiteral("STOPPED"));
    EXPECT_EQ(rig.sink.stopFocused, 1);
    EXPECT_EQ(rig.core.Pc().SnapshotPeriodMs(), 0);
    EXPECT_FALSE(rig.core.Pc().LineReaderRunning());
    EXPECT_GE(shownFor("IDLE"), PcLogger::kStoppedShownMs - 5);
    EXPECT_EQ(rig.core.fields.mode, QString());
    EXPECT_EQ(rig.sink.statuses,
        QStringList(
            { "IDLE", "Datalogger Running", "SNAPSHOT", "Z-Ozuved Running", "STOPPED", "IDLE" }));
    EXPECT_EQ(rig.sink.modes, QStringList({ "", "PC Manual Mode", "" }));
    // After the stop the option boxes work again.
    rig.core.Pc().OptionClicked(0, true);
    EXPECT_TRUE(rig.core.fields.options[0]);

    // A reading of this run is not the first row of the next: START forgets it.
    rig.core.fields.options = { false, false, true };
    rig.core.Pc().StartPcLogging();
    rig.Feed("\r12.5  SCFM  1234.5  SCF  59.12  0.00  RLY1* RLY2\r");
    rig.core.Pc().SnapshotTick();
    EXPECT_TRUE(rig.core.log.snapshotList.value(0).startsWith(QStringLiteral("; 1; 12.5 ")));
    rig.core.Pc().StopPcLogging();
    shownFor("IDLE");
    rig.core.Pc().StartPcLogging();
    ASSERT_TRUE(rig.core.state.loggingActive);
    rig.core.Pc().SnapshotTick();
    EXPECT_EQ(rig.core.log.snapshotList.value(0), QStringLiteral("; 1;     "));
    EXPECT_EQ(rig.core.fields.flowRate, QString());
}

TEST(PcLogging, TimerModeStartsAtTheStartTimeAndStopsAtTheStopTime)
{
    LoggerRig rig;
    rig.core.fields.timerEnabled = true;
    rig.core.fields.startDate = QStringLiteral("01/31/07");
    rig.core.fields.startTime = QStringLiteral("14:15:09");
    rig.core.fields.stopDate = QStringLiteral("2/1/07");
    rig.core.fields.stopTime = QStringLiteral("0:00:02");
    rig.core.Pc().StartPcLogging();
    EXPECT_EQ(rig.core.fields.status, QStringLiteral("TIMER STARTED"));
    EXPECT_EQ(rig.core.fields.mode, QStringLiteral("PC Timer Mode"));
    EXPECT_EQ(rig.core.Pc().SnapshotPeriodMs(), 0);
    rig.Ticks(3);
    EXPECT_FALSE(rig.core.state.timerWindowEntered);
    // Unticking the box while waiting does not lose the timed run.
    rig.core.Pc().TimerEnableClicked(false);
    rig.now = rig.now.addSecs(2);
    rig.Ticks(1);
    EXPECT_TRUE(rig.core.state.timerWindowEntered);
    EXPECT_EQ(rig.core.fields.status, QStringLiteral("Z-Ozuved Running"));
    EXPECT_GT(rig.core.Pc().SnapshotPeriodMs(), 0);
    // Across midnight into the next month: stops at 00:00:02 on 2/1/07.
    rig.now = QDateTime(QDate(2007, 2, 1), QTime(0, 0, 1));
    rig.Ticks(1);
    EXPECT_TRUE(rig.core.state.loggingActive);
    rig.now = rig.now.addSecs(1);
    rig.Ticks(1);
    EXPECT_FALSE(rig.core.state.loggingActive);
    EXPECT_EQ(rig.core.fields.status, QStringLiteral("STOPPED"));

    // Started after its start time: snapshots begin on the next tick.
    LoggerRig late;
    late.core.fields.timerEnabled = true;
    late.core.fields.startDate = QStringLiteral("12/31/06");
    late.core.fields.startTime = QStringLiteral("23:00:00");
    late.core.fields.stopDate = QStringLiteral("12/31/07");
    late.core.Pc().StartPcLogging();
    late.Ticks(1);
    EXPECT_TRUE(late.core.state.timerWindowEntered);
}

// Snapshots every second against a meter streaming once a second: each reading is in one row,
// whether it comes a moment late for its row or the event loop turns late with two of them.
TEST(PcLogging, EveryReadingOfAStreamAsFastAsTheSnapshotsIsLoggedOnce)
{
    struct Feed
    {
        int atMs; // after START
        QByteArray total;
        int stallMs; // the event loop then stalls this long before the next feed
    };
    struct Case
    {
        const char *name;
        std::vector<Feed> feeds;
        QStringList totals; // of the rows, in order
        int rowsAfterMs; // the last row no earlier than this
    };
    const Case cases[] = {
        { "a reading a moment late for its row is taken by it, not repeated",
            { { 300, "101.5", 0 }, { 2150, "102.5", 0 } }, { "101.5", "102.5" }, 2000 },
        { "two readings handled after the due time: the row takes the one received by then",
            { { 800, "201.5", 350 }, { 801, "202.5", 0 } }, { "201.5", "202.5" }, 2000 },
        { "no reading at all: the row waits half an interval, then goes without", {}, { "", "" },
            2500 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LoggerRig rig;
        rig.core.fields.sec = QStringLiteral("1");
        rig.core.fields.options = { false, false, false, true, false, false, false, false };
        QElapsedTimer clock;
        clock.start();
        rig.core.Pc().StartPcLogging();
        ASSERT_EQ(rig.core.Pc().SnapshotPeriodMs(), 1000);
        rig.Feed("\r"); // the end of the line START came in the middle of
        for (const Feed &feed : c.feeds) {
            QTimer::singleShot(feed.atMs, Qt::PreciseTimer, [&rig, feed] {
                rig.Feed("1.0  SCFM  " + feed.total + "  SCF\r");
                QElapsedTimer stall;
                stall.start();
                while (stall.elapsed() < feed.stallMs) { }
            });
        }
        const qsizetype rows = c.totals.size();
        ASSERT_TRUE(
            TestEnv::WaitUntil([&] { return rig.core.log.snapshotList.size() >= rows; }, 10000));
        EXPECT_GE(clock.elapsed(), c.rowsAfterMs);
        rig.core.Pc().StopPcLogging();
        QStringList totals;
        for (qsizetype i = 0; i < rows; ++i)
            totals << rig.core.log.snapshotList.at(i).section(QLatin1Char(';'), 2).trimmed();
        EXPECT_EQ(totals, c.totals);
    }
}

TEST(PcLogging, FilesThatCannotBeWrittenAreReported)
{
    // A file that cannot be created.
    LoggerRig rig;
    rig.core.fields.fileName = rig.dir.filePath(QStringLiteral("no/such/folder/x.log"));
    rig.core.Pc().StartPcLogging();
    EXPECT_EQ(rig.sink.messages,
        QStringList(QStringLiteral("               File Creation Error|Could Not Create File")));
    EXPECT_FALSE(rig.core.state.loggingActive);
    EXPECT_EQ(rig.core.fields.status, QStringLiteral("IDLE"));

    // A file whose folder goes away while logging: logging stops and says so.
    LoggerRig gone;
    QDir(gone.dir.path()).mkdir(QStringLiteral("sub"));
    gone.core.fields.fileName = gone.dir.filePath(QStringLiteral("sub/run.log"));
    gone.core.Pc().StartPcLogging();
    ASSERT_TRUE(gone.core.state.loggingActive);
    gone.core.Pc().SnapshotTick();
    EXPECT_TRUE(gone.core.state.loggingActive);
    ASSERT_TRUE(QDir(gone.dir.filePath(QStringLiteral("sub"))).removeRecursively());
    gone.core.Pc().SnapshotTick();
    EXPECT_FALSE(gone.core.state.loggingActive);
    EXPECT_EQ(gone.sink.messages.size(), 1);
    EXPECT_TRUE(gone.sink.messages.value(0).startsWith(
        QLatin1String("        Datalog Error|Could Not Write")));

    // A full disk.
    if (QFile::exists(QStringLiteral("/dev/full"))) {
        LoggerRig full;
        full.core.fields.fileName = QStringLiteral("/dev/full");
        full.core.Pc().StartPcLogging();
        EXPECT_FALSE(full.core.state.loggingActive);
        EXPECT_EQ(full.sink.messages.size(), 1);
    }

    // 300 bytes without a line end stop logging with the meter message.
    LoggerRig noisy;
    noisy.core.Pc().StartPcLogging();
    noisy.Feed(QByteArray(299, 'x'));
    EXPECT_TRUE(noisy.core.state.loggingActive);
    noisy.Feed("x");
    EXPECT_FALSE(noisy.core.state.loggingActive);
    EXPECT_EQ(noisy.sink.messages,
        QStringList(QStringLiteral(
            "        Datalog Error|Data Not Available From Meter\n  Press the Stop Button")));
}

TEST(LoadLog, ReadsBothKindsOfLogAndKeepsToItsBounds)
{
    const QByteArray pcLog
        = "\"Halvren - PC Datalog Filename a.log\r\n"
          "\"Full Scale Flow Rate = 120.500000\r\n"
          "\"Serial#  777   Start Date: 01/31/2007   Time: 02:15:07 PM\r\n"
          "\r\n"
          "\"Snapshot Interval = 30 secs   Flow Units = LBPM   Total Units = LBP\r\n"
          "\r\n"
          "\"Options Selected:\r\r\n"
          ";Line ; Time ; Flow ; Relay2\r\n"
          "; 1; 02:15:37 PM ; 1.5   ; RLY2 \r\n"
          "; 2; 02:16:07 PM ; 2.5   ; RLY2* \r\n"
          "\r\n"
          "\"Stop Ocurred 01/31/2007 02:16:10 PM\r\n";
    LogData log;
    LogLoader::LoadBytes(pcLog, log);
    EXPECT_FLOAT_EQ(log.fullScaleFlow, 120.5f);
    EXPECT_EQ(log.intervalSeconds, 30);
    EXPECT_EQ(log.logFlowUnits, QStringLiteral("LBPM"));
    EXPECT_EQ(log.logStartTime, QStringLiteral("02:15:07 PM"));
    EXPECT_EQ(log.headerList,
        QStringList({ "\"Serial#  777   Start Date: 01/31/2007   Time: 02:15:07 PM",
            "\"Snapshot Interval = 30 secs   Flow Units = LBPM   Total Units = LBP",
            "\"Options Selected:\r", ";Line ; Time ; Flow ; Relay2" }));
    EXPECT_EQ(log.snapshotList,
        QStringList({ "; 1; 02:15:37 PM ; 1.5   ; RLY2 ", "; 2; 02:16:07 PM ; 2.5   ; RLY2* " }));
    EXPECT_EQ(log.stopList, QStringList("\"Stop Ocurred 01/31/2007 02:16:10 PM"));
    EXPECT_EQ(log.columns.Of(ColumnNumbers::Time), 2);
    EXPECT_EQ(log.columns.Of(ColumnNumbers::Flow), 3);
    EXPECT_EQ(log.columns.Of(ColumnNumbers::Relay2), 4);
    EXPECT_EQ(log.columns.Of(ColumnNumbers::Date), 0);

    // A meter log whose text used CR LF: CR CR LF on disk, each line keeps a carriage return.
    QByteArray meterLog
        = "\"Halvren - Flow Meter Datalog Filename m.log\r\n\"Full Scale Flow Rate = 80.000000\r\n"
          "\"Serial#  5   Start Date: 12/08/2026   Time: 07:21:13 AM\r\r\n\r\r\n"
          "\"Snapshot Interval = 5 secs   Flow Units = SCFM   Total Units = SCF\r\r\n\r\r\n"
          "\"Options Selected:\r\r\n;Line ; Flow ; Total \r\r\n"
          "; 1; 40.00     ; 1234.5678   \r\r\n; 2; 41.00     ; 1240.0000   \r\r\n\r\r\n"
          "\"Stop Ocurred 12/08/2026 07:21:23 AM\r\r\n";
    LogLoader::LoadBytes(meterLog, log);
    EXPECT_EQ(log.headerList.size(), 4);
    EXPECT_EQ(log.headerList.value(3), QStringLiteral(";Line ; Flow ; Total \r"));
    EXPECT_EQ(log.snapshotList,
        QStringList({ "; 1; 40.00     ; 1234.5678   \r", "; 2; 41.00     ; 1240.0000   \r" }));
    EXPECT_EQ(log.stopList, QStringList("\"Stop Ocurred 12/08/2026 07:21:23 AM\r"));
    EXPECT_EQ(log.columns.Of(ColumnNumbers::Total), 3);
    EXPECT_EQ(log.logStartTime, QStringLiteral("07:21:13 AM"));

    // No rows: the line after the column header is shown, and nothing is graphed; the stop
    // line is then the line that ends the rows, which is passed over.
    LogLoader::LoadBytes(
        "\"x\r\n\"Full Scale Flow Rate = 50\r\n\"Serial#\r\n;Line ; Flow \r\n\r\n\"Stop\r\n", log);
    EXPECT_EQ(log.snapshotList, QStringList(QString()));
    EXPECT_TRUE(log.stopList.isEmpty());
    EXPECT_FLOAT_EQ(log.fullScaleFlow, 50.0f);

    // Third line without the quote: full scale and start time only, empty lists.
    LogLoader::LoadBytes(
        "x\r\nRate = 7.25\r\nTime: 11:22:33 AM and more\r\n;Line ; Flow \r\n; 1; 3 \r\n", log);
    EXPECT_FLOAT_EQ(log.fullScaleFlow, 7.25f);
    EXPECT_EQ(log.logStartTime, QStringLiteral("11:22:33 AM"));
    EXPECT_TRUE(log.headerList.isEmpty() && log.snapshotList.isEmpty() && log.stopList.isEmpty());

    // Bad input: empty, binary, endless lines, text where numbers belong, too many lines.
    struct Bad
    {
        const char *name;
        QByteArray bytes;
        int maxHeader, maxRows;
    };
    QByteArray manyHeaders = "\"1\r\n\"2\r\n\"3\r\n";
    for (int i = 0; i < LogLoader::kMaxLines + 50; ++i)
        manyHeaders += "\"h\n";
    QByteArray manyRows = "\"1\n\"2\n\"3\n;Line ; Flow \n";
    for (int i = 0; i < LogLoader::kMaxLines + 50; ++i)
        manyRows += "; 1; 2 \n";
    manyRows += "\n\"Stop\n";
    QByteArray binary;
    for (int i = 0; i < 5000; ++i)
        binary += char((i * 7919) & 0xFF);
    const Bad bad[] = {
        { "empty", QByteArray(), 0, 0 },
        { "binary", binary, 100000, 100000 },
        { "long lines",
            "\"a\n\"b\n\"" + QByteArray(100000, 'x') + "\n;Line \n; " + QByteArray(100000, 'y')
                + "\n",
            200, 200 },
        { "letters for numbers", "\"a\nRate = abc\n\"Time\nal = x Flow Units\n;Line \n", 10, 10 },
        { "numbers for text", "1\n2\n\"3\n4\n5\n", 10, 10 },
        { "many header lines", manyHeaders, LogLoader::kMaxLines, 0 },
        { "many rows", manyRows, 10, LogLoader::kMaxLines + 1 },
    };
    for (const Bad &b : bad) {
        LogData d;
        LogLoader::LoadBytes(b.bytes, d);
        EXPECT_LE(d.headerList.size(), b.maxHeader) << b.name;
        EXPECT_LE(d.snapshotList.size(), b.maxRows) << b.name;
        for (const QString &line : d.headerList + d.snapshotList)
            ASSERT_LE(line.size(), LogLoader::kMaxLineBytes) << b.name;
    }
    LogData d;
    LogLoader::LoadBytes(manyRows, d);
    EXPECT_EQ(d.snapshotList.size(), LogLoader::kMaxLines + 1);
    EXPECT_TRUE(d.stopList.isEmpty()); // the row limit ends the reading
    EXPECT_FALSE(LogLoader::LoadFile(TestEnv::WorkDir() + QStringLiteral("/no-such.log"), d));
}

// LOAD says what it found: no file name, a missing or unreadable file, a log without rows, a
// log cut at the row limit; a log with CR-only line ends loads. A failed or cancelled LOAD keeps
// the log on show, and a PC log started afterwards graphs from its own start time.
TEST(LoadLog, SaysWhatItFoundAndKeepsTheLogOnShow)
{
    const QByteArray head = "\"Halvren - PC Datalog Filename a.log\n\"Full Scale Flow Rate = 80\n"
                            "\"Serial#  7   Start Date: 01/31/2007   Time: 09:00:00 AM\n"
                            ";Line ; Flow \n";
    QByteArray many = head;
    for (int i = 1; i <= LogLoader::kMaxLines + 2; ++i)
        many += "; " + QByteArray::number(i) + "; 5 \n";
    QByteArray crOnly = head + "; 1; 5 \n; 2; 6 \n\n\"Stop\n";
    crOnly.replace('\n', '\r');
    const struct
    {
        const char *name; // written in the folder unless bytes is null
        QByteArray bytes;
        const char *said; // empty: no message
        qsizetype rows; // snapshot entries afterwards
    } rows[] = {
        { "good.log", head + "; 1; 5 \n; 2; 6 \n\n\"Stop\n", "", 2 },
        { "enterafilename.log", head, "Enter the name of the log file", 2 },
        { "", QByteArray(), "Enter the name of the log file", 2 },
        { "missing.log", QByteArray(), "missing.log was not found", 2 },
        { ".", QByteArray(), "could not be read", 2 }, // a folder
        { "cr.log", crOnly, "", 2 },
        { "empty.log", head + "\n\"Stop\n", "empty.log holds no logged rows", 1 },
        { "many.log", many, "only the first 100001 are loaded", LogLoader::kMaxLines + 1 },
    };
    LoggerRig rig;
    for (const auto &row : rows) {
        const QString name = QString::fromLatin1(row.name);
        QString path = name.isEmpty() || name == QLatin1String("enterafilename.log")
            ? name
            : rig.dir.filePath(name);
        if (!row.bytes.isNull()) {
            QFile file(rig.dir.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(row.bytes);
        }
        rig.sink.messages.clear();
        rig.core.fields.fileName = path;
        rig.core.LoadLog();
        ASSERT_TRUE(TestEnv::WaitUntil([&] { return !rig.core.IsBusy(); }, 20000));
        const QString said = QString::fromLatin1(row.said);
        EXPECT_EQ(rig.sink.messages.size(), said.isEmpty() ? 0 : 1) << row.name;
        EXPECT_TRUE(rig.sink.messages.join('\n').contains(said))
            << row.name << ": " << qPrintable(rig.sink.messages.join('\n'));
        EXPECT_EQ(rig.core.log.snapshotList.size(), row.rows) << row.name;
    }
    EXPECT_EQ(rig.core.log.logStartTime, QStringLiteral("09:00:00 AM"));

    // A long load gives the event loop back between slices; cancelled, it keeps the log shown.
    rig.core.fields.fileName = rig.dir.filePath(QStringLiteral("good.log"));
    rig.core.LoadLog();
    rig.sink.messages.clear();
    rig.core.fields.fileName = rig.dir.filePath(QStringLiteral("many.log"));
    rig.core.LoadLog();
    EXPECT_TRUE(rig.core.IsBusy());
    rig.core.Cancel();
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return !rig.core.IsBusy(); }, 5000));
    EXPECT_EQ(rig.core.log.snapshotList.size(), 2);
    EXPECT_TRUE(rig.sink.messages.isEmpty());

    rig.core.fields.fileName = rig.dir.filePath(QStringLiteral("pc.log"));
    rig.core.Pc().StartPcLogging();
    EXPECT_EQ(rig.core.log.logStartTime, QStringLiteral("02:15:07 PM"));
}

TEST(MeterLoggerValues, CapacityOptionsAndMemoryFigureText)
{
    std::array<bool, 8> options {};
    EXPECT_EQ(DatalogFieldRules::CapacityText(options, 0), QStringLiteral("Press UPDATE Button"));
    EXPECT_EQ(
        DatalogFieldRules::CapacityText(options, 32000), QStringLiteral("No Options Selected"));
    options[2] = true;
    EXPECT_EQ(DatalogFieldRules::CapacityText(options, 32000), QStringLiteral("2666"));
    options.fill(true);
    EXPECT_EQ(DatalogFieldRules::BytesPerSnapshot(options), 97);
    EXPECT_EQ(DatalogFieldRules::CapacityText(options, 32000), QStringLiteral("329"));
    const bool dateFlow[8] = { true, false, true, false, false, false, false, false };
    EXPECT_EQ(LoggerConfigDialogue::OptionsValue(dateFlow), 160);
    // The memory figure is read as "%x" reads.
    EXPECT_EQ(ScanText::Hex(QStringLiteral("7D00")).value_or(-1), 0x7D00);
    EXPECT_EQ(ScanText::Hex(QStringLiteral("7d0G")).value_or(-1), 0x7D0);
    EXPECT_EQ(ScanText::Hex(QStringLiteral(" 0x1F")).value_or(-1), 0x1F);
    EXPECT_FALSE(ScanText::Hex(QStringLiteral("ZZ")).has_value());
    EXPECT_FALSE(ScanText::Hex(QString()).has_value());
}
