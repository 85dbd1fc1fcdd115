#pragma once

#include "graphs/TrendPlot.h"
#include "graphs/TrendSeries.h"

#include <QString>

#include <array>
#include <vector>

// The Modbus network's live flow trend, GUI-free: a ring of flow readings per panel (bounded by
// TrendSeries' capacity, the oldest dropped) with the address it was read from. A failed reading
// is a gap in the trace; giving a panel another address starts its trace afresh. The trace is
// named and coloured after its address, so a meter keeps its colour wherever it sits.
class ModbusTrend
{
public:
    static constexpr int kPanels = 8;

    explicit ModbusTrend(int capacity = TrendSeries::kDefaultCapacity);

    void Reading(int panel, const QString &address, qint64 ms, double flow);
    void Failed(int panel, const QString &address, qint64 ms);
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
        TrendSeries series;
    };
    Panel &PanelFor(int panel, const QString &address);

    std::array<Panel, kPanels> m_panels;
};
