#pragma once

#include "graphs/TrendPlot.h"
#include "graphs/TrendSeries.h"

#include <QString>

#include <array>
#include <vector>

// The Modbus network's live flow trend, GUI-free: a ring of flow readings per panel (bounded by
// TrendSeries' capacity, the oldest dropped) with the address it was read from. A failed reading
// is a gap in the trace, and so is a pause in polling (Pause, when polling starts again): a trace
// never joins readings across time nobody looked. Giving a panel another address starts its trace
// afresh. The trace is named and coloured after its address, so a meter keeps its colour wherever
// it sits; the value axis names the flow units the panels' meters told.
class ModbusTrend
{
public:
    static constexpr int kPanels = 8;

    explicit ModbusTrend(int capacity = TrendSeries::kDefaultCapacity);

    void Reading(int panel, const QString &address, qint64 ms, double flow);
    void Failed(int panel, const QString &address, qint64 ms);
    // Polling starts again after a stop: every trace breaks at ms, so what comes next is not
    // joined to what came before.
    void Pause(qint64 ms);
    // The flow units a panel's meter told (its static data); empty while unknown.
    void SetUnits(int panel, const QString &units);
    // The value axis' unit: the units of the traces shown, "SCFM" or "SCFM, LBPM" when they
    // differ; empty when no meter told its units.
    QString Units() const;
    void Clear();

    const TrendSeries &Series(int panel) const { return m_panels[size_t(panel - 1)].series; }
    QString Address(int panel) const { return m_panels[size_t(panel - 1)].address; }
    // The traces that hold points, in panel order, for TrendPlot.
    std::vector<TrendPlot::Trace> Traces() const;
    // The newest time of any trace (0 when none).
    qint64 NewestMs() const;
    // Points held, all traces together.
    qint64 PointCount() const;
    static QString NameOf(const QString &address);
    static GraphPicture::Color ColorOf(const QString &address);

private:
    struct Panel
    {
        explicit Panel(int capacity)
            : series(capacity)
        {
        }
        QString address;
        QString units;
        TrendSeries series;
    };
    Panel &PanelFor(int panel, const QString &address);

    std::array<Panel, kPanels> m_panels;
};
