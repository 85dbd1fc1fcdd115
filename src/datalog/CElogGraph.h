#pragma once

#include "datalog/ElogPlot.h"

#include <QDialog>

#include <array>

class GraphArea;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QStringListModel;
class QPushButton;

// The E-LOG graph dialog of the datalogger ("GRAPH E-LOG"): the plotted rows in a list, the plot
// with its flow and time axis labels, the statistics and the TIME SCALE and FLOW SCALE controls.
// Modal for a finished log. While PC logging runs the datalogger opens it live instead
// (non-modal): rows are appended as snapshots arrive and the plot follows the newest one until
// the user scrolls back (a row selected, a drag), which "Follow newest" undoes. The mouse reads
// the plot: hovering shows the time and flow under the pointer, the wheel zooms the time scale
// around the pointer, dragging scrolls. The ElogPlot it owns holds the state, this class binds
// it to the widgets and places the axis labels beside the plot's grid lines.
class CElogGraph : public QDialog
{
    Q_OBJECT
public:
    explicit CElogGraph(ElogPlot::Inputs inputs, QWidget *parent = nullptr);
    ~CElogGraph() override;

    const ElogPlot &Plot() const { return m_plot; }
    GraphArea *Area() const { return m_area; }
    QListView *RowList() const { return m_rows; }
    int RowCount() const;
    // Makes a row of the list current, as clicking it does.
    void SelectRow(int row);
    QLabel *FlowLabel(int k) const { return m_flow[size_t(k)]; }
    QLabel *TimeLabel(int k) const { return m_time[size_t(k)]; }
    QLabel *ColumnLabel(int n) const { return m_columns[size_t(n)]; }
    QLabel *DivisionLabel() const { return m_division; }
    QLabel *IntervalLabel() const { return m_interval; }
    QLabel *UnitsLabel() const { return m_unitsLabel; }
    QComboBox *RangeCombo() const { return m_rangeCombo; }
    QComboBox *UnitsCombo() const { return m_unitsCombo; }
    QLineEdit *HighEdit() const { return m_high; }
    QLineEdit *AverageEdit() const { return m_average; }
    QLineEdit *LowEdit() const { return m_low; }
    // The plot with its labels, as exports take it.
    QWidget *PlotPanel() const { return m_plotPanel; }

    // A draw request of the graph area: from the first row, no selection.
    void DrawRequest();

    // Live mode: the graph grows with the log and follows its newest row.
    void SetLive();
    bool IsLive() const { return m_live; }
    // The log the graph shows (its file name or the meter's serial), for an export's title line.
    void SetLogName(const QString &name)
    {
        m_logName = name;
        ShowLabels();
    }
    // Adds the rows among entries (a PC log's new snapshot entries) and redraws.
    void AppendEntries(const QStringList &entries);
    QCheckBox *FollowBox() const { return m_follow; }
    // What the pointer reads: "time  flow units" of the row under x (area pixels); empty when
    // no row is there.
    // Shows (or hides) the reading of the row under a point of the plot area.
    void ShowReadingAt(const QPoint &areaPos);
    QString ReadingAt(double areaX) const;
    QLabel *ReadingLabel() const { return m_reading; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void done(int result) override;

private:
    QWidget *BuildPlotPanel();
    QWidget *BuildTimeScale();
    QWidget *BuildFlowScale();
    QPushButton *Button(const QString &text, const char *name, QWidget *parent);
    void Redraw();
    void ShowLabels();
    void ShowScale();
    void PlaceAxisLabels();
    void OnRowSelected(int index);
    void OnComboChanged();
    void OnFlowButton(ElogPlot::FlowButton button);

    ElogPlot m_plot;
    QString m_logName;
    GraphArea *m_area = nullptr;
    QWidget *m_plotPanel = nullptr;
    QListView *m_rows = nullptr;
    QStringListModel *m_rowModel = nullptr;
    std::array<QLabel *, 9> m_columns {};
    std::array<QLabel *, 6> m_flow {};
    std::array<QLabel *, 11> m_time {};
    std::array<QLabel *, 4> m_relayCaptions {};
    QLabel *m_unitsLabel = nullptr;
    QLabel *m_division = nullptr;
    QLabel *m_interval = nullptr;
    QComboBox *m_rangeCombo = nullptr;
    QComboBox *m_unitsCombo = nullptr;
    QLineEdit *m_high = nullptr;
    QLineEdit *m_average = nullptr;
    QLineEdit *m_low = nullptr;
    QPushButton *m_export = nullptr;
    QCheckBox *m_follow = nullptr;
    QLabel *m_reading = nullptr;
    bool m_live = false;
    // A drag in progress: the pointer's x where it last moved the plot (area pixels).
    bool m_dragging = false;
    double m_dragX = 0;
    double m_dragRest = 0; // the part of a row not yet scrolled
    // Row index under an area x, or -1.
    int RowAt(double areaX) const;
    void ScrolledByUser();
};
