#include "datalog/LogLoader.h"

#include "base/ScanText.h"
#include "datalog/LogData.h"

#include <QBuffer>
#include <QFile>

#include <algorithm>
#include <climits>

namespace {

// One line as a text-mode read gives it: CR LF is the line end, a lone CR stays in the line.
// False at the end of the input.
bool NextLine(QIODevice &in, QByteArray *line)
{
    if (in.atEnd())
        return false;
    *line = in.readLine(LogLoader::kMaxLineBytes + 1);
    if (line->isEmpty())
        return false;
    if (line->endsWith("\r\n"))
        line->chop(2);
    else if (line->endsWith('\n'))
        line->chop(1);
    return true;
}

bool IsBlank(const QByteArray &line)
{
    return line.isEmpty() || line.at(0) == '\r' || line.at(0) == '\n';
}

QString Text(const QByteArray &line)
{
    return QString::fromLatin1(line);
}

// A header line may give the snapshot interval and the flow units.
void ExamineHeaderLine(const QByteArray &line, LogData &log)
{
    const int interval = line.indexOf("al = ");
    if (interval >= 0) {
        const qint64 value = ScanText::Int(Text(line.mid(interval + 5))).value_or(0);
        log.intervalSeconds = int(std::clamp<qint64>(value, INT_MIN, INT_MAX));
    }
    const int units = line.indexOf("Flow Units");
    if (units >= 0)
        log.logFlowUnits = Text(line.mid(units + 13, 4));
}

bool HasRow(const QStringList &entries)
{
    return std::any_of(entries.cbegin(), entries.cend(),
        [](const QString &entry) { return entry.startsWith(QLatin1String("; ")); });
}

LogLoader::Outcome LoadLines(QIODevice &in, LogData &log);

} // namespace

LogLoader::Outcome LogLoader::Load(QIODevice &in, LogData &log)
{
    // Lines ended by CR alone (no LF in the whole first block) are read as lines ended by LF.
    const QByteArray head = in.peek(64 * 1024);
    if (head.contains('\r') && !head.contains('\n')) {
        QByteArray all = in.readAll();
        all.replace('\r', '\n');
        QBuffer buffer(&all);
        buffer.open(QIODevice::ReadOnly);
        return LoadLines(buffer, log);
    }
    return LoadLines(in, log);
}

namespace {

LogLoader::Outcome LoadLines(QIODevice &in, LogData &log)
{
    using Outcome = LogLoader::Outcome;
    log.ClearLists();
    const auto outcome
        = [&log] { return HasRow(log.snapshotList) ? Outcome::Rows : Outcome::NoRows; };
    QByteArray line;
    if (!NextLine(in, &line)) // the file name line
        return outcome();
    if (!NextLine(in, &line))
        return outcome();
    const int rate = line.indexOf("Rate = ");
    if (rate >= 0) {
        if (const auto flow = ScanText::Double(Text(line.mid(rate + 7))))
            log.fullScaleFlow = float(*flow);
    }
    if (!NextLine(in, &line))
        return outcome();
    const int time = line.indexOf("Time");
    if (time >= 0)
        log.logStartTime = Text(line.mid(time + 6, 11));
    if (!line.startsWith('"'))
        return outcome();

    // Header lines up to the column header (the first line starting with ";"); the column
    // numbers that stand are those of the column header itself.
    int count = 0;
    while (!line.startsWith(';')) {
        if (count++ >= LogLoader::kMaxLines)
            return outcome();
        log.columns.Clear();
        if (!IsBlank(line))
            log.headerList.append(Text(line));
        if (!NextLine(in, &line))
            return outcome(); // no column header: no rows
        ExamineHeaderLine(line, log);
        log.columns.FromHeaderLine(line);
    }
    log.headerList.append(Text(line));

    // The line after the column header is shown whatever it is, then the rows ("; " lines).
    if (!NextLine(in, &line))
        return outcome();
    log.snapshotList.append(Text(line));
    bool ended = false;
    for (count = 0; count < LogLoader::kMaxLines; ++count) {
        if (!NextLine(in, &line))
            return outcome();
        if (!line.startsWith("; ")) {
            ended = true;
            break;
        }
        log.snapshotList.append(Text(line));
    }
    if (!ended) // the row limit was reached; rows are left out only when more input follows
        return in.atEnd() ? outcome() : Outcome::Cut;

    // The line that ended the rows is passed over; the next two non-blank lines are the stop
    // lines.
    for (int i = 0; i < 2; ++i) {
        if (!NextLine(in, &line))
            return outcome();
        if (!IsBlank(line))
            log.stopList.append(Text(line));
    }
    return outcome();
}

} // namespace

LogLoader::Outcome LogLoader::LoadBytes(const QByteArray &bytes, LogData &log)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return Load(buffer, log);
}

bool LogLoader::LoadFile(const QString &path, LogData &log, Outcome *outcome)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return false;
    const Outcome found = Load(file, log);
    if (outcome)
        *outcome = found;
    return true;
}
