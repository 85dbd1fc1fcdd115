#pragma once

#include "graphs/GraphPicture.h"

#include <QString>
#include <QStringList>

#include <array>
#include <vector>

class LogData;

// The E-LOG graph without its window: the rows of a log, their statistics, the time and flow
// scales, scrolling and the cursor, the plot as a GraphPicture (x 0..2000, y 0..-1200) and the
// texts of every axis label. CElogGraph owns one and binds its buttons and labels to it.
class ElogPlot
{
public:
    // The column numbers' order, as the logger keeps them.
    enum Column {
        DateColumn,
        TimeColumn,
        FlowColumn,
        TotalColumn,
        HighColumn,
        LowColumn,
        Relay1Column,
        Relay2Column,
        ColumnCount
    };

    // What the graph reads from the datalogger when it opens.
    struct Inputs
    {
        QStringList entries; // the form's snapshot list; its last entry is not plotted
        int interval = 5; // snapshot interval, seconds
        std::array<int, ColumnCount> columns {}; // 1-based field numbers, 0 = absent
        double fullScale = 80;
        QString flowUnits;
        QString startTime; // "HH:MM:SS AM"; anything else labels the time axis from 0
    };

    struct Labels
    {
        QString division; // "%d %s/Div"
        std::array<QString, 11> times;
        std::array<QString, 6> flows; // bottom to top
        QString units;
        std::array<QString, 9> columns;
        QString interval;
        QString high, average, low; // the statistic edits, "%.3f"
    };

    static constexpr std::array<int, 7> kRanges { 10, 20, 40, 60, 80, 100, 200 };
    static const std::array<const char *, 5> kUnitNames;
    static constexpr std::array<int, 5> kUnitSeconds { 1, 60, 3600, 86400, 604800 };

    static constexpr GraphPicture::Color kGrid { 0, 0, 255 };
    static constexpr GraphPicture::Color kEdge { 166, 202, 240 };
    static constexpr GraphPicture::Color kTrace { 200, 0, 0 };
    static constexpr GraphPicture::Color kCursor { 0, 255, 0 };
    static constexpr double kPen = 8;
    static constexpr int kRelay1On = -1050, kRelay1Off = -1100, kRelay2On = -1150,
                         kRelay2Off = -1200;

    // What the datalogger's log gives the graph. The start time is the loaded log's; a log
    // written by PC logging and not loaded takes it from its header's "Time: " line.
    static Inputs FromLog(const LogData &log);

    // Opening: the rows, their statistics and the time scale chosen by the span.
    explicit ElogPlot(Inputs inputs);

    const QStringList &Rows() const { return m_rows; }
    int RowCount() const { return m_rowCount; }
    double High() const { return m_high; }
    double Low() const { return m_low; }
    double Average() const { return m_average; }
    double AxisTop() const { return m_top; }
    double AxisBottom() const { return m_bottom; }
    int RangeIndex() const { return m_range; }
    int UnitsIndex() const { return m_units; }
    int FirstRow() const { return m_firstRow; }
    int SelectedRow() const { return m_selectedRow; }
    int CursorRow() const { return m_cursorRow; }
    bool GraphReady() const { return m_ready; }
    const Inputs &Input() const { return m_in; }

    // Range and Units item indexes for a span in seconds.
    static std::pair<int, int> ScaleForSpan(qint64 span);
    qint64 Span() const { return qint64(m_rowCount) * m_in.interval; }
    // Logical x per second at the time scale in force.
    double Scale() const;

    // A draw request of the graph area: from the first row with no selection; the graph is
    // ready afterwards.
    GraphPicture DrawRequest();
    // The plot as the state stands (scale and selection changes redraw this way).
    GraphPicture Plot();
    Labels MakeLabels() const;
    void Close() { m_ready = false; }

    // Live graph of a growing log: adds the rows among entries (other entries are passed over),
    // updates the statistics (and a flow axis still on the data's extremes) and, while
    // following, scrolls so the newest row is at the right edge. Returns the rows added.
    int Append(const QStringList &entries);
    // Following the newest row: on until the user scrolls or selects a row.
    void SetFollowing(bool on);
    bool Following() const { return m_following; }
    void ScrollToNewest();
    // Scrolls the time axis by rows (negative: back), within the log.
    void ScrollBy(int rows);

    // Selection of the row at list position index: scrolls so that the row shows and marks it.
    void SelectRow(int index);
    // Time scale: the combos and the zoom buttons. Each returns whether the scale changed.
    void SetScale(int rangeIndex, int unitsIndex);
    bool ZoomOut();
    bool ZoomIn();
    bool TimeFull();
    // Flow scale buttons; each returns whether the axis changed.
    enum class FlowButton {
        ZoomIn,
        ZoomOut,
        Auto,
        Full,
        HighPlus,
        HighMinus,
        LowPlus,
        LowMinus,
        Up,
        Down
    };
    bool Press(FlowButton button);

    // y of a flow value in the flow region (-1000 at the axis bottom, 0 at its top).
    double FlowY(double v) const;
    // The row's number (from its third character up to the next blank); 0 when none.
    static int RowNumber(const QString &row);
    // The text of a row's field: after the column-th ";" and the one character after it.
    static QString FieldText(const QString &row, int column, int length = -1);
    // Seconds since midnight of a 12-hour "HH:MM:SS AM" text, or -1.
    static int ParseClock(const QString &text);

private:
    struct Parsed
    {
        int number = 0;
        double flow = 0; // NaN when the field is missing or not a number
        bool relay1On = false, relay2On = false;
        bool relay1StartsOff = false, relay2StartsOff = false;
    };
    Parsed ParseRow(QStringView row) const;
    // Adds the flows of the parsed rows from index from on to the statistics.
    void UpdateStatistics(int from);
    int X(int number) const;
    void AxisFromLabels();

    Inputs m_in;
    QStringList m_rows;
    std::vector<Parsed> m_parsed;
    int m_rowCount = 0;
    double m_high = 0, m_low = 0, m_average = 0;
    double m_top = 0, m_bottom = 0;
    int m_range = 0, m_units = 0;
    int m_firstRow = 0, m_selectedRow = 0, m_cursorRow = 0;
    bool m_ready = false;
    bool m_following = false;
    bool m_scaleChosen = false; // the user set the time scale (combos, zoom)
    // Running statistics, so a growing log adds its new rows only.
    double m_maxFlow = 0, m_minFlow = 0, m_sum = 0;
    int m_summed = 0;
};
