#pragma once

#include "graphs/TrendPlot.h"

#include <QWidget>

class GraphArea;
class ModbusTrend;
class QLabel;
class QPushButton;
class QSpinBox;

// The Modbus window's live trend: one plot of every polled meter's flow over the last minutes
// (a trace per address, named and coloured after it), redrawn when a sweep ends, with the
// graph exports (Export button, right click). The pointer reads each trace's value at its time,
// the wheel zooms the span shown, a drag moves back in time (the newest reading no longer
// followed until the span is dragged back to it). A window of its own, owned by the Modbus
// view, which keeps the data.
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
    QPushButton *CloseButton() const { return m_close; }
    TrendPlot::Window Window() const;
    // How far the right edge lies before the newest reading (0: following it).
    qint64 BackMs() const { return m_backMs; }
    // The readout at a point of the graph area, as the pointer shows it.
    QString ReadingAt(const QPoint &areaPos) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    const ModbusTrend &m_trend;
    GraphArea *m_area = nullptr;
    QSpinBox *m_minutes = nullptr;
    QPushButton *m_close = nullptr;
    QLabel *m_reading = nullptr;
    qint64 m_backMs = 0;
    bool m_dragging = false;
    double m_dragX = 0;
    double PlotX(double areaX) const;
};
