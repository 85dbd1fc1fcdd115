// A datalogger export and a Modbus recording converted by LibreOffice Calc (headless) to flat
// OpenDocument: times must come out date-times, offsets text, readings numbers. About 10 s.
#include "datalog/LogCsvExport.h"
#include "datalog/LogData.h"
#include "datalog/LogLoader.h"
#include "modbus/SweepRecorder.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Each row's cells as (value type, shown text), from a flat OpenDocument spreadsheet.
std::vector<std::vector<std::pair<QString, QString>>> Rows(const QString &path)
{
    QFile file(path);
    std::vector<std::vector<std::pair<QString, QString>>> rows;
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    const QString xml = QString::fromUtf8(file.readAll());
    static const QRegularExpression row(
        QStringLiteral("<table:table-row[^>]*>(.*?)</table:table-row>"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression cell(QStringLiteral(
        "<table:table-cell[^>]*office:value-type=\"([a-z]+)\"[^>]*>\\s*<text:p>([^<]*)</text:p>"));
    for (auto r = row.globalMatch(xml); r.hasNext();) {
        const QString body = r.next().captured(1);
        std::vector<std::pair<QString, QString>> cells;
        for (auto c = cell.globalMatch(body); c.hasNext();) {
            const auto m = c.next();
            cells.emplace_back(m.captured(1), m.captured(2));
        }
        if (!cells.empty())
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

TEST(CsvSpreadsheet, TimesReadAsDateTimesAndReadingsAsNumbers)
{
    const QString office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    ASSERT_FALSE(office.isEmpty()) << "scripts/install-deps installs libreoffice-calc";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    LogData log;
    ASSERT_EQ(LogLoader::LoadBytes(kLog, log), LogLoader::Outcome::Rows);
    const QString exported = dir.filePath(QStringLiteral("export.csv"));
    ASSERT_EQ(LogCsvExport::WriteFile(log, exported), QString());
    const QString recorded = dir.filePath(QStringLiteral("recording.csv"));
    {
        SweepRecorder recorder;
        ASSERT_EQ(
            recorder.Start(recorded,
                { { 1, QStringLiteral("1"), QStringLiteral("SCFM"), QStringLiteral("SCF") } }),
            QString());
        for (int s = 0; s < 2; ++s) {
            recorder.BeginSweep(QDateTime::currentDateTime().addSecs(s));
            recorder.Reading(1, QStringLiteral("1"), QStringLiteral(" 25.5"),
                QStringLiteral("1200"), QStringLiteral("21.0"));
            ASSERT_EQ(recorder.EndSweep(), QString());
        }
    }

    QProcess convert;
    convert.setWorkingDirectory(dir.path());
    convert.start(office,
        { QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("profile")),
            QStringLiteral("--headless"), QStringLiteral("--infilter=CSV:44,34,76,1"),
            QStringLiteral("--convert-to"), QStringLiteral("fods"), QStringLiteral("--outdir"),
            dir.path(), exported, recorded });
    ASSERT_TRUE(convert.waitForFinished(120000)) << "LibreOffice did not finish";
    ASSERT_EQ(convert.exitCode(), 0) << convert.readAllStandardError().constData();

    const struct
    {
        const char *file;
        int readings; // number cells after the time and its offset
    } files[] = { { "export.fods", 2 }, { "recording.fods", 3 } };
    for (const auto &f : files) {
        SCOPED_TRACE(f.file);
        const auto rows = Rows(dir.filePath(QLatin1String(f.file)));
        ASSERT_EQ(rows.size(), 3u) << "header and two rows";
        for (size_t r = 1; r < rows.size(); ++r) {
            const auto &cells = rows[r];
            // The export starts with the line number, the recording with the time.
            const size_t time = cells.front().first == QLatin1String("float") ? 1 : 0;
            ASSERT_GE(cells.size(), time + 2 + size_t(f.readings));
            EXPECT_EQ(cells[time].first, QStringLiteral("date")) << qPrintable(cells[time].second);
            EXPECT_EQ(cells[time + 1].first, QStringLiteral("string"));
            for (int k = 0; k < f.readings; ++k)
                EXPECT_EQ(cells[time + 2 + size_t(k)].first, QStringLiteral("float"))
                    << qPrintable(cells[time + 2 + size_t(k)].second);
        }
    }
}
