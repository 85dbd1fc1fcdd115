#include "meter/UnitConversion.h"
#include "base/PrintfText.h"

#include <cmath>

namespace {

constexpr double kF[31] = { 1.0, 1200.0, 20.0, 72000.0, 1728000.0, -1.0, 1.0, 10.764285147,
    0.0010764, 0.00694444, 60.0, 0.075, 4.5, 108.0, 0.0166666, 28.316846592, 28316.846592,
    1.69901079552, 0.028316846592, 1699.01079552, 283168.46592, 1440000.0, 60000.0, 0.03401942775,
    2.041165665, 0.00056698819453815, 0.00508012634608, 0.3048088, 18.288528, 1728.0, 103680.0 };

constexpr double kG[23] = { 1.0, 1200.0, 20.0, 72000.0, -1.0, 1.0, 10.764, 0.0011, 60.0, 0.075, 4.5,
    0.0166666, 28.316846592, 28316.846592, 1.69901079552, 0.028316846592, 1699.01079552,
    0.03401942775, 2.041165665, 0.00056698819453815, 0.00508012634608, 0.3048088, 18.288528 };

constexpr int kAreaF[32] = { 6, 6, 6, 6, 9, 9, 6, 6, 5, 5, 6, 6, 5, 5, 5, 5, 7, 8, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 7, 8, 7, 5 };
constexpr int kFlowF[32] = { 6, 10, 11, 12, 29, 30, 6, 13, 6, 14, 22, 21, 6, 6, 6, 6, 15, 20, 17,
    18, 23, 24, 25, 19, 26, 27, 28, 17, 15, 20, 19, 6 };
constexpr int kAreaG[32] = { 5, 5, 5, 5, 5, 5, 5, 5, 4, 4, 4, 4, 4, 4, 4, 4, 6, 7, 6, 6, 6, 6, 6, 6,
    4, 4, 4, 4, 4, 4, 4, 4 };
constexpr int kFlowG[32] = { 5, 8, 9, 10, 5, 5, 5, 5, 5, 11, 5, 5, 5, 5, 5, 5, 12, 13, 14, 15, 17,
    18, 19, 16, 20, 21, 22, 5, 5, 5, 5, 5 };

// A units code from a file may exceed 31; the list entry reads codes modulo 32, so does this.
int Code(int units)
{
    return units & 31;
}

bool RevisionIs(const UnitConversion::Context &c, char letter)
{
    return !c.revision.isEmpty() && c.revision.at(0) == QLatin1Char(letter);
}

// The cross-section factor of the older metric units: 0.0011 for code 17, else 10.764.
double MetricArea(int u)
{
    return u == 17 ? 0.0011 : 10.764;
}

} // namespace

double UnitConversion::F(int index)
{
    return index >= 0 && index < 31 ? kF[index] : 1.0;
}

double UnitConversion::G(int index)
{
    return index >= 0 && index < 23 ? kG[index] : 1.0;
}

int UnitConversion::AreaF(int units)
{
    return kAreaF[Code(units)];
}

int UnitConversion::FlowF(int units)
{
    return kFlowF[Code(units)];
}

int UnitConversion::AreaG(int units)
{
    return kAreaG[Code(units)];
}

int UnitConversion::FlowG(int units)
{
    return kFlowG[Code(units)];
}

double UnitConversion::XSectDivisor(const Context &c)
{
    const int u = Code(c.units);
    if (IsCurrent(c))
        return std::fabs(F(AreaF(u)));

    const bool meter40A = c.meterVersion == QLatin1String("4.0A");
    const bool meter40B = c.meterVersion == QLatin1String("4.0B");
    const bool revA = RevisionIs(c, 'A') && meter40A;
    // A 4.0A meter of revision E holds metric cross-sections scaled once more.
    const double revE = RevisionIs(c, 'E') && meter40A && u > 15 && u <= 23 ? MetricArea(u) : 1.0;

    if (revA && (u == 28 || u == 29 || u == 30))
        return 1.0;
    if (revA && u != 25)
        return std::fabs(G(AreaG(u)));
    if ((c.docVersion == QLatin1String("3.9G") && u > 15) || (meter40B && u > 15 && u < 24))
        return revE * MetricArea(u);
    return revE;
}

double UnitConversion::RangeFactor(const Context &c, double x)
{
    const int u = Code(c.units);
    if (IsCurrent(c)) {
        const double a = F(AreaF(u));
        const double f = F(FlowF(u));
        if (u == 24 || u == 25 || u == 26 || a == -1.0)
            return f;
        return f * x;
    }

    const bool revA = RevisionIs(c, 'A') && c.meterVersion == QLatin1String("4.0A");
    double m;
    if (revA && u == 7)
        m = 4.5 * x * 24;
    else if (revA && (u == 28 || u == 29 || u == 30))
        m = x * 28.316846592 * 10.764 * (u == 30 ? 60.0 : 1.0);
    else if (revA && (u == 24 || u == 25 || u == 26))
        m = G(FlowG(u)) * x * 10.764;
    else if (revA && u == 17)
        m = x / 0.0011 * 28.316846592 * 10.764;
    else if (revA && (u == 10 || u == 11))
        m = x * 1000 * (u == 11 ? 60.0 : 1.0);
    else if (revA && (u == 8 || u == 9))
        m = u == 9 ? x / 60 : x;
    else
        m = G(AreaG(u)) != -1.0 ? G(FlowG(u)) * x : G(FlowG(u));
    if (revA && (u == 4 || u == 5))
        m *= u == 5 ? 12.0 * 60.0 : 12.0;
    return m;
}

double UnitConversion::XSectShown(const Context &c, double x)
{
    return std::fabs(x) / XSectDivisor(c);
}

double UnitConversion::XSectStored(const Context &c, double shown)
{
    return shown * XSectDivisor(c);
}

double UnitConversion::RangeShown(const Context &c, double stored, double x)
{
    return stored * RangeFactor(c, x);
}

std::optional<double> UnitConversion::RangeStored(const Context &c, double shown, double x)
{
    const double m = RangeFactor(c, x);
    if (m == 0.0 || !std::isfinite(m))
        return std::nullopt;
    return shown / m;
}

QString UnitConversion::XSectText(const Context &c, double x)
{
    return PrintfText::Format(IsCurrent(c) ? "%f" : "%1.6f", XSectShown(c, x));
}

QString UnitConversion::RangeText(const Context &c, double stored, double x)
{
    const int u = Code(c.units);
    const bool sixDecimals = !IsCurrent(c) || u == 24 || u == 25 || u == 26;
    return PrintfText::Format(sixDecimals ? "%1.6f" : "%f", RangeShown(c, stored, x));
}
