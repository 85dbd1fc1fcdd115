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

} // namespace

void LogLoader::Load(QIODevice &in, LogData &log)
{
    log.ClearLists();
    QByteArray line;
    if (!NextLine(in, &line)) // the file name line
        return;
    if (!NextLine(in, &line))
        return;
    const int rate = line.indexOf("Rate = ");
    if (rate >= 0) {
        if (const auto flow = ScanText::Double(Text(line.mid(rate + 7))))
            log.fullScaleFlow = float(*flow);
    }
    if (!NextLine(in, &line))
        return;
    const int time = line.indexOf("Time");
    if (time >= 0)
        log.logStartTime = Text(line.mid(time + 6, 11));
    if (!line.startsWith('"'))
        return;

    // Header lines up to the column header (the first line starting with ";"); the column
    // numbers that stand are those of the column header itself.
    int count = 0;
    while (!line.startsWith(';')) {
        if (count++ >= kMaxLines)
            return;
        log.columns.Clear();
        if (!IsBlank(line))
            log.headerList.append(Text(line));
        if (!NextLine(in, &line))
            return; // no column header: no rows
        ExamineHeaderLine(line, log);
        log.columns.FromHeaderLine(line);
    }
    log.headerList.append(Text(line));

    // The line after the column header is shown whatever it is, then the rows ("; " lines).
    if (!NextLine(in, &line))
        return;
    log.snapshotList.append(Text(line));
    bool ended = false;
    for (count = 0; count < kMaxLines; ++count) {
        if (!NextLine(in, &line))
            return;
        if (!line.startsWith("; ")) {
            ended = true;
            break;
        }
        log.snapshotList.append(Text(line));
    }
    if (!ended)
        return; // the row limit was reached

    // The line that ended the rows is passed over; the next two non-blank lines are the stop
    // lines.
    for (int i = 0; i < 2; ++i) {
        if (!NextLine(in, &line))
            return;
        if (!IsBlank(line))
            log.stopList.append(Text(line));
    }
}

void LogLoader::LoadBytes(const QByteArray &bytes, LogData &log)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    Load(buffer, log);
}

bool LogLoader::LoadFile(const QString &path, LogData &log)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return false;
    Load(file, log);
    return true;
}
