// A log's CSV export read back cell by cell: header, ISO 8601 date-times (with and without a date
// column, across midnight), numbers with a point, empty cells, relays as 0/1, and the refusals
// that leave no half-written file.
#include "datalog/LogCsvExport.h"
#include "base/UserMessage.h"
#include "datalog/Datalog.h"
#include "datalog/LogData.h"
#include "datalog/LogLoader.h"
#include "support/TestFiles.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using Table = std::vector<QStringList>;

// The CSV's lines split into cells; every line must end with CR LF.
Table Cells(const QByteArray &csv)
{
    Table table;
    for (const QByteArray &line : csv.split('\n')) {
        if (line.isEmpty())
            continue;
        EXPECT_TRUE(line.endsWith('\r')) << line.constData();
        table.push_back(QString::fromUtf8(line.chopped(1)).split(QLatin1Char(',')));
    }
    return table;
}

// The offset cell beside a logged date and clock time: the offset local time has then.
QString Off(const char *clock)
{
    const int offset = QDateTime::fromString(QLatin1String(clock), Qt::ISODate).offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return QStringLiteral("UTC%1%2:%3")
        .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QByteArray Export(const LogData &log)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(LogCsvExport::Write(log, buffer));
    return buffer.data();
}

// A PC log with every column, as the logger writes it; rows with a missing and a broken value.
const QByteArray kFullLog
    = "\"Halvren - PC Datalog Filename a.log\r\n"
      "\"Full Scale Flow Rate = 80.000000\r\n"
      "\"Serial#  777   Start Date: 12/31/2026   Time: 11:59:50 PM\r\n"
      "\r\n"
      "\"Snapshot Interval = 5 secs   Flow Units = SCFM   Total Units = SCF\r\n"
      "\r\n"
      "\"Options Selected:\r\r\n"
      ";Line ; Date ; Time ; Flow ; Total ; High ; Low ; Relay1 ; Relay2\r\n"
      "; 1; 12/31/2026 ; 11:59:55 PM ; 12.50   ; 1034   ; 80.1 ; -0.5 ; RL1* ; "
      "RL2. \r\n"
      "; 2; 01/01/2027 ; 12:00:00 AM ; 7   ; 1035   ; 1,5 ; +2.25 ; RL1. ; RL2* \r\n"
      "; 3; 01/01/2027 ; 12:00:05 AM ; ---   ; 1e3   ; 80.1 \r\n"
      "\r\n"
      "\"Stop Ocurred 01/01/2027 12:00:07 AM\r\n";

} // namespace

TEST(LogCsvExport, KnownLogReadBackCellByCell)
{
    LogData log;
    ASSERT_EQ(LogLoader::LoadBytes(kFullLog, log), LogLoader::Outcome::Rows);
    const Table t = Cells(Export(log));
    const Table expected = {
        { "Line", "Date Time", "UTC offset", "Flow (SCFM)", "Total (SCF)", "High (SCFM)",
            "Low (SCFM)", "Relay1", "Relay2", "Serial" },
        { "1", "2026-12-31T23:59:55", Off("2026-12-31T23:59:55"), "12.50", "1034", "80.1", "-0.5",
            "1", "0", "777" },
        // "1,5" is no number: an empty cell, never a split one.
        { "2", "2027-01-01T00:00:00", Off("2027-01-01T00:00:00"), "7", "1035", "", "+2.25", "0",
            "1", "777" },
        // A short row keeps every column: missing fields are empty cells.
        { "3", "2027-01-01T00:00:05", Off("2027-01-01T00:00:05"), "", "1000", "80.1", "", "", "",
            "777" },
    };
    ASSERT_EQ(t.size(), expected.size());
    for (size_t r = 0; r < t.size(); ++r)
        EXPECT_EQ(t[r], expected[r]) << "row " << r;
    EXPECT_EQ(LogCsvExport::RowCount(log), 3);
}

// The same log in each dialect: what separates the cells, the decimal mark, the byte-order mark.
TEST(LogCsvExport, DialectsSeparateAndMarkAsTheirSpreadsheetsRead)
{
    LogData log;
    ASSERT_EQ(LogLoader::LoadBytes(kFullLog, log), LogLoader::Outcome::Rows);
    const struct
    {
        CsvDialect::Kind kind;
        const char *start;
        const char *firstRow;
    } cases[] = {
        { CsvDialect::Kind::Rfc4180, "Line,Date Time,UTC offset,Flow (SCFM)",
            "1,2026-12-31T23:59:55,UTC+" },
        { CsvDialect::Kind::Excel, "\xEF\xBB\xBFLine,Date Time,",
            ",12.50,1034,80.1,-0.5,1,0,777\r\n" },
        { CsvDialect::Kind::Semicolon, "\xEF\xBB\xBFLine;Date Time;UTC offset;Flow (SCFM);",
            ";12,50;1034;80,1;-0,5;1;0;777\r\n2;2027-01-01T00:00:00;UTC" },
    };
    for (const auto &c : cases) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(LogCsvExport::Write(log, buffer, CsvDialect(c.kind)));
        const QByteArray csv = buffer.data();
        EXPECT_TRUE(csv.startsWith(c.start)) << csv.left(80).constData();
        EXPECT_TRUE(csv.contains(c.firstRow)) << csv.constData();
        // "1e3" is reformatted, then written with the dialect's mark like every number.
        EXPECT_TRUE(
            csv.contains(c.kind == CsvDialect::Kind::Semicolon ? ";1000;80,1;" : ",1000,80.1,"));
    }
}

TEST(LogCsvExport, DateTimeWithoutDateOrTimeColumnAndNoFlowColumn)
{
    // No date column: the header's start date, a day on when the clock goes back. The PC log's
    // display rows (four blanks after each value) and the empty entry after them.
    LogData log;
    log.headerList = QStringList { QStringLiteral("Serial#  1   Start Date: 02/28/2024   Time: "
                                                  "11:59:58 PM"),
        QStringLiteral("Snapshot Interval = 2 secs   Flow Units = LBPM   Total Units = LBP"),
        QStringLiteral(";Line ; Time ; Total ; Relay2") };
    log.columns.FromHeaderLine(log.headerList.last().toLatin1());
    log.intervalSeconds = 2;
    log.snapshotList = QStringList { QStringLiteral("; 1; 11:59:59 PM    ; 5    ; RL2*    "),
        QStringLiteral("; 2; 12:00:01 AM    ; 6    ; RL2.    "), QString() };
    Table t = Cells(Export(log));
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0],
        QStringList({ "Line", "Date Time", "UTC offset", "Total (LBP)", "Relay2", "Serial" }));
    EXPECT_EQ(t[1],
        QStringList({ "1", "2024-02-28T23:59:59", Off("2024-02-28T23:59:59"), "5", "1", "1" }));
    EXPECT_EQ(t[2],
        QStringList({ "2", "2024-02-29T00:00:01", Off("2024-02-29T00:00:01"), "6", "0", "1" }));

    // No time column either: start plus the row's number of intervals.
    log.headerList.last() = QStringLiteral(";Line ; Total ");
    log.columns.Clear();
    log.columns.FromHeaderLine(log.headerList.last().toLatin1());
    log.snapshotList = QStringList { QStringLiteral("; 1; 5 "), QStringLiteral("; 2; 6 ") };
    t = Cells(Export(log));
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(
        t[2], QStringList({ "2", "2024-02-29T00:00:02", Off("2024-02-29T00:00:02"), "6", "1" }));

    // Nothing to date the rows by (nor a serial number): the date-time cell is empty, the row
    // keeps its place.
    log.headerList.clear();
    log.logStartTime.clear();
    t = Cells(Export(log));
    EXPECT_EQ(t[1], QStringList({ "1", "", "", "5" }));
}

// A device that takes a number of bytes and then fails, as a full disk does.
class FullDevice : public QIODevice
{
public:
    explicit FullDevice(qint64 room)
        : m_room(room)
    {
        open(QIODevice::WriteOnly);
    }
    qint64 written = 0;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 len) override
    {
        if (written + len > m_room)
            return -1;
        written += len;
        return len;
    }

private:
    qint64 m_room;
};

TEST(LogCsvExport, FailuresSayWhyAndLeaveNoFile)
{
    LogData log;
    LogLoader::LoadBytes(kFullLog, log);
    // Many rows, so the export writes in more than one piece and the second one fails.
    const QString row = log.snapshotList.first();
    for (int i = 0; i < 20000; ++i)
        log.snapshotList.append(row);
    FullDevice full(300 * 1024);
    EXPECT_FALSE(LogCsvExport::Write(log, full));

    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("no/such/folder/out.csv"));
    const QString message = LogCsvExport::WriteFile(log, missing);
    EXPECT_TRUE(message.startsWith(QStringLiteral("Cannot write "))) << qPrintable(message);
    EXPECT_FALSE(QFile::exists(missing));
    // A folder's name as the file: refused, the folder untouched.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    EXPECT_FALSE(LogCsvExport::WriteFile(log, dir.filePath(QStringLiteral("sub"))).isEmpty());
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("sub"))).isDir());

    // A good export replaces an old file whole, with nothing left beside it.
    const QString good = dir.filePath(QStringLiteral("out.csv"));
    WriteFile(good, "old");
    EXPECT_EQ(LogCsvExport::WriteFile(log, good), QString());
    const QByteArray bytes = ReadFile(good);
    EXPECT_TRUE(bytes.startsWith("Line,Date Time,UTC offset,Flow (SCFM)"));
    EXPECT_EQ(bytes.count('\n'), 1 + 3 + 20000);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList { QStringLiteral("out.csv") });
}

// EXPORT CSV on the datalogger form: the file the user names gets the log; a folder that cannot
// be written is said in a message, and nothing is written.
TEST(LogCsvExport, FormButton)
{
    QTemporaryDir dir;
    Datalog view(nullptr);
    view.show();
    ASSERT_EQ(LogLoader::LoadBytes(kFullLog, view.Core().log), LogLoader::Outcome::Rows);
    QString chosen = dir.filePath(QStringLiteral("form.csv"));
    QString offered;
    const auto oldPrompt = Datalog::SetFilePrompt([&](QWidget *, const QString &start) {
        offered = start;
        return chosen;
    });
    QStringList messages;
    const auto oldHandler
        = UserMessage::SetHandler([&](const QString &text, const QString &) { messages << text; });
    view.ButtonOf(Datalog::ExportCsv)->click();
    EXPECT_TRUE(offered.endsWith(QStringLiteral(".csv"))) << qPrintable(offered);
    EXPECT_EQ(Cells(ReadFile(chosen)).size(), 4u);
    EXPECT_TRUE(messages.isEmpty());

    chosen = dir.filePath(QStringLiteral("gone/form.csv"));
    view.ButtonOf(Datalog::ExportCsv)->click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("gone/form.csv"))) << qPrintable(messages[0]);

    // An empty log is not exported.
    view.Core().log.ClearLists();
    chosen = dir.filePath(QStringLiteral("empty.csv"));
    view.ButtonOf(Datalog::ExportCsv)->click();
    EXPECT_FALSE(QFile::exists(chosen));
    EXPECT_EQ(messages.size(), 2);
    if (qEnvironmentVariableIsSet("TARVIK_SHOTS"))
        view.grab().save(qEnvironmentVariable("TARVIK_SHOTS") + QStringLiteral("/datalog.png"));
    Datalog::SetFilePrompt(oldPrompt);
    UserMessage::SetHandler(oldHandler);
}
