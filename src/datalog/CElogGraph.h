#pragma once

#include "datalog/ElogPlot.h"

#include <QDialog>

#include <array>

class GraphArea;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QStringListModel;
class QPushButton;

// The E-LOG graph dialog of the datalogger ("GRAPH E-LOG"): the plotted rows in a list, the plot
// with its flow and time axis labels, the statistics and the TIME SCALE and FLOW SCALE controls.
// Modal; the ElogPlot it owns holds the state, this class binds it to the widgets and places the
// axis labels beside the plot's grid lines.
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

protected:
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
};
