// The curve graphs as data: traces, band clipping, labels and the point-wise walk.
#include "graphs/CurveGraph.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

QStringList Coefficients(std::initializer_list<double> c, int count = 10)
{
    QStringList lines;
    for (double v : c)
        lines << QString::number(v, 'e', 8);
    while (lines.size() < count)
        lines << QStringLiteral("0.00000000e+00");
    return lines;
}

// The sensor curve's polyline: the one drawn in red.
const GraphPicture::Polyline *TraceOf(const GraphPicture &picture, GraphPicture::Color color)
{
    const GraphPicture::Polyline *found = nullptr;
    for (const GraphPicture::Polyline &line : picture.lines) {
        if (line.color == color && line.width == CurveGraph::kTracePen) {
            EXPECT_EQ(found, nullptr) << "two traces of one colour";
            found = &line;
        }
    }
    return found;
}
// The polyline points into the picture: a picture that dies with the call would leave it dangling.
const GraphPicture::Polyline *TraceOf(GraphPicture &&picture, GraphPicture::Color color) = delete;

CurveSource KelvaneCurve(const QString &cFactor, const QString &zeroOffset, const QString &cutoff)
{
    CurveSource s;
    s.fullScale = QStringLiteral("80.000000");
    s.cFactor = cFactor;
    s.zeroOffset = zeroOffset;
    s.zeroCutoff = cutoff;
    s.primary = Coefficients({});
    return s;
}

} // namespace

TEST(CurveGraph, SensorCurveTraces)
{
    struct Case
    {
        const char *name;
        std::initializer_list<double> c;
        // Expected y of the polyline at x, for the x where the curve is in the band.
        double (*expected)(double x);
        double firstX, lastX; // in-band samples span
    };
    const Case cases[] = {
        { "all zero lies on the bottom line", {}, [](double) { return -1000.0; }, 0, 1000 },
        { "c1 = 1 is the diagonal", { 0, 1 }, [](double x) { return x - 1000; }, 0, 1000 },
        { "constant 2.5 V", { 2.5 }, [](double) { return -500.0; }, 0, 1000 },
        // 6 - 4u enters the band at u = 0.25 (x 50) and leaves it at u = 1.5 (x 300).
        { "falling line clipped at both ends", { 6, -4 },
            [](double x) { return 200 * (6 - 4 * x * 0.005) - 1000; }, 50, 300 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QStringList list = Coefficients(c.c)
            << QStringLiteral("1.0") << QStringLiteral("0.0") << QStringLiteral("0.0");
        const GraphPicture picture = CurveGraph::SensorCurve(list);
        const GraphPicture::Polyline *trace = TraceOf(picture, CurveGraph::kRed);
        ASSERT_NE(trace, nullptr);
        ASSERT_GE(trace->points.size(), 2u);
        EXPECT_EQ(trace->points.front(), QPointF(0, -1000)); // every trace starts here
        const QPointF &second = trace->points[1];
        const QPointF &last = trace->points.back();
        EXPECT_DOUBLE_EQ(second.x(), c.firstX);
        EXPECT_DOUBLE_EQ(last.x(), c.lastX);
        for (size_t i = 1; i < trace->points.size(); ++i) {
            const QPointF &p = trace->points[i];
            EXPECT_NEAR(p.y(), c.expected(p.x()), 1e-6) << "x " << p.x();
            EXPECT_DOUBLE_EQ(p.x(), c.firstX + (i - 1) * 0.25); // no sample skipped inside
        }
    }
}

TEST(CurveGraph, CurveLeavingTheBandResumesFromItsLastPointInside)
{
    // 4 - 4.8u + 0.96u² is below 0 V between u 1.057 and 3.943.
    const QStringList list = Coefficients({ 4, -4.8, 0.96 })
        << QStringLiteral("1") << QStringLiteral("0") << QStringLiteral("0");
    const GraphPicture picture = CurveGraph::SensorCurve(list);
    const GraphPicture::Polyline *trace = TraceOf(picture, CurveGraph::kRed);
    ASSERT_NE(trace, nullptr);
    int jumps = 0;
    for (size_t i = 1; i < trace->points.size(); ++i) {
        const QPointF &p = trace->points[i];
        EXPECT_GE(p.y(), -1000);
        EXPECT_LE(p.y(), 0);
        const double gap = p.x() - trace->points[i - 1].x();
        if (i > 1 && gap > 0.25) {
            ++jumps;
            // One straight line from the last sample inside to the first one back inside.
            EXPECT_NEAR(trace->points[i - 1].x(), 211.25, 0.01);
            EXPECT_NEAR(p.x(), 788.75, 0.01);
        }
    }
    EXPECT_EQ(jumps, 1);
}

TEST(CurveGraph, ListsInEachDialogsOrder)
{
    CurveSource s
        = KelvaneCurve(QStringLiteral("1.1"), QStringLiteral("0.2"), QStringLiteral("3.3"));
    s.secondary = Coefficients({ 7 });
    s.pointWise = Coefficients({ 0, 1, 2 }, 21);
    const QStringList ten = s.primary;
    const QStringList kelvaneOrder = ten + QStringList { "1.1", "0.2", "3.3" };
    const QStringList quixalOrder = ten + QStringList { "0.2", "1.1", "3.3" };
    EXPECT_EQ(CurveGraph::PrimaryList(CurveGraph::Kind::PolyCurve, s), kelvaneOrder);
    EXPECT_EQ(CurveGraph::PrimaryList(CurveGraph::Kind::PolyLine, s), kelvaneOrder);
    EXPECT_EQ(CurveGraph::PrimaryList(CurveGraph::Kind::QXPolyLine, s), kelvaneOrder);
    EXPECT_EQ(CurveGraph::PrimaryList(CurveGraph::Kind::QXPolyCurve, s), quixalOrder);
    for (int fit = 0; fit <= 3; ++fit) {
        s.curveFit = fit;
        EXPECT_EQ(CurveGraph::SecondaryList(s), fit == 2 ? s.secondary : QStringList()) << fit;
        EXPECT_EQ(CurveGraph::PointWiseList(s), fit == 3 ? s.pointWise : QStringList()) << fit;
    }
}

TEST(CurveGraph, LabelsAndTitles)
{
    CurveSource s = KelvaneCurve(QStringLiteral("1.5"), QStringLiteral("2"), QStringLiteral("0"));
    s.fullScale = QStringLiteral("100");
    const GraphPicture sensor
        = CurveGraph::SensorCurve(CurveGraph::PrimaryList(CurveGraph::Kind::PolyCurve, s));
    const GraphPicture kelvane = CurveGraph::LinearOutput(s, {}, {}, {});
    const GraphPicture quixal = CurveGraph::QXLinearOutput(s);
    struct Case
    {
        const GraphPicture *picture;
        const char *text;
        QPointF pos;
        const char *family;
    };
    const Case cases[] = {
        // Sensor curve: bottom ticks x × 0.005, left ticks from -900 up, no label at the bottom.
        { &sensor, "0.0", { -25, -1000 }, "Arial" },
        { &sensor, "2.5", { 475, -1000 }, "Arial" },
        { &sensor, "0.5", { -60, -870 }, "Arial" },
        { &sensor, "5.0", { -60, 30 }, "Arial" },
        // Kelvane linear output: flow h × 0.001 × 100 in two staggered rows, volts and mA.
        { &kelvane, "10.0", { 55, -1080 }, "Arial" },
        { &kelvane, "100.0", { 955, -1040 }, "Arial" },
        { &kelvane, "50.0", { -165, -485 }, "Arial" },
        { &kelvane, "2.5", { 1040, -480 }, "Arial" },
        { &kelvane, "12.0", { 1130, -480 }, "Arial" },
        { &kelvane, "20.0", { 1130, 20 }, "Arial" },
        { &kelvane, " 0.0", { -45, -1040 }, "Arial" }, // "%4.1f" pads to four
        // Quixal: flow h × 0.001 × 100 × (2 - 1.5) + 2.
        { &quixal, "52.0", { 955, -1040 }, "Arial" },
        { &quixal, "27.0", { -165, -485 }, "Arial" },
        { &quixal, " 2.0", { -45, -1040 }, "Arial" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        bool found = false;
        for (const GraphPicture::Text *t : c.picture->FindTexts(QString::fromLatin1(c.text))) {
            if (t->pos == c.pos) {
                found = true;
                EXPECT_EQ(t->family, QString::fromLatin1(c.family));
                EXPECT_EQ(t->points, CurveGraph::kLabelPoints);
            }
        }
        EXPECT_TRUE(found);
    }
    EXPECT_TRUE(sensor.FindTexts(QStringLiteral("0.0")).size() == 1); // bottom row only

    // Titles one character at a time.
    struct Title
    {
        const GraphPicture *picture;
        const char *text;
        QPointF origin, step;
        double points;
    };
    const Title titles[] = {
        { &sensor, "OUTPUT VOLTS", { -150, 0 }, { 0, -80 }, 40 },
        { &sensor, "INPUT VOLTS", { 160, -1060 }, { 70, 0 }, 40 },
        { &kelvane, "FULL SCALE OUTPUT", { 1250, 0 }, { 0, -60 }, 40 },
        { &kelvane, "ADJUSTED FLOw", { -240, 0 }, { 0, -70 }, 40 },
        { &kelvane, "FACTORY FLOW", { 125, -1140 }, { 70, 0 }, 40 },
        { &quixal, "Volts", { 1000, 70 }, { 20, 0 }, 25 },
        { &quixal, "mAmps", { 1120, 70 }, { 20, 0 }, 25 },
    };
    for (const Title &t : titles) {
        const QString text = QString::fromLatin1(t.text);
        SCOPED_TRACE(t.text);
        for (int i = 0; i < text.size(); ++i) {
            const QPointF at = t.origin + t.step * i;
            bool found = false;
            for (const GraphPicture::Text &label : t.picture->texts)
                found = found
                    || (label.pos == at && label.text == text.mid(i, 1)
                        && label.points == t.points);
            EXPECT_TRUE(found) << "character " << i;
        }
    }
}

TEST(CurveGraph, GridsAndBackgrounds)
{
    const GraphPicture sensor = CurveGraph::SensorCurve(Coefficients({}) << "1"
                                                                         << "0"
                                                                         << "0");
    const GraphPicture linear = CurveGraph::LinearOutput(KelvaneCurve("1", "0", "0"), {}, {}, {});
    EXPECT_EQ(sensor.backgroundColor, (GraphPicture::Color { 0, 0, 0 }));
    EXPECT_EQ(linear.backgroundColor, (GraphPicture::Color { 255, 255, 255 }));
    int fine = 0, main = 0;
    for (const GraphPicture::Polyline &l : linear.lines) {
        if (l.color == CurveGraph::kFineGrid) {
            ++fine;
            EXPECT_EQ(l.width, 1);
        } else if (l.color == CurveGraph::kMainGrid) {
            ++main;
            const QPointF a = l.points.front(), b = l.points.back();
            EXPECT_TRUE(
                (a.x() == b.x() && std::fmod(a.x(), 100) == 0 && a.y() == 0 && b.y() == -1000)
                || (a.y() == b.y() && std::fmod(a.y(), 100) == 0 && a.x() == 0 && b.x() == 1000));
        }
    }
    EXPECT_EQ(fine, 2 * 21);
    EXPECT_EQ(main, 2 * 11);
}

TEST(CurveGraph, LinearTraces)
{
    // Primary (u - 0.5) × 2, zero up to the 10 % cutoff (0.5 V of output).
    CurveSource s = KelvaneCurve(QStringLiteral("2"), QStringLiteral("0.5"), QStringLiteral("10"));
    const std::vector<double> p = CurveGraph::PrimaryValues(s);
    ASSERT_EQ(p.size(), 1001u);
    EXPECT_EQ(p[100], 0.0); // u 0.5 → 0
    EXPECT_EQ(p[150], 0.0); // u 0.75 → 0.5, at the cutoff
    EXPECT_DOUBLE_EQ(p[151], (0.755 - 0.5) * 2);
    EXPECT_DOUBLE_EQ(p[1000], 9.0);

    // Secondary: d0 = 10 (% correction), d8 and d9 are never read.
    s.secondary = Coefficients({ 10, 0, 0, 0, 0, 0, 0, 0, 1000, 1000 });
    s.curveFit = 2;
    const std::vector<double> y = CurveGraph::SecondaryValues(s, s.secondary);
    ASSERT_EQ(y.size(), 4001u);
    EXPECT_DOUBLE_EQ(y[2000], (2.5 - 0.5) * 2 * 1.1);
    // d1 scales with t = 20a.
    s.secondary = Coefficients({ 0, 1 });
    const std::vector<double> y2 = CurveGraph::SecondaryValues(s, s.secondary);
    EXPECT_DOUBLE_EQ(y2[800], 1.0 + 1.0 * 20 / 100); // x 200: u 1 V, a 1 V

    // The pictures hold the traces the flags and the curve-fit code allow.
    s.pointWise = Coefficients({ 0, 1 }, 21);
    struct Case
    {
        int fit;
        CurveGraph::Traces traces;
        bool red, yellow, green;
    };
    const Case cases[] = {
        { 1, { true, true, true }, true, false, false },
        { 2, { true, true, true }, true, true, false },
        { 3, { true, true, true }, true, false, true },
        { 2, { false, true, true }, false, true, false },
        { 3, { false, true, false }, false, false, false },
    };
    for (const Case &c : cases) {
        s.curveFit = c.fit;
        const GraphPicture picture
            = CurveGraph::LinearOutput(s, s.secondary, s.pointWise, c.traces);
        EXPECT_EQ(TraceOf(picture, CurveGraph::kRed) != nullptr, c.red) << c.fit;
        EXPECT_EQ(TraceOf(picture, CurveGraph::kYellow) != nullptr, c.yellow) << c.fit;
        EXPECT_EQ(TraceOf(picture, CurveGraph::kGreen) != nullptr, c.green) << c.fit;
    }
}

TEST(CurveGraph, QuixalCutoffIsFlatToTheTenthOfTheRange)
{
    CurveSource s
        = KelvaneCurve(QStringLiteral("1.3"), QStringLiteral("0.4"), QStringLiteral("10"));
    const GraphPicture picture = CurveGraph::QXLinearOutput(s);
    const GraphPicture::Polyline *trace = TraceOf(picture, CurveGraph::kRed);
    ASSERT_NE(trace, nullptr);
    ASSERT_EQ(trace->points.size(), 1002u);
    for (size_t i = 1; i < trace->points.size(); ++i) {
        const QPointF &p = trace->points[i];
        EXPECT_DOUBLE_EQ(p.x(), double(i - 1));
        EXPECT_NEAR(p.y(), p.x() <= 100 ? -1000 : p.x() - 1000, 1e-9) << p.x();
    }
}

namespace {

// The point-wise rule as written, with its state carried from sample to sample.
std::vector<double> ReferencePointWise(const CurveSource &s, const QStringList &lines)
{
    int m = 0;
    double k = 0, w = 0;
    std::vector<double> out;
    const double cf = s.cFactor.toDouble();
    const double cutoff = s.zeroCutoff.toDouble() / 20;
    for (int i = 0; i <= 4000; ++i) {
        const double u = i * 0.25 * 0.005;
        double a = (u - s.zeroOffset.toDouble()) * cf;
        if (a <= cutoff)
            a = 0;
        const int n = int(a / 0.25);
        for (int q = 0; q <= 20; ++q) {
            double r = lines.at(q).toDouble();
            if (r == 0 && q == 20)
                r = 0.00001;
            else if (r == 0)
                continue;
            const double c = r / 100 * (q * 0.25);
            if (q <= n && q > m) {
                m = q;
                k = c;
            } else if (q > n) {
                w = a + k + (a / 0.0025 - 100 * m) * (c - k) / (100 * (q - m));
                break;
            }
        }
        out.push_back(w >= 5.0 ? 5.0 : w);
    }
    return out;
}

} // namespace

TEST(CurveGraph, PointWiseTraceMatchesTheRuleOnRisingCurves)
{
    struct Case
    {
        const char *cFactor, *zeroOffset, *cutoff;
        QStringList points;
    };
    QStringList sparse = Coefficients({}, 21);
    sparse[4] = "2.5";
    sparse[9] = "-1.25";
    sparse[15] = "4";
    QStringList dense;
    for (int q = 0; q <= 20; ++q)
        dense << QString::number((q % 3 - 1) * 1.5 + 0.25, 'f', 6);
    const Case cases[] = {
        { "1", "0", "0", sparse }, { "1.2", "0.3", "5", dense }, { "0.8", "-0.5", "2", dense },
        { "1", "0", "0", Coefficients({}, 21) }, // all zero: only the end point counts
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.cFactor);
        CurveSource s = KelvaneCurve(QString::fromLatin1(c.cFactor),
            QString::fromLatin1(c.zeroOffset), QString::fromLatin1(c.cutoff));
        const std::vector<double> got = CurveGraph::PointWiseValues(s, c.points);
        const std::vector<double> want = ReferencePointWise(s, c.points);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_NEAR(got[i], want[i], 1e-9) << "sample " << i;
    }
}

TEST(CurveGraph, PointWiseTraceOnFallingCurvesStaysFinite)
{
    QStringList points;
    for (int q = 0; q <= 20; ++q)
        points << QString::number(q == 0 ? 0 : 1.0 + q * 0.1);
    struct Case
    {
        const char *cFactor, *zeroOffset, *cutoff;
    };
    const Case cases[] = {
        { "-1", "2", "0" }, // falls from 2 V to -3 V
        { "-2.5", "1", "-100" }, // a negative cutoff lets negative values through
        { "1", "0", "-100" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.cFactor);
        CurveSource s = KelvaneCurve(QString::fromLatin1(c.cFactor),
            QString::fromLatin1(c.zeroOffset), QString::fromLatin1(c.cutoff));
        s.curveFit = 3;
        for (double v : CurveGraph::PointWiseValues(s, points))
            ASSERT_TRUE(std::isfinite(v));
        const GraphPicture picture = CurveGraph::LinearOutput(s, {}, points, {});
        const GraphPicture::Polyline *green = TraceOf(picture, CurveGraph::kGreen);
        ASSERT_NE(green, nullptr);
        for (const QPointF &p : green->points)
            ASSERT_TRUE(p.y() >= -1000 && p.y() <= 0);
    }
    // A negative value below the first point: no span to divide by, no correction added.
    std::array<double, 21> r {};
    r.fill(1.0);
    double last = 7;
    EXPECT_DOUBLE_EQ(CurveGraph::PointWiseValue(r, -0.6, last), -0.6);
    EXPECT_DOUBLE_EQ(last, -0.6);
}

TEST(CurveGraph, TextsThatAreNotNumbersReadAsZero)
{
    CurveSource s = KelvaneCurve(QStringLiteral("abc"), QString(), QStringLiteral("--"));
    s.fullScale = QStringLiteral("x");
    for (double v : CurveGraph::PrimaryValues(s))
        EXPECT_EQ(v, 0.0);
    const GraphPicture picture = CurveGraph::QXLinearOutput(s);
    EXPECT_EQ(picture.FindTexts(QStringLiteral(" 0.0")).size(), 11u + 11u); // bottom and left rows
}
