#include "graphs/TrendPlot.h"

#include "base/PrintfText.h"
#include "graphs/TrendSeries.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace {

constexpr GraphPicture::Color kGrid { 0, 0, 160 };
constexpr GraphPicture::Color kFrame { 166, 202, 240 };
constexpr GraphPicture::Color kText { 255, 255, 255 };
const QString kFamily = QStringLiteral("Arial");

// The span of the window's first column before the window: the trace enters from the left edge.
int StartIndex(const TrendSeries &s, TrendPlot::Window w)
{
    const int first = s.FirstAtOrAfter(w.endMs - w.spanMs);
    return std::max(0, first - 1);
}

// A tidy step for the value axis: 1, 2 or 5 times a power of ten.
double NiceStep(double range)
{
    const double raw = range / TrendPlot::kDivisions;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : { 1.0, 2.0, 5.0, 10.0 }) {
        if (raw <= m * power)
            return m * power;
    }
    return 10 * power;
}

} // namespace

GraphPicture::Color TrendPlot::ColorOf(int n)
{
    static constexpr std::array<GraphPicture::Color, 8> colors { { { 255, 64, 64 }, { 64, 220, 64 },
        { 255, 220, 0 }, { 0, 200, 255 }, { 255, 128, 255 }, { 255, 160, 0 }, { 255, 255, 255 },
        { 160, 120, 255 } } };
    return colors[size_t(((n % 8) + 8) % 8)];
}

double TrendPlot::X(qint64 ms, Window window)
{
    const double span = double(std::max<qint64>(1, window.spanMs));
    return std::clamp((double(ms - (window.endMs - window.spanMs))) * kWidth / span, 0.0, kWidth);
}

qint64 TrendPlot::TimeAt(double x, Window window)
{
    const double at = std::clamp(x, 0.0, kWidth) / kWidth;
    return window.endMs - window.spanMs + qint64(std::llround(at * double(window.spanMs)));
}

QString TrendPlot::ReadingAt(const std::vector<Trace> &traces, qint64 ms, qint64 maxGapMs)
{
    QString text = QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss"));
    for (const Trace &t : traces) {
        if (!t.series)
            continue;
        const TrendSeries &s = *t.series;
        // The nearer of the readings either side of ms.
        const int after = s.FirstAtOrAfter(ms);
        int best = -1;
        for (int i : { after - 1, after }) {
            if (i < 0 || i >= s.Size())
                continue;
            if (best < 0 || std::llabs(s.At(i).ms - ms) < std::llabs(s.At(best).ms - ms))
                best = i;
        }
        QString value = QStringLiteral("-");
        if (best >= 0 && std::llabs(s.At(best).ms - ms) <= maxGapMs
            && std::isfinite(s.At(best).value))
            value = PrintfText::Format("%.6g", s.At(best).value);
        text += QStringLiteral("   %1: %2").arg(t.name, value);
    }
    return text;
}

std::pair<double, double> TrendPlot::ValueRange(const std::vector<Trace> &traces, Window window)
{
    double lo = INFINITY, hi = -INFINITY;
    for (const Trace &t : traces) {
        if (!t.series)
            continue;
        t.series->Visit(StartIndex(*t.series, window), [&](int, const TrendSeries::Point &p) {
            if (p.ms > window.endMs)
                return false;
            if (std::isfinite(p.value)) {
                lo = std::min(lo, p.value);
                hi = std::max(hi, p.value);
            }
            return true;
        });
    }
    if (!(lo <= hi))
        return { 0, 1 };
    // Flows start at zero unless they run below it; a flat trace gets room around it.
    lo = std::min(lo, 0.0);
    if (hi - lo < 1e-9)
        hi = lo + 1;
    // Tidy labels: a bottom on a step of 1, 2 or 5 times a power of ten, and the top five steps
    // above it, at or over the highest value.
    double range = hi - lo, step = 1, base = lo;
    for (int i = 0; i < 8; ++i) {
        step = NiceStep(range);
        base = std::floor(lo / step) * step;
        if (base + step * kDivisions >= hi)
            break;
        range = hi - base;
    }
    return { base, base + step * kDivisions };
}

GraphPicture TrendPlot::Build(
    const std::vector<Trace> &traces, Window window, const QString &caption, const QString &unit)
{
    GraphPicture picture;
    picture.background = QRectF(-190, -kHeight - 80, kWidth + 230, kHeight + 150);
    picture.backgroundColor = { 0, 0, 0 };
    for (int k = 0; k <= kDivisions; ++k) {
        const double x = kWidth * k / kDivisions;
        const double y = -kHeight * k / kDivisions;
        picture.Line(kGrid, 2, QPointF(x, 0), QPointF(x, -kHeight));
        picture.Line(kGrid, 2, QPointF(0, y), QPointF(kWidth, y));
    }
    for (const auto &[a, b] : { std::pair { QPointF(0, 0), QPointF(kWidth, 0) },
             { QPointF(0, -kHeight), QPointF(kWidth, -kHeight) },
             { QPointF(0, 0), QPointF(0, -kHeight) },
             { QPointF(kWidth, 0), QPointF(kWidth, -kHeight) } })
        picture.Line(kFrame, 3, a, b);

    const auto [bottom, top] = ValueRange(traces, window);
    const auto y = [&, bottom = bottom, top = top](
                       double v) { return -kHeight + (v - bottom) * kHeight / (top - bottom); };
    // Value labels at the left, time labels below, caption and legend above.
    for (int k = 0; k <= kDivisions; ++k) {
        const double v = bottom + (top - bottom) * k / kDivisions;
        picture.Label(QPointF(-180, -kHeight * (kDivisions - k) / kDivisions + 12),
            PrintfText::Format("%.6g", v), kFamily, kLabelPoints, kText);
        const qint64 ms = window.endMs - window.spanMs + window.spanMs * k / kDivisions;
        picture.Label(QPointF(kWidth * k / kDivisions - 50, -kHeight - 10),
            QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss")), kFamily,
            kLabelPoints, kText);
    }
    picture.Label(QPointF(0, 62), caption, kFamily, kLabelPoints, kText);
    if (!unit.isEmpty())
        picture.Label(QPointF(-180, 48), unit, kFamily, kLabelPoints, kText);
    double legendX = 360;
    for (const Trace &t : traces) {
        picture.Line(t.color, 6, QPointF(legendX, 48), QPointF(legendX + 40, 48));
        picture.Label(QPointF(legendX + 50, 62), t.name, kFamily, kLabelPoints, kText);
        legendX += 90 + 14 * t.name.size();
    }

    // Each trace: per column its first, lowest, highest and last point, in time order, cut at
    // gaps.
    for (const Trace &t : traces) {
        if (!t.series)
            continue;
        const TrendSeries &s = *t.series;
        GraphPicture::Polyline line { t.color, 3, {}, true };
        const auto flush = [&] {
            if (line.points.size() == 1) // a lone reading shows as a dot
                line.points.push_back(line.points.front() + QPointF(1, 0));
            // A dense trace (several points a column) is drawn without smoothing: at that
            // density it looks the same and paints several times faster.
            line.smooth = line.points.size() < size_t(kColumns);
            line.width = line.smooth ? 3 : 2;
            picture.Add(line);
            line.points.clear();
        };
        const double startMs = double(window.endMs - window.spanMs);
        const double perColumn = double(std::max<qint64>(1, window.spanMs)) / kColumns;
        int column = -1;
        int first = -1, low = -1, high = -1, last = -1;
        double lowValue = 0, highValue = 0;
        const auto emitColumn = [&] {
            if (first < 0)
                return;
            std::array<int, 4> order { first, low, high, last };
            std::sort(order.begin(), order.end());
            int previous = -1;
            for (int i : order) {
                if (i == previous)
                    continue;
                previous = i;
                const TrendSeries::Point &p = s.At(i);
                line.points.emplace_back(X(p.ms, window), y(p.value));
            }
            first = low = high = last = -1;
        };
        s.Visit(StartIndex(s, window), [&](int i, const TrendSeries::Point &p) {
            if (p.ms > window.endMs)
                return false;
            if (!std::isfinite(p.value)) {
                emitColumn();
                flush();
                return true;
            }
            const int c
                = int(std::clamp((double(p.ms) - startMs) / perColumn, -1.0, double(kColumns)));
            if (c != column) {
                emitColumn();
                column = c;
            }
            if (first < 0) {
                first = low = high = i;
                lowValue = highValue = p.value;
            }
            if (p.value < lowValue) {
                low = i;
                lowValue = p.value;
            }
            if (p.value > highValue) {
                high = i;
                highValue = p.value;
            }
            last = i;
            return true;
        });
        emitColumn();
        flush();
    }
    return picture;
}
