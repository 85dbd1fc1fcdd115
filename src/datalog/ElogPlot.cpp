#include "datalog/ElogPlot.h"

#include "base/PrintfText.h"
#include "base/ScanText.h"
#include "datalog/LogData.h"

#include <algorithm>
#include <cmath>
#include <limits>

const std::array<const char *, 5> ElogPlot::kUnitNames { "Seconds", "Minutes", "Hours", "Days",
    "Weeks" };

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Index just after the column-th ";" of the row and the one character after it, or -1.
int FieldStart(const QString &row, int column)
{
    if (column <= 0)
        return -1;
    int count = 0;
    for (int i = 0; i < row.size(); ++i) {
        if (row.at(i) == QLatin1Char(';') && ++count == column)
            return std::min<int>(i + 2, int(row.size()));
    }
    return -1;
}

// The token from start up to the next blank read as "%f" reads it; NaN when it holds no number
// (or an infinite one).
double TokenNumber(QStringView row, qsizetype start)
{
    qsizetype end = start;
    while (end < row.size() && row[end] != QLatin1Char(' '))
        ++end;
    const auto value = ScanText::Double(row.mid(start, end - start).toString());
    return value && std::isfinite(*value) ? *value : kNaN;
}

// The row's number: its third character up to the next blank, as "%d"; 0 when none.
int NumberOfRow(QStringView row)
{
    qsizetype end = 2;
    while (end < row.size() && row[end] != QLatin1Char(' '))
        ++end;
    const auto n = ScanText::Int(row.mid(2, std::max<qsizetype>(0, end - 2)).toString());
    return n ? int(std::clamp<qint64>(*n, 0, std::numeric_limits<int>::max() / 2)) : 0;
}

// Builds a step line point by point, collapsing each run of points on one vertical into its
// first point, its lowest, its highest and its last as they arrive: the same pixels, but a step
// line over many rows sharing an x costs four points, and a day of rows never lands in memory.
class RunBuilder
{
public:
    explicit RunBuilder(std::vector<QPointF> &out)
        : m_out(out)
    {
    }
    ~RunBuilder() { Flush(); }
    void Add(QPointF p)
    {
        if (m_open && p.x() == m_first.x()) {
            m_last = p;
            m_lo = std::min(m_lo, p.y());
            m_hi = std::max(m_hi, p.y());
            return;
        }
        Flush();
        m_open = true;
        m_first = m_last = p;
        m_lo = m_hi = p.y();
    }
    void Flush()
    {
        if (!m_open)
            return;
        m_open = false;
        const double x = m_first.x();
        // Only the extremes beyond the run's two ends add anything.
        const double a = m_first.y(), b = m_last.y();
        Push(m_first);
        if (m_lo < std::min(a, b))
            Push(QPointF(x, m_lo));
        if (m_hi > std::max(a, b))
            Push(QPointF(x, m_hi));
        Push(m_last);
    }

private:
    void Push(QPointF p)
    {
        if (m_out.empty() || m_out.back() != p)
            m_out.push_back(p);
    }
    std::vector<QPointF> &m_out;
    bool m_open = false;
    QPointF m_first, m_last;
    double m_lo = 0, m_hi = 0;
};

} // namespace

ElogPlot::ElogPlot(Inputs inputs)
    : m_in(std::move(inputs))
{
    // PC logging ends its list with an empty entry after the rows; a loaded log has none, and
    // its last entry is a row like any other.
    const int entries = int(m_in.entries.size());
    const bool trailer = entries > 0 && !m_in.entries.last().startsWith(QLatin1String("; "));
    m_rowCount = trailer ? entries - 1 : entries;
    m_rows = m_in.entries.mid(0, m_rowCount);
    m_parsed.reserve(size_t(m_rowCount));
    for (int i = 0; i < m_rowCount; ++i)
        m_parsed.push_back(ParseRow(m_rows.at(i)));
    UpdateStatistics(0);
    m_top = m_high;
    m_bottom = m_low;
    std::tie(m_range, m_units) = ScaleForSpan(Span());
}

ElogPlot::Parsed ElogPlot::ParseRow(QStringView row) const
{
    Parsed p;
    const int flowColumn = m_in.columns[FlowColumn];
    const int relay1 = m_in.columns[Relay1Column];
    const int relay2 = m_in.columns[Relay2Column];
    const int lastColumn = std::max({ flowColumn, relay1, relay2, 0 });
    // One pass finds where each field the graph reads starts.
    std::array<int, 64> starts;
    starts.fill(-1);
    int count = 0;
    for (qsizetype k = 0; k < row.size() && count < lastColumn; ++k) {
        if (row[k] == QLatin1Char(';')) {
            ++count;
            if (count < int(starts.size()))
                starts[size_t(count)] = int(std::min<qsizetype>(k + 2, row.size()));
        }
    }
    const auto startOf = [&starts](int column) {
        return column > 0 && column < int(starts.size()) ? starts[size_t(column)] : -1;
    };
    p.number = NumberOfRow(row);
    p.flow = startOf(flowColumn) >= 0 ? TokenNumber(row, startOf(flowColumn)) : kNaN;
    // A relay token is on when its fourth character is "*"; a lane starts off when the
    // token's first (column - 1) characters end with "." (relay 1) or ". " (relay 2).
    const auto on = [&](int column) {
        const int at = startOf(column);
        return at >= 0 && at + 3 < row.size() && row[at + 3] == QLatin1Char('*');
    };
    const auto head = [&](int column) {
        const int at = startOf(column);
        return at < 0 ? QStringView() : row.mid(at, column - 1);
    };
    if (relay1 > 0) {
        p.relay1On = on(relay1);
        p.relay1StartsOff = head(relay1).endsWith(QLatin1Char('.'));
    }
    if (relay2 > 0) {
        p.relay2On = on(relay2);
        p.relay2StartsOff = head(relay2).endsWith(QLatin1String(". "));
    }
    return p;
}

void ElogPlot::UpdateStatistics(int from)
{
    for (size_t i = size_t(from); i < m_parsed.size(); ++i) {
        const double flow = m_parsed[i].flow;
        if (std::isnan(flow))
            continue;
        m_maxFlow = m_summed ? std::max(m_maxFlow, flow) : std::max(0.0, flow);
        m_minFlow = m_summed ? std::min(m_minFlow, flow) : std::min(1e13, flow);
        m_sum += flow;
        ++m_summed;
    }
    // The average divides by the rows that were summed; no row with a number: all zero.
    m_high = m_summed ? m_maxFlow : 0;
    m_low = m_summed ? m_minFlow : 0;
    m_average = m_summed ? m_sum / m_summed : 0;
}

int ElogPlot::Append(const QStringList &entries)
{
    const int before = m_rowCount;
    const bool axisOnData = m_top == m_high && m_bottom == m_low;
    for (const QString &entry : entries) {
        if (!entry.startsWith(QLatin1String("; ")))
            continue; // the empty entry that ends a PC log, or anything else that is no row
        m_rows.append(entry);
        m_in.entries.append(entry);
        m_parsed.push_back(ParseRow(entry));
        ++m_rowCount;
    }
    if (m_rowCount == before)
        return 0;
    UpdateStatistics(before);
    // A flow axis still on the data's extremes follows them; one the user set stays.
    if (axisOnData) {
        m_top = m_high;
        m_bottom = m_low;
    }
    // Until the user picks a time scale, the live graph keeps the one the whole log would get,
    // so it looks as the graph of the finished log will.
    if (!m_scaleChosen)
        std::tie(m_range, m_units) = ScaleForSpan(Span());
    if (m_following)
        ScrollToNewest();
    return m_rowCount - before;
}

void ElogPlot::SetFollowing(bool on)
{
    m_following = on;
    if (on)
        ScrollToNewest();
}

void ElogPlot::ScrollToNewest()
{
    if (m_rowCount == 0)
        return;
    const double perRow = m_in.interval * Scale();
    // Rows across the window; with interval 0 every row is at x 0 and nothing scrolls.
    const int across = perRow > 0 ? int(std::min(1e9, 2000 / perRow)) : 0;
    const int newest = m_parsed.back().number;
    m_firstRow = across > 0 ? std::max(0, newest - across) : 0;
    m_selectedRow = 0;
}

void ElogPlot::ScrollBy(int rows)
{
    const int last = m_rowCount > 0 ? m_parsed.back().number : 0;
    m_firstRow = std::clamp(m_firstRow + rows, 0, std::max(0, last - 1));
    m_selectedRow = 0;
}

ElogPlot::Inputs ElogPlot::FromLog(const LogData &log)
{
    Inputs in;
    in.entries = log.snapshotList;
    in.interval = log.intervalSeconds;
    const ColumnNumbers::Quantity order[ColumnCount] = { ColumnNumbers::Date, ColumnNumbers::Time,
        ColumnNumbers::Flow, ColumnNumbers::Total, ColumnNumbers::High, ColumnNumbers::Low,
        ColumnNumbers::Relay1, ColumnNumbers::Relay2 };
    for (int c = 0; c < ColumnCount; ++c)
        in.columns[size_t(c)] = log.columns.Of(order[c]);
    in.fullScale = log.fullScaleFlow;
    in.flowUnits = log.logFlowUnits;
    in.startTime = log.logStartTime;
    if (ParseClock(in.startTime) < 0) {
        for (const QString &line : log.headerList) {
            const qsizetype at = line.indexOf(QLatin1String("Time: "));
            if (at >= 0 && ParseClock(line.mid(at + 6, 11)) >= 0) {
                in.startTime = line.mid(at + 6, 11);
                break;
            }
        }
    }
    return in;
}

std::pair<int, int> ElogPlot::ScaleForSpan(qint64 span)
{
    const auto pick = [span](qint64 unit, std::initializer_list<int> upTo) {
        int index = 0;
        for (int range : upTo) {
            if (span <= range * unit)
                return index;
            ++index;
        }
        return index;
    };
    if (span <= 200) // Seconds: 10 .. 100, else 200
        return { pick(1, { 10, 20, 40, 60, 80, 100 }), 0 };
    if (span <= 6000) // Minutes: 10 .. 80, else 100
        return { pick(60, { 10, 20, 40, 60, 80 }), 1 };
    if (span <= 720000) // Hours
        return { pick(3600, { 10, 20, 40, 60, 80, 100 }), 2 };
    if (span <= 17280000) // Days
        return { pick(86400, { 10, 20, 40, 60, 80, 100 }), 3 };
    return { 2, 4 }; // 40 Weeks
}

int ElogPlot::RowNumber(const QString &row)
{
    return NumberOfRow(row);
}

QString ElogPlot::FieldText(const QString &row, int column, int length)
{
    const int start = FieldStart(row, column);
    if (start < 0)
        return QString();
    return row.mid(start, length);
}

int ElogPlot::ParseClock(const QString &text)
{
    const QString t = text.trimmed();
    const QStringList parts = t.section(QLatin1Char(' '), 0, 0).split(QLatin1Char(':'));
    const QString half = t.section(QLatin1Char(' '), 1, 1).toUpper();
    if (parts.size() != 3 || (half != QLatin1String("AM") && half != QLatin1String("PM")))
        return -1;
    bool ok[3];
    const int h = parts[0].toInt(&ok[0]), m = parts[1].toInt(&ok[1]), s = parts[2].toInt(&ok[2]);
    if (!ok[0] || !ok[1] || !ok[2] || h < 1 || h > 12 || m < 0 || m > 59 || s < 0 || s > 59)
        return -1;
    const int hours = (h % 12) + (half == QLatin1String("PM") ? 12 : 0);
    return hours * 3600 + m * 60 + s;
}

double ElogPlot::Scale() const
{
    return 2000.0 / (double(kRanges[size_t(m_range)]) * kUnitSeconds[size_t(m_units)]);
}

int ElogPlot::X(int number) const
{
    const double x = (double(number) - m_firstRow) * Scale() * m_in.interval;
    if (!(x > 0))
        return 0;
    return x >= 2000 ? 2000 : int(x);
}

double ElogPlot::FlowY(double v) const
{
    double h;
    if (std::isnan(v))
        h = 0;
    else if (m_top == m_bottom) // a flat axis: above it at the top, else at the bottom
        h = v > m_bottom ? 1000 : 0;
    else
        h = std::clamp((v - m_bottom) * 1000 / (m_top - m_bottom), 0.0, 1000.0);
    if (std::isnan(h))
        h = 0;
    return h - 1000;
}

GraphPicture ElogPlot::DrawRequest()
{
    m_firstRow = 0;
    m_selectedRow = 0;
    GraphPicture picture = Plot();
    m_ready = true;
    return picture;
}

GraphPicture ElogPlot::Plot()
{
    GraphPicture picture;
    picture.background = QRectF(0, -1200, 2000, 1200);
    picture.backgroundColor = GraphPicture::Color { 0, 0, 0 };
    for (int x = 0; x <= 2000; x += 200)
        picture.Line(kGrid, kPen, QPointF(x, 0), QPointF(x, -1200));
    for (int y : { 0, -200, -400, -600, -800, -1000, -1100, -1200 })
        picture.Line(kGrid, kPen, QPointF(0, y), QPointF(2000, y));
    for (int y : { -1000, -1200 })
        picture.Line(kEdge, kPen, QPointF(0, y), QPointF(2000, y));

    const bool relay1 = m_in.columns[Relay1Column] > 0;
    const bool relay2 = m_in.columns[Relay2Column] > 0;
    GraphPicture::Polyline trace { kTrace, kPen, {}, false };
    GraphPicture::Polyline lane1 { kTrace, kPen, {}, false };
    GraphPicture::Polyline lane2 { kTrace, kPen, {}, false };
    const bool hasFirst = m_firstRow >= 0 && m_firstRow < m_rowCount;
    double y = m_firstRow == 0 && hasFirst ? FlowY(m_parsed[0].flow) : -1000;
    double level1 = kRelay1On, level2 = kRelay2On;
    if (hasFirst) {
        const Parsed &first = m_parsed[size_t(m_firstRow)];
        level1 = first.relay1StartsOff ? kRelay1Off : kRelay1On;
        level2 = first.relay2StartsOff ? kRelay2Off : kRelay2On;
    }
    {
        RunBuilder traceRun(trace.points), run1(lane1.points), run2(lane2.points);
        traceRun.Add(QPointF(0, y));
        run1.Add(QPointF(0, level1));
        run2.Add(QPointF(0, level2));

        int x = 0;
        for (int i = std::max(0, m_firstRow); i < m_rowCount && x < 2000; ++i) {
            const Parsed &row = m_parsed[size_t(i)];
            const int prevX = x;
            x = X(row.number);
            y = FlowY(row.flow);
            traceRun.Add(QPointF(prevX, y));
            traceRun.Add(QPointF(x, y));
            if (relay1) {
                level1 = row.relay1On ? kRelay1On : kRelay1Off;
                run1.Add(QPointF(prevX, level1));
                run1.Add(QPointF(x, level1));
            }
            if (relay2) {
                level2 = row.relay2On ? kRelay2On : kRelay2Off;
                run2.Add(QPointF(prevX, level2));
                run2.Add(QPointF(x, level2));
            }
            // The cursor: the first row past the middle, until the user selects one.
            if (m_selectedRow == 0) {
                if (prevX <= 1000 && x >= 1000 && x <= 2000)
                    m_cursorRow = m_selectedRow = row.number;
            } else if (row.number == m_selectedRow && x <= 1000) {
                m_cursorRow = m_selectedRow;
            }
        }
    }
    for (GraphPicture::Polyline *line : { &trace, &lane1, &lane2 }) {
        if (line == &trace || (line == &lane1 && relay1) || (line == &lane2 && relay2)) {
            if (line->points.size() == 1)
                line->points.push_back(line->points.front());
            picture.Add(*line);
        }
    }
    const double step = Scale() * m_in.interval;
    const int mark = m_selectedRow != 0 && m_selectedRow < m_cursorRow && m_firstRow == 0
        ? m_selectedRow
        : m_cursorRow;
    const double cx = std::min(1000.0, std::max(0.0, mark * step));
    picture.Line(kCursor, kPen, QPointF(cx, -1200), QPointF(cx, 0));
    return picture;
}

ElogPlot::Labels ElogPlot::MakeLabels() const
{
    Labels labels;
    const int range = kRanges[size_t(m_range)];
    const qint64 unit = kUnitSeconds[size_t(m_units)];
    const int division = range / 10;
    labels.division = PrintfText::Format("%d %s/Div", division, kUnitNames[size_t(m_units)]);
    const int start = ParseClock(m_in.startTime);
    for (int k = 0; k <= 10; ++k) {
        const qint64 offset = k * division * unit + qint64(m_in.interval) * m_firstRow;
        const qint64 t = ((start < 0 ? 0 : start) + offset) % 86400;
        const int h = int(t / 3600), m = int(t / 60 % 60), s = int(t % 60);
        if (start < 0) // no start time: the time since the log began
            labels.times[size_t(k)] = PrintfText::Format("%d:%d:%d", h, m, s);
        else
            labels.times[size_t(k)] = PrintfText::Format(
                "%d:%d:%d %s", h % 12 == 0 ? 12 : h % 12, m, s, h < 12 ? "AM" : "PM");
    }
    // The end labels print the axis ends themselves: bottom + span * 5 / 5 can round one
    // hundredth off the top, and the FLOW SCALE buttons read the axis back from these labels.
    for (int k = 1; k <= 4; ++k)
        labels.flows[size_t(k)] = PrintfText::Format("%.2f", m_bottom + (m_top - m_bottom) * k / 5);
    labels.flows[0] = PrintfText::Format("%.2f", m_bottom);
    labels.flows[5] = PrintfText::Format("%.2f", m_top);
    labels.units = m_in.flowUnits;
    static const char *const names[ColumnCount]
        = { "Date", "Time", "Flow", "Total", "High", "Low", "Relay1", "Relay2" };
    labels.columns[0] = QStringLiteral("Line");
    for (int n = 2; n <= 9; ++n) {
        labels.columns[size_t(n - 1)] = QStringLiteral(" ");
        for (int c = 0; c < ColumnCount; ++c) {
            if (m_in.columns[size_t(c)] == n)
                labels.columns[size_t(n - 1)] = QString::fromLatin1(names[c]);
        }
    }
    labels.interval = PrintfText::Format("Snapshot Interval Each %d Seconds", m_in.interval);
    labels.high = PrintfText::Format("%.3f", m_high);
    labels.average = PrintfText::Format("%.3f", m_average);
    labels.low = PrintfText::Format("%.3f", m_low);
    return labels;
}

void ElogPlot::SelectRow(int index)
{
    if (index < 0 || index >= m_rowCount)
        return;
    const int number = m_parsed[size_t(index)].number;
    const double perRow = m_in.interval * Scale();
    // Rows in half the window; none when the interval is 0.
    const int half = perRow > 0 ? int(std::min(1e9, 1000 / perRow)) : 0;
    const double x = (double(number) - m_firstRow) * Scale() * m_in.interval;
    if (number > m_cursorRow)
        m_firstRow = x > 1000 ? std::max(0, number - half) : 0;
    else if (number < m_cursorRow)
        m_firstRow = std::max(0, m_firstRow + number - m_cursorRow);
    else
        m_firstRow = 0;
    m_selectedRow = number;
}

void ElogPlot::SetScale(int rangeIndex, int unitsIndex)
{
    m_scaleChosen = true;
    m_range = std::clamp(rangeIndex, 0, int(kRanges.size()) - 1);
    m_units = std::clamp(unitsIndex, 0, int(kUnitSeconds.size()) - 1);
}

bool ElogPlot::ZoomOut()
{
    m_scaleChosen = true;
    if (m_range < int(kRanges.size()) - 1)
        ++m_range;
    else if (m_units < int(kUnitSeconds.size()) - 1) {
        m_range = 0;
        ++m_units;
    } else
        return false;
    return true;
}

bool ElogPlot::ZoomIn()
{
    m_scaleChosen = true;
    if (m_range > 0)
        --m_range;
    else if (m_units > 0) {
        m_range = int(kRanges.size()) - 1;
        --m_units;
    } else
        return false;
    return true;
}

bool ElogPlot::TimeFull()
{
    if (!m_ready)
        return false;
    m_scaleChosen = false;
    std::tie(m_range, m_units) = ScaleForSpan(Span());
    return true;
}

void ElogPlot::AxisFromLabels()
{
    const Labels labels = MakeLabels();
    m_top = ScanText::Double(labels.flows[5]).value_or(m_top);
    m_bottom = ScanText::Double(labels.flows[0]).value_or(m_bottom);
}

bool ElogPlot::Press(FlowButton button)
{
    const double f = m_in.fullScale;
    const double oldTop = m_top, oldBottom = m_bottom;
    if (button != FlowButton::Auto && button != FlowButton::Full)
        AxisFromLabels();
    double top = m_top, bottom = m_bottom;
    switch (button) {
    case FlowButton::ZoomIn: {
        const double d = top * 0.01;
        if (bottom + d < top - d) {
            bottom += d;
            top -= d;
        }
        break;
    }
    case FlowButton::ZoomOut: {
        const double d = top * 0.01;
        top = std::min(top + d, f);
        bottom = std::max(bottom - d, 0.0);
        break;
    }
    case FlowButton::Auto:
        top = ScanText::Double(PrintfText::Format("%.3f", m_high)).value_or(m_high);
        bottom = ScanText::Double(PrintfText::Format("%.3f", m_low)).value_or(m_low);
        break;
    case FlowButton::Full:
        top = f;
        bottom = 0;
        break;
    case FlowButton::HighPlus:
        top = std::min(top + f * 0.01, f);
        break;
    case FlowButton::HighMinus:
        if (!(top - f * 0.01 < bottom))
            top -= f * 0.01;
        break;
    case FlowButton::LowPlus:
        if (!(bottom + f * 0.01 > top))
            bottom += f * 0.01;
        break;
    case FlowButton::LowMinus:
        bottom = std::max(bottom - f * 0.01, 0.0);
        break;
    case FlowButton::Up: {
        const double d = top * 0.001;
        if (!(bottom - d < 0)) {
            bottom -= d;
            top -= d;
        }
        break;
    }
    case FlowButton::Down: {
        const double d = top * 0.001;
        if (!(top + d > f)) {
            bottom += d;
            top += d;
        }
        break;
    }
    }
    m_top = top;
    m_bottom = bottom;
    return m_top != oldTop || m_bottom != oldBottom;
}
