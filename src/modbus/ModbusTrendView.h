#pragma once

#include "graphs/TrendPlot.h"

#include <QWidget>

class GraphArea;
class ModbusTrend;
class QSpinBox;

// The Modbus window's live trend: one plot of every polled meter's flow over the last minutes
// (a trace per address, named and coloured after it), redrawn when a sweep ends, with the
// graph exports (Export button, right click). A window of its own, owned by the Modbus view,
// which keeps the data.
class ModbusTrendView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kDefaultMinutes = 5;

    ModbusTrendView(const ModbusTrend &trend, QWidget *parent);

    // Rebuilds the plot for the window that ends at the newest reading.
    void Refresh();
    GraphArea *Area() const { return m_area; }
    QSpinBox *MinutesBox() const { return m_minutes; }
    TrendPlot::Window Window() const;

private:
    const ModbusTrend &m_trend;
    GraphArea *m_area = nullptr;
    QSpinBox *m_minutes = nullptr;
};
