#include "datalog/LogLoader.h"

#include "base/DialogueRunner.h"
#include "base/ScanText.h"
#include "datalog/LogData.h"

#include <QBuffer>
#include <QElapsedTimer>
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

// Pauses on runner once the current slice has run kSliceMs or kSliceLines; true to go on,
// false when the load is to end (Cancel). Without a runner it never pauses.
class Slicer
{
public:
    explicit Slicer(DialogueRunner *runner)
        : m_runner(runner)
    {
        m_clock.start();
    }
    // Asked every lines lines.
    bool Due(int lines)
    {
        m_lines += lines;
        return m_runner
            && (m_clock.elapsed() >= LogLoader::kSliceMs || m_lines >= LogLoader::kSliceLines);
    }
    Task<bool> Pause()
    {
        const bool slept = co_await m_runner->Sleep(1);
        m_clock.restart();
        m_lines = 0;
        co_return slept && !m_runner->Cancelled();
    }

private:
    DialogueRunner *m_runner;
    QElapsedTimer m_clock;
    int m_lines = 0;
};

Task<LogLoader::Outcome> LoadLines(QIODevice &in, LogData &log, Slicer &slicer);

} // namespace

LogLoader::Outcome LogLoader::Load(QIODevice &in, LogData &log)
{
    // Without a runner the load never suspends: one resume runs it to its end.
    Task<Outcome> load = LoadInSlices(in, log, nullptr);
    load.Resume();
    return load.Result();
}

Task<LogLoader::Outcome> LogLoader::LoadInSlices(
    QIODevice &in, LogData &log, DialogueRunner *runner)
{
    Slicer slicer(runner);
    // Lines ended by CR alone (no LF in the whole first block) are read as lines ended by LF.
    const QByteArray head = in.peek(64 * 1024);
    if (head.contains('\r') && !head.contains('\n')) {
        QByteArray all = in.readAll();
        all.replace('\r', '\n');
        QBuffer buffer(&all);
        buffer.open(QIODevice::ReadOnly);
        co_return co_await LoadLines(buffer, log, slicer);
    }
    co_return co_await LoadLines(in, log, slicer);
}

namespace {

// How many lines are read between two looks at the slice's clock.
constexpr int kLinesPerLook = 512;

Task<LogLoader::Outcome> LoadLines(QIODevice &in, LogData &log, Slicer &slicer)
{
    using Outcome = LogLoader::Outcome;
    log.ClearLists();
    const auto outcome
        = [&log] { return HasRow(log.snapshotList) ? Outcome::Rows : Outcome::NoRows; };
    QByteArray line;
    if (!NextLine(in, &line)) // the file name line
        co_return outcome();
    if (!NextLine(in, &line))
        co_return outcome();
    const int rate = line.indexOf("Rate = ");
    if (rate >= 0) {
        if (const auto flow = ScanText::Double(Text(line.mid(rate + 7))))
            log.fullScaleFlow = float(*flow);
    }
    if (!NextLine(in, &line))
        co_return outcome();
    const int time = line.indexOf("Time");
    if (time >= 0)
        log.logStartTime = Text(line.mid(time + 6, 11));
    if (!line.startsWith('"'))
        co_return outcome();

    // Header lines up to the column header (the first line starting with ";"); the column
    // numbers that stand are those of the column header itself.
    int count = 0;
    while (!line.startsWith(';')) {
        if (count++ >= LogLoader::kMaxLines)
            co_return outcome();
        if (count % kLinesPerLook == 0 && slicer.Due(kLinesPerLook)) {
            if (!co_await slicer.Pause())
                co_return outcome();
        }
        log.columns.Clear();
        if (!IsBlank(line))
            log.headerList.append(Text(line));
        if (!NextLine(in, &line))
            co_return outcome(); // no column header: no rows
        ExamineHeaderLine(line, log);
        log.columns.FromHeaderLine(line);
    }
    log.headerList.append(Text(line));

    // The line after the column header is shown whatever it is, then the rows ("; " lines).
    if (!NextLine(in, &line))
        co_return outcome();
    log.snapshotList.append(Text(line));
    bool ended = false;
    for (count = 0; count < LogLoader::kMaxLines; ++count) {
        if (!NextLine(in, &line))
            co_return outcome();
        if (!line.startsWith("; ")) {
            ended = true;
            break;
        }
        log.snapshotList.append(Text(line));
        if (count % kLinesPerLook == 0 && slicer.Due(kLinesPerLook)) {
            if (!co_await slicer.Pause())
                co_return outcome();
        }
    }
    if (!ended) // the row limit was reached; rows are left out only when more input follows
        co_return in.atEnd() ? outcome() : Outcome::Cut;

    // The line that ended the rows is passed over; the next two non-blank lines are the stop
    // lines.
    for (int i = 0; i < 2; ++i) {
        if (!NextLine(in, &line))
            co_return outcome();
        if (!IsBlank(line))
            log.stopList.append(Text(line));
    }
    co_return outcome();
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
