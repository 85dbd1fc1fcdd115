// An export and a Modbus recording read by LibreOffice Calc: times are date-times, offsets text,
// readings numbers. About 30 s.
#include "datalog/LogCsvExport.h"
#include "datalog/LogData.h"
#include "datalog/LogLoader.h"
#include "modbus/SweepRecorder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Each row's cells as "type text", from a flat OpenDocument spreadsheet.
std::vector<QStringList> SheetRows(const QString &path)
{
    QFile file(path);
    const QString xml
        = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    static const QRegularExpression row(
        QStringLiteral("<table:table-row[^>]*>(.*?)</table:table-row>"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression cell(QStringLiteral(
        "<table:table-cell[^>]*office:value-type=\"([a-z]+)\"[^>]*>\\s*<text:p>([^<]*)</text:p>"));
    std::vector<QStringList> rows;
    for (auto r = row.globalMatch(xml); r.hasNext();) {
        QStringList cells;
        for (auto c = cell.globalMatch(r.next().captured(1)); c.hasNext();) {
            const auto m = c.next();
            cells << m.captured(1) + QLatin1Char(' ') + m.captured(2);
        }
        if (!cells.isEmpty())
            rows.push_back(cells);
    }
    return rows;
}

const QByteArray kLog = "\"Halvren - PC Datalog Filename a.log\r\n"
                        "\"Full Scale Flow Rate = 80.000000\r\n"
                        "\"Serial#  777   Start Date: 12/31/2026   Time: 11:59:50 PM\r\n"
                        "\r\n"
                        "\"Snapshot Interval = 5 secs   Flow Units = SCFM   Total Units = SCF\r\n"
                        "\r\n"
                        "\"Options Selected:\r\r\n"
                        ";Line ; Date ; Time ; Flow ; Total \r\n"
                        "; 1; 12/31/2026 ; 11:59:55 PM ; 12.50   ; 1034 \r\n"
                        "; 2; 01/01/2027 ; 12:00:00 AM ; -7   ; 1035 \r\n"
                        "\r\n"
                        "\"Stop Ocurred 01/01/2027 12:00:07 AM\r\n";

} // namespace

// Each dialect in an English and a German locale (LibreOffice's language 1033 and 1031): times
// are date-times everywhere, readings numbers where the decimal mark is the locale's, and text
// where it is not (the comma dialect in German, the reason the semicolon dialect exists).
TEST(CsvSpreadsheet, TimesReadAsDateTimesAndReadingsAsNumbers)
{
    const QString office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    ASSERT_FALSE(office.isEmpty()) << "scripts/install-deps installs libreoffice-calc";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    LogData log;
    ASSERT_EQ(LogLoader::LoadBytes(kLog, log), LogLoader::Outcome::Rows);
    using K = CsvDialect::Kind;
    const struct
    {
        K dialect;
        int language;
        const char *readings; // the type LibreOffice gives the readings' cells
    } cases[] = {
        { K::Rfc4180, 1033, "float" },
        { K::Excel, 1033, "float" },
        { K::Semicolon, 1031, "float" },
        { K::Rfc4180, 1031, "string" },
        { K::Semicolon, 1033, "string" },
    };
    for (const auto &c : cases) {
        const CsvDialect dialect(c.dialect);
        SCOPED_TRACE(qPrintable(QStringLiteral("%1 in %2").arg(dialect.Name()).arg(c.language)));
        const QString folder
            = dir.filePath(QStringLiteral("%1-%2").arg(dialect.Name()).arg(c.language));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString exported = folder + QStringLiteral("/export.csv");
        ASSERT_EQ(LogCsvExport::WriteFile(log, exported, dialect), QString());
        const QString recorded = folder + QStringLiteral("/recording.csv");
        {
            SweepRecorder recorder;
            ASSERT_EQ(recorder.Start(recorded,
                          { { 1, QStringLiteral("1"), QStringLiteral("SCFM"), QStringLiteral("SCF"),
                              QStringLiteral("20260001") } },
                          dialect),
                QString());
            for (int s = 0; s < 2; ++s) {
                recorder.BeginSweep(QDateTime::currentDateTime().addMSecs(1500 * s));
                recorder.Reading(1, QStringLiteral("1"), QStringLiteral(" 25.5"),
                    QStringLiteral("1200.25"), QStringLiteral("21.0"));
                ASSERT_EQ(recorder.EndSweep(), QString());
            }
        }

        QProcess convert;
        convert.setWorkingDirectory(folder);
        convert.start(office,
            QStringList { QStringLiteral("-env:UserInstallation=file://")
                    + dir.filePath(QStringLiteral("profile")),
                QStringLiteral("--headless"),
                QStringLiteral("--infilter=CSV:%1,34,76,1,,%2")
                    .arg(int(dialect.Separator()))
                    .arg(c.language),
                QStringLiteral("--convert-to"), QStringLiteral("fods"), QStringLiteral("--outdir"),
                folder, exported, recorded });
        ASSERT_TRUE(convert.waitForFinished(120000)) << "LibreOffice did not finish";
        ASSERT_EQ(convert.exitCode(), 0) << convert.readAllStandardError().constData();

        const struct
        {
            const char *file;
            int readings; // reading cells after the time and its offset
        } files[] = { { "export.fods", 2 }, { "recording.fods", 3 } };
        for (const auto &f : files) {
            SCOPED_TRACE(f.file);
            const auto rows = SheetRows(folder + QLatin1Char('/') + QLatin1String(f.file));
            ASSERT_EQ(rows.size(), 3u) << "header and two rows";
            EXPECT_TRUE(rows[0].front().endsWith(QLatin1String(" Line"))
                || rows[0].front().endsWith(QLatin1String(" Time")))
                << "a byte-order mark is no part of the first cell: "
                << qPrintable(rows[0].front());
            for (size_t r = 1; r < rows.size(); ++r) {
                const QStringList &cells = rows[r];
                // The export starts with the line number, the recording with the time.
                const qsizetype time = f.readings == 2 ? 1 : 0;
                ASSERT_GE(cells.size(), time + 2 + f.readings);
                EXPECT_TRUE(cells[time].startsWith(QLatin1String("date ")))
                    << qPrintable(cells[time]);
                EXPECT_TRUE(cells[time + 1].startsWith(QLatin1String("string ")))
                    << qPrintable(cells[time + 1]);
                for (qsizetype k = time + 2; k < time + 2 + f.readings; ++k)
                    EXPECT_TRUE(cells[k].startsWith(QLatin1String(c.readings) + QLatin1Char(' ')))
                        << qPrintable(cells[k]);
            }
        }
    }
}
