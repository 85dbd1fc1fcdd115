#include "datalog/LogCsvExport.h"

#include "base/CsvTime.h"
#include "base/ScanText.h"
#include "datalog/ElogPlot.h"
#include "datalog/LogData.h"

#include <QDate>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace {

using Q = ColumnNumbers::Quantity;

// The quantities after the date-time, in a row's order.
constexpr std::array<Q, 6> kValueColumns { ColumnNumbers::Flow, ColumnNumbers::Total,
    ColumnNumbers::High, ColumnNumbers::Low, ColumnNumbers::Relay1, ColumnNumbers::Relay2 };

// Bytes gathered before each write: few calls, and a write error found early.
constexpr qsizetype kChunk = 256 * 1024;

bool IsRow(const QString &entry)
{
    return entry.startsWith(QLatin1String("; "));
}

// A plain decimal number as it stands (the log's own digits), anything else the whole field
// reads as a number reformatted with a point, and an empty cell for what is no number.
QByteArray NumberCell(QStringView field)
{
    const QStringView t = field.trimmed();
    if (t.isEmpty())
        return QByteArray();
    bool plain = true, digit = false, point = false;
    for (qsizetype i = 0; i < t.size() && plain; ++i) {
        const QChar c = t[i];
        if (c.isDigit() && c.unicode() < 128)
            digit = true;
        else if (c == QLatin1Char('.') && !point)
            point = true;
        else if (!(i == 0 && (c == QLatin1Char('-') || c == QLatin1Char('+'))))
            plain = false;
    }
    if (plain && digit)
        return t.toLatin1();
    const auto value = ScanText::WholeDouble(t.toString());
    return value ? QByteArray::number(*value, 'g', 15) : QByteArray();
}

// A relay token is on when it holds "*" ("RL1*"), off when it holds anything else.
QByteArray RelayCell(QStringView field)
{
    const QStringView t = field.trimmed();
    if (t.isEmpty())
        return QByteArray();
    return t.contains(QLatin1Char('*')) ? QByteArrayLiteral("1") : QByteArrayLiteral("0");
}

// Digits at t[from, from + count) as a number, or -1.
int Digits(QStringView t, qsizetype from, qsizetype count)
{
    if (from < 0 || from + count > t.size())
        return -1;
    int n = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t c = t[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        n = n * 10 + (c - u'0');
    }
    return n;
}

// Seconds since midnight of "HH:MM:SS AM" as the logger writes it, read without allocating;
// anything else goes the general way.
int ParseClock(QStringView field)
{
    const QStringView t = field.trimmed();
    if (t.size() == 11 && t[2] == u':' && t[5] == u':' && t[8] == u' ' && t[10] == u'M') {
        const int h = Digits(t, 0, 2), m = Digits(t, 3, 2), sec = Digits(t, 6, 2);
        const bool pm = t[9] == u'P', am = t[9] == u'A';
        if (h >= 1 && h <= 12 && m >= 0 && m <= 59 && sec >= 0 && sec <= 59 && (am || pm))
            return ((h % 12) + (pm ? 12 : 0)) * 3600 + m * 60 + sec;
    }
    return ElogPlot::ParseClock(t.toString());
}

// "MM/DD/YYYY" (a two-digit year counts from 2000).
QDate ParseLogDate(QStringView text)
{
    const QStringView t = text.trimmed();
    if (t.size() == 10 && t[2] == u'/' && t[5] == u'/') {
        const int m = Digits(t, 0, 2), d = Digits(t, 3, 2), y = Digits(t, 6, 4);
        if (m >= 0 && d >= 0 && y >= 0)
            return QDate(y, m, d);
    }
    int m = 0, d = 0, y = 0;
    if (!ScanText::Date(text.trimmed().toString(), &m, &d, &y))
        return QDate();
    if (y >= 0 && y < 100)
        y += 2000;
    return QDate(y, m, d);
}

// What the header lines tell: the start date and time, and the total's units.
struct HeaderFacts
{
    QDate startDate;
    int startSeconds = -1;
    QString totalUnits;
    QString serial;
};

HeaderFacts ReadHeader(const LogData &log)
{
    HeaderFacts facts;
    for (const QString &line : log.headerList) {
        const qsizetype date = line.indexOf(QLatin1String("Start Date: "));
        if (date >= 0 && !facts.startDate.isValid())
            facts.startDate = ParseLogDate(QStringView(line).mid(date + 12, 10));
        const qsizetype time = line.indexOf(QLatin1String("Time: "));
        if (time >= 0 && facts.startSeconds < 0)
            facts.startSeconds = ElogPlot::ParseClock(line.mid(time + 6, 11));
        const qsizetype serial = line.indexOf(QLatin1String("Serial#"));
        if (serial >= 0 && facts.serial.isEmpty())
            facts.serial = line.mid(serial + 7)
                               .section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty)
                               .trimmed();
        const qsizetype total = line.indexOf(QLatin1String("Total Units = "));
        if (total >= 0 && facts.totalUnits.isEmpty())
            facts.totalUnits = line.mid(total + 14).section(QLatin1Char(' '), 0, 0).trimmed();
    }
    if (facts.startSeconds < 0)
        facts.startSeconds = ElogPlot::ParseClock(log.logStartTime);
    return facts;
}

// Fills fields with the views of the row's ";"-separated fields; fields[n] is field number n
// (1 is the row number), as the column numbers count them.
void SplitRow(const QString &row, std::vector<QStringView> &fields)
{
    fields.clear();
    qsizetype start = 0;
    for (qsizetype i = 0; i <= row.size(); ++i) {
        if (i == row.size() || row.at(i) == QLatin1Char(';')) {
            fields.push_back(QStringView(row).mid(start, i - start));
            start = i + 1;
        }
    }
}

} // namespace

QStringList LogCsvExport::HeaderCells(const LogData &log)
{
    const HeaderFacts facts = ReadHeader(log);
    const QString flowUnits = log.logFlowUnits.trimmed();
    const auto withUnits = [](const char *name, const QString &units) {
        return units.isEmpty() ? QString::fromLatin1(name)
                               : QStringLiteral("%1 (%2)").arg(QLatin1String(name), units);
    };
    QStringList cells { QStringLiteral("Line"), QStringLiteral("Date Time"),
        QString::fromLatin1(CsvTime::kOffsetHeader) };
    for (Q q : kValueColumns) {
        if (log.columns.Of(q) <= 0)
            continue;
        switch (q) {
        case ColumnNumbers::Flow:
            cells << withUnits("Flow", flowUnits);
            break;
        case ColumnNumbers::Total:
            cells << withUnits("Total", facts.totalUnits);
            break;
        case ColumnNumbers::High:
            cells << withUnits("High", flowUnits);
            break;
        case ColumnNumbers::Low:
            cells << withUnits("Low", flowUnits);
            break;
        case ColumnNumbers::Relay1:
            cells << QStringLiteral("Relay1");
            break;
        default:
            cells << QStringLiteral("Relay2");
            break;
        }
    }
    if (!facts.serial.isEmpty())
        cells << QStringLiteral("Serial");
    return cells;
}

int LogCsvExport::RowCount(const LogData &log)
{
    return int(std::count_if(log.snapshotList.cbegin(), log.snapshotList.cend(), IsRow));
}

bool LogCsvExport::Write(const LogData &log, QIODevice &out, const CsvDialect &dialect)
{
    QByteArray text = dialect.Preamble();
    text.reserve(kChunk + 4096);
    QList<QByteArray> header;
    for (const QString &cell : HeaderCells(log))
        header << dialect.Text(cell);
    text += dialect.Row(header);
    const char separator = dialect.Separator();

    const HeaderFacts facts = ReadHeader(log);
    const QByteArray serialCell
        = facts.serial.isEmpty() ? QByteArray() : separator + dialect.Text(facts.serial);
    const int dateColumn = log.columns.Of(ColumnNumbers::Date);
    const int timeColumn = log.columns.Of(ColumnNumbers::Time);
    std::vector<std::pair<int, bool>> values; // field number, relay
    for (Q q : kValueColumns) {
        if (log.columns.Of(q) > 0)
            values.emplace_back(
                log.columns.Of(q), q == ColumnNumbers::Relay1 || q == ColumnNumbers::Relay2);
    }

    // A log without a date column takes the start date and moves on a day each time its clock
    // goes back; one without a time column counts the interval from the start.
    QDate day = facts.startDate;
    int lastSeconds = -1;
    std::vector<QStringView> fields;
    const auto field = [&fields](int n) {
        return n > 0 && n < int(fields.size()) ? fields[size_t(n)] : QStringView();
    };
    for (const QString &row : log.snapshotList) {
        if (!IsRow(row))
            continue;
        SplitRow(row, fields);
        const int number = ElogPlot::RowNumber(row);
        text += QByteArray::number(number);
        text += separator;

        // Dates and clock times as logged: no time zone, so no daylight-saving shift.
        QDate date;
        qint64 seconds = -1;
        if (timeColumn > 0) {
            seconds = ParseClock(field(timeColumn));
            date = dateColumn > 0 ? ParseLogDate(field(dateColumn)) : day;
            if (dateColumn <= 0 && seconds >= 0 && lastSeconds >= 0 && seconds < lastSeconds
                && day.isValid()) {
                day = day.addDays(1);
                date = day;
            }
            if (seconds >= 0)
                lastSeconds = int(seconds);
        } else if (facts.startSeconds >= 0) {
            const qint64 since = facts.startSeconds + qint64(number) * log.intervalSeconds;
            date = facts.startDate.addDays(since / 86400);
            seconds = since % 86400;
        }
        text += dialect.Logged(date, seconds >= 0 && seconds < 86400 ? int(seconds) : -1);
        for (const auto &[column, relay] : values) {
            text += separator;
            text += relay ? RelayCell(field(column)) : dialect.Number(NumberCell(field(column)));
        }
        text += serialCell;
        text += dialect.LineEnd();
        if (text.size() >= kChunk) {
            if (out.write(text) != text.size())
                return false;
            text.clear();
        }
    }
    return text.isEmpty() || out.write(text) == text.size();
}

QString LogCsvExport::WriteFile(const LogData &log, const QString &path, const CsvDialect &dialect)
{
    if (path.isEmpty())
        return QStringLiteral("No file name given for the CSV export.");
    QSaveFile file(path);
    // Unbuffered, so that a short write (a full disk) shows at the write that fails.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return QStringLiteral("Cannot write %1\n%2")
            .arg(QFileInfo(path).absoluteFilePath(), file.errorString());
    }
    if (!Write(log, file, dialect)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return QStringLiteral("Could not write the CSV file %1 (the disk may be full); nothing "
                              "was saved.\n%2")
            .arg(QFileInfo(path).absoluteFilePath(), reason);
    }
    if (!file.commit()) {
        return QStringLiteral("Could not save the CSV file %1; nothing was saved.\n%2")
            .arg(QFileInfo(path).absoluteFilePath(), file.errorString());
    }
    return QString();
}
