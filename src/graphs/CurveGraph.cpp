#include "graphs/CurveGraph.h"

#include "base/PrintfText.h"
#include "base/ScanText.h"

#include <algorithm>
#include <cmath>

namespace {

const QString kArial = QStringLiteral("Arial");
const QString kArialBlack = QStringLiteral("Arial Black");
constexpr GraphPicture::Color kWhite { 255, 255, 255 };
constexpr GraphPicture::Color kBlack { 0, 0, 0 };
constexpr int kFineSamples = 4001; // x = 0, 0.25, ... 1000
constexpr int kCoarseSamples = 1001; // x = 0, 1, ... 1000

std::vector<double> Numbers(const QStringList &lines, qsizetype count)
{
    std::vector<double> values;
    for (qsizetype i = 0; i < count && i < lines.size(); ++i)
        values.push_back(CurveGraph::Number(lines.at(i)));
    return values;
}

// c0 + c1·u + c2·u² + ..., c0 first.
double Polynomial(const std::vector<double> &c, double u)
{
    double v = 0;
    for (auto it = c.rbegin(); it != c.rend(); ++it)
        v = v * u + *it;
    return v;
}

struct Primary
{
    double zeroOffset = 0;
    double cFactor = 0;
    double cutoff = 0; // volts

    explicit Primary(const CurveSource &s)
        : zeroOffset(CurveGraph::Number(s.zeroOffset))
        , cFactor(CurveGraph::Number(s.cFactor))
        , cutoff(CurveGraph::Number(s.zeroCutoff) / 20)
    {
    }
    double operator()(double u) const
    {
        const double p = (u - zeroOffset) * cFactor;
        return p <= cutoff ? 0.0 : p;
    }
};

} // namespace

double CurveGraph::Number(const QString &text)
{
    return ScanText::Double(text).value_or(0.0);
}

QStringList CurveGraph::PrimaryList(Kind kind, const CurveSource &source)
{
    QStringList lines = source.primary;
    switch (kind) {
    case Kind::QXPolyCurve:
        lines << source.zeroOffset << source.cFactor << source.zeroCutoff;
        break;
    case Kind::PolyCurve:
    case Kind::PolyLine:
    case Kind::QXPolyLine:
        lines << source.cFactor << source.zeroOffset << source.zeroCutoff;
        break;
    }
    return lines;
}

QStringList CurveGraph::SecondaryList(const CurveSource &source)
{
    return source.curveFit == 2 ? source.secondary : QStringList();
}

QStringList CurveGraph::PointWiseList(const CurveSource &source)
{
    return source.curveFit == 3 ? source.pointWise : QStringList();
}

GraphPicture CurveGraph::Frame(GraphPicture::Color background)
{
    GraphPicture picture;
    picture.background = QRectF(QPointF(0, 0), QPointF(1000, -1000));
    picture.backgroundColor = background;
    for (int i = 0; i <= 1000; i += 50) {
        picture.Line(kFineGrid, 1, QPointF(i, 0), QPointF(i, -1000));
        picture.Line(kFineGrid, 1, QPointF(0, -i), QPointF(1000, -i));
    }
    for (int i = 0; i <= 1000; i += 100) {
        picture.Line(kMainGrid, 1, QPointF(i, 0), QPointF(i, -1000));
        picture.Line(kMainGrid, 1, QPointF(0, -i), QPointF(1000, -i));
    }
    return picture;
}

GraphPicture::Polyline CurveGraph::Trace(
    GraphPicture::Color color, double step, const std::vector<double> &values)
{
    GraphPicture::Polyline line { color, kTracePen, { QPointF(0, -1000) } };
    for (size_t i = 0; i < values.size(); ++i) {
        const double y = 200 * values[i];
        if (y >= 0 && y <= 1000) // false for a value that is not a number
            line.points.emplace_back(double(i) * step, y - 1000);
    }
    return line;
}

std::vector<double> CurveGraph::SensorValues(const QStringList &primaryList)
{
    // The coefficients are every line but the last three (the flow parameters).
    const std::vector<double> c
        = Numbers(primaryList, std::max<qsizetype>(0, primaryList.size() - 3));
    std::vector<double> values(kFineSamples);
    for (int i = 0; i < kFineSamples; ++i)
        values[i] = Polynomial(c, i * 0.25 * 0.005);
    return values;
}

GraphPicture CurveGraph::SensorCurve(const QStringList &primaryList)
{
    const GraphPicture::Color text = kWhite; // legible on the black background
    GraphPicture picture = Frame(kBlack);
    for (int x = 0; x <= 1000; x += 100)
        picture.Label(QPointF(x - 25, -1000), PrintfText::Format("%1.1f", x * 0.005), kArial,
            kLabelPoints, text);
    for (int y = -900; y <= 0; y += 100)
        picture.Label(QPointF(-60, y + 30), PrintfText::Format("%1.1f", (y + 1000) * 0.005), kArial,
            kLabelPoints, text);
    picture.Add(Trace(kRed, 0.25, SensorValues(primaryList)));
    picture.Spread(QPointF(-150, 0), QPointF(0, -80), QStringLiteral("OUTPUT VOLTS"), kArialBlack,
        kTitlePoints, text);
    picture.Spread(QPointF(160, -1060), QPointF(70, 0), QStringLiteral("INPUT VOLTS"), kArialBlack,
        kTitlePoints, text);
    return picture;
}

namespace {

// The labels and titles the two linear output graphs share; flow(h) is the flow at h units.
template <typename Flow> void LinearLabels(GraphPicture &picture, Flow flow)
{
    const QString arial = QStringLiteral("Arial");
    const QString black = QStringLiteral("Arial Black");
    const GraphPicture::Color text { 0, 0, 0 };
    const double small = CurveGraph::kLabelPoints;
    const double large = CurveGraph::kTitlePoints;
    for (int x = 0; x <= 1000; x += 100) {
        const double y = (x / 100) % 2 == 0 ? -1040 : -1080; // two staggered rows
        picture.Label(QPointF(x - 45, y), PrintfText::Format("%4.1f", flow(x)), arial, small, text);
    }
    for (int y = -1000; y <= 0; y += 100) {
        const int h = y + 1000;
        picture.Label(
            QPointF(-165, y + 15), PrintfText::Format("%4.1f", flow(h)), arial, small, text);
        picture.Label(
            QPointF(1040, y + 20), PrintfText::Format("%1.1f", h * 0.005), arial, small, text);
        picture.Label(QPointF(1130, y + 20), PrintfText::Format("%1.1f", h * 0.005 * 3.2 + 4),
            arial, small, text);
    }
    picture.Spread(QPointF(1000, 70), QPointF(20, 0), QStringLiteral("Volts"), arial, small, text);
    picture.Spread(QPointF(1120, 70), QPointF(20, 0), QStringLiteral("mAmps"), arial, small, text);
    picture.Spread(
        QPointF(1250, 0), QPointF(0, -60), QStringLiteral("FULL SCALE OUTPUT"), black, large, text);
    picture.Spread(
        QPointF(-240, 0), QPointF(0, -70), QStringLiteral("ADJUSTED FLOw"), black, large, text);
    picture.Spread(
        QPointF(125, -1140), QPointF(70, 0), QStringLiteral("FACTORY FLOW"), black, large, text);
}

} // namespace

std::vector<double> CurveGraph::PrimaryValues(const CurveSource &source)
{
    const Primary p(source);
    std::vector<double> values(kCoarseSamples);
    for (int i = 0; i < kCoarseSamples; ++i)
        values[i] = p(i * 0.005);
    return values;
}

std::vector<double> CurveGraph::SecondaryValues(
    const CurveSource &source, const QStringList &secondaryList)
{
    // Every line of the list but the last two: d0 ... d7 of the ten.
    const std::vector<double> d
        = Numbers(secondaryList, std::max<qsizetype>(0, secondaryList.size() - 2));
    const Primary p(source);
    std::vector<double> values(kFineSamples);
    for (int i = 0; i < kFineSamples; ++i) {
        const double a = p(i * 0.25 * 0.005);
        values[i] = a + a * Polynomial(d, 20 * a) / 100;
    }
    return values;
}

double CurveGraph::PointWiseValue(const std::array<double, 21> &r, double a, double &last)
{
    // The walk starts afresh for every sample: on a rising curve this gives what a walk carried
    // over from sample to sample gives, and on a falling one (a negative C Factor, a negative
    // cutoff) it never divides by a span that is zero or negative.
    const double steps = a / 0.25;
    const int n = std::isfinite(steps) ? int(std::clamp(std::trunc(steps), -1000.0, 1000.0)) : 0;
    int m = 0;
    double k = 0;
    for (int q = 0; q <= 20; ++q) {
        double rq = r[size_t(q)];
        if (rq == 0) {
            if (q != 20)
                continue;
            rq = 0.00001;
        }
        const double c = rq / 100 * (q * 0.25);
        if (q <= n && q > m) {
            m = q;
            k = c;
            continue;
        }
        if (q > n) {
            const double span = 100.0 * (q - m);
            last = a + k + (span > 0 ? (a / 0.0025 - 100.0 * m) * (c - k) / span : 0.0);
            break;
        }
    }
    return last >= 5.0 ? 5.0 : last;
}

std::vector<double> CurveGraph::PointWiseValues(
    const CurveSource &source, const QStringList &pointWiseList)
{
    std::array<double, 21> r {};
    for (int q = 0; q < 21 && q < pointWiseList.size(); ++q)
        r[size_t(q)] = Number(pointWiseList.at(q));
    const Primary p(source);
    double last = 0;
    std::vector<double> values(kFineSamples);
    for (int i = 0; i < kFineSamples; ++i)
        values[i] = PointWiseValue(r, p(i * 0.25 * 0.005), last);
    return values;
}

GraphPicture CurveGraph::LinearOutput(const CurveSource &source, const QStringList &secondaryList,
    const QStringList &pointWiseList, Traces traces)
{
    GraphPicture picture = Frame(kWhite);
    const double fullScale = Number(source.fullScale);
    LinearLabels(picture, [fullScale](int h) { return h * 0.001 * fullScale; });
    if (traces.red)
        picture.Add(Trace(kRed, 1, PrimaryValues(source)));
    if (source.curveFit == 2 && traces.yellow)
        picture.Add(Trace(kYellow, 0.25, SecondaryValues(source, secondaryList)));
    if (source.curveFit == 3 && traces.green)
        picture.Add(Trace(kGreen, 0.25, PointWiseValues(source, pointWiseList)));
    return picture;
}

std::vector<double> CurveGraph::QXValues(const CurveSource &source)
{
    const double cutoff = Number(source.zeroCutoff) / 20;
    std::vector<double> values(kCoarseSamples);
    for (int i = 0; i < kCoarseSamples; ++i) {
        const double u = i * 0.005;
        values[i] = u <= cutoff ? 0.0 : u;
    }
    return values;
}

GraphPicture CurveGraph::QXLinearOutput(const CurveSource &source)
{
    GraphPicture picture = Frame(kWhite);
    const double fullScale = Number(source.fullScale);
    const double cFactor = Number(source.cFactor);
    const double zeroOffset = Number(source.zeroOffset);
    LinearLabels(
        picture, [=](int h) { return h * 0.001 * fullScale * (2 - cFactor) + zeroOffset; });
    picture.Add(Trace(kRed, 1, QXValues(source)));
    return picture;
}
