#include "modbus/ModbusTrend.h"

#include "modbus/ModbusMaster.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

ModbusTrend::ModbusTrend(int capacity)
    : m_panels { Panel(capacity), Panel(capacity), Panel(capacity), Panel(capacity),
        Panel(capacity), Panel(capacity), Panel(capacity), Panel(capacity) }
{
}

ModbusTrend::Panel &ModbusTrend::PanelFor(int panel, const QString &address)
{
    Panel &p = m_panels[size_t(std::clamp(panel, 1, kPanels) - 1)];
    if (p.address != address) {
        p.address = address;
        p.units.clear();
        p.series.Clear();
    }
    return p;
}

void ModbusTrend::Reading(int panel, const QString &address, qint64 ms, double flow)
{
    PanelFor(panel, address).series.Append(ms, flow);
}

void ModbusTrend::Failed(int panel, const QString &address, qint64 ms)
{
    PanelFor(panel, address).series.Append(ms, std::numeric_limits<double>::quiet_NaN());
}

void ModbusTrend::Pause(qint64 ms)
{
    for (Panel &p : m_panels) {
        if (p.series.Size() > 0 && std::isfinite(p.series.Newest().value))
            p.series.Append(ms, std::numeric_limits<double>::quiet_NaN());
    }
}

void ModbusTrend::SetUnits(int panel, const QString &units)
{
    m_panels[size_t(std::clamp(panel, 1, kPanels) - 1)].units = units.trimmed();
}

QString ModbusTrend::Units() const
{
    QStringList units;
    for (const Panel &p : m_panels) {
        if (p.series.Size() > 0 && !p.units.isEmpty() && !units.contains(p.units))
            units << p.units;
    }
    return units.join(QStringLiteral(", "));
}

void ModbusTrend::Clear()
{
    for (Panel &p : m_panels) {
        p.address.clear();
        p.units.clear();
        p.series.Clear();
    }
}

QString ModbusTrend::NameOf(const QString &address)
{
    return QStringLiteral("Address %1").arg(ModbusMaster::AddressValue(address));
}

GraphPicture::Color ModbusTrend::ColorOf(const QString &address)
{
    // Addresses 1 to 8 take the trend's eight colours; higher ones a hue of their own, spread
    // by the golden ratio so that near addresses differ.
    const int a = ModbusMaster::AddressValue(address);
    if (a >= 1 && a <= 8)
        return TrendPlot::ColorOf(a - 1);
    const double h = std::fmod(std::max(a, 0) * 0.6180339887, 1.0) * 6;
    const double f = h - std::floor(h);
    const int hi = 255, lo = 77, down = int(255 - 178 * f), up = int(77 + 178 * f);
    switch (int(h)) {
    case 0:
        return { hi, up, lo };
    case 1:
        return { down, hi, lo };
    case 2:
        return { lo, hi, up };
    case 3:
        return { lo, down, hi };
    case 4:
        return { up, lo, hi };
    default:
        return { hi, lo, down };
    }
}

std::vector<TrendPlot::Trace> ModbusTrend::Traces() const
{
    std::vector<TrendPlot::Trace> traces;
    for (const Panel &p : m_panels) {
        if (p.series.Size() > 0)
            traces.push_back({ &p.series, ColorOf(p.address), NameOf(p.address) });
    }
    return traces;
}

qint64 ModbusTrend::NewestMs() const
{
    qint64 newest = 0;
    for (const Panel &p : m_panels) {
        if (p.series.Size() > 0)
            newest = std::max(newest, p.series.Newest().ms);
    }
    return newest;
}

qint64 ModbusTrend::PointCount() const
{
    qint64 n = 0;
    for (const Panel &p : m_panels)
        n += p.series.Size();
    return n;
}
