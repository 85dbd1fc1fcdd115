#include "datalog/CElogGraph.h"

#include "graphs/GraphArea.h"
#include "graphs/GraphExporter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPushButton>
#include <QStringListModel>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

QFont ArialBlack10()
{
    QFont font;
    font.setFamilies({ QStringLiteral("Arial Black"), QStringLiteral("Arial"),
        QStringLiteral("Liberation Sans") });
    font.setWeight(QFont::Black);
    font.setPointSizeF(10.0);
    return font;
}

// Room beside the plot for the axis labels, in pixels.
constexpr int kLeftRoom = 70;
constexpr int kRightRoom = 70;
constexpr int kBottomRoom = 44;

} // namespace

CElogGraph::CElogGraph(ElogPlot::Inputs inputs, QWidget *parent)
    : QDialog(parent)
    , m_plot(std::move(inputs))
{
    setWindowTitle(QStringLiteral("E-LOG Graph"));
    const QFont black = ArialBlack10();

    // The row list with its column labels above it.
    auto *columnRow = new QHBoxLayout;
    columnRow->setSpacing(0);
    for (int n = 0; n < 9; ++n) {
        m_columns[size_t(n)] = new QLabel(QStringLiteral("String%1").arg(n + 1), this);
        m_columns[size_t(n)]->setFont(black);
        columnRow->addWidget(m_columns[size_t(n)], 1);
    }
    // A view over a model of the rows: a log of 100,000 rows opens without one item object each.
    m_rows = new QListView(this);
    m_rows->setUniformItemSizes(true);
    m_rows->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_rows->setFixedHeight(fontMetrics().height() * 5 + 8);
    QFont fixed(QStringLiteral("Courier New"));
    fixed.setStyleHint(QFont::TypeWriter);
    m_rows->setFont(fixed);
    m_rowModel = new QStringListModel(m_plot.Rows(), this);
    m_rows->setModel(m_rowModel);
    // Only a row the user selects moves the cursor. The list makes its first row current (not
    // selected) when it takes the focus; that is no choice, and the cursor stays mid-graph.
    connect(m_rows->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const QModelIndexList selected = m_rows->selectionModel()->selectedIndexes();
        if (!selected.isEmpty())
            OnRowSelected(selected.first().row());
    });

    // Statistics.
    auto *stats = new QGridLayout;
    const auto statistic = [&](int row, const QString &initial, QLineEdit *&edit) {
        auto *label = new QLabel(initial, this);
        label->setFont(black);
        edit = new QLineEdit(this);
        edit->setReadOnly(true);
        edit->setMaximumWidth(110);
        stats->addWidget(label, row, 0);
        stats->addWidget(edit, row, 1);
        return label;
    };
    QLabel *highLabel = statistic(0, QStringLiteral("High Flow"), m_high);
    QLabel *averageLabel = statistic(1, QStringLiteral("Avg Flow"), m_average);
    QLabel *lowLabel = statistic(2, QStringLiteral("Low Flow"), m_low);
    highLabel->setText(QStringLiteral("High"));
    averageLabel->setText(QStringLiteral("Average"));
    lowLabel->setText(QStringLiteral("Low"));

    m_interval = new QLabel(QStringLiteral("SanpShot Interval"), this);
    m_interval->setFont(black);
    auto *exit = new QPushButton(QStringLiteral("Exit"), this);
    connect(exit, &QPushButton::clicked, this, &QDialog::accept);
    exit->setFocus(); // the dialog opens with no row of the list current

    m_follow = new QCheckBox(QStringLiteral("Follow newest"), this);
    m_follow->setObjectName(QStringLiteral("followNewest"));
    m_follow->hide();
    connect(m_follow, &QCheckBox::clicked, this, [this](bool on) {
        m_plot.SetFollowing(on);
        Redraw();
    });

    auto *statsBox = new QVBoxLayout;
    statsBox->addLayout(stats);
    statsBox->addWidget(m_follow);
    statsBox->addWidget(m_interval);
    statsBox->addStretch();
    statsBox->addWidget(exit);

    auto *bottom = new QHBoxLayout;
    bottom->addLayout(statsBox);
    bottom->addWidget(BuildTimeScale());
    bottom->addWidget(BuildFlowScale());

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(columnRow);
    layout->addWidget(m_rows);
    layout->addWidget(BuildPlotPanel(), 1);
    layout->addLayout(bottom);

    // The plot with its axis labels and relay captions is what an export takes away: a right
    // click on it, or the Export button beside Exit.
    GraphExporter::AttachMenu(m_plotPanel, m_plotPanel, QStringLiteral("E-LOG Graph"));
    m_export = GraphExporter::MenuButton(m_plotPanel, QStringLiteral("E-LOG Graph"), this);
    statsBox->insertWidget(statsBox->count() - 1, m_export);

    m_area->setMouseTracking(true);
    m_area->installEventFilter(this);
    m_area->setCursor(Qt::CrossCursor);
    m_reading = new QLabel(m_plotPanel);
    m_reading->setObjectName(QStringLiteral("pointerReading"));
    m_reading->setStyleSheet(QStringLiteral(
        "QLabel { background: rgba(255,255,224,230); color: black; padding: 1px; }"));
    m_reading->hide();

    m_high->setText(m_plot.MakeLabels().high);
    m_average->setText(m_plot.MakeLabels().average);
    m_low->setText(m_plot.MakeLabels().low);
    ShowScale();
    DrawRequest();
    // Its usual size where the screen has room; the main frame fits it into a smaller one.
    resize(QSize(910, 736).expandedTo(minimumSizeHint()));
}

CElogGraph::~CElogGraph() = default;

QWidget *CElogGraph::BuildPlotPanel()
{
    m_plotPanel = new QWidget(this);
    // The plot scales to its room, so it may be lower than its usual size: the whole dialog,
    // buttons and scales included, then fits a 1366 x 768 screen or a 1920 x 1080 one at 150 %
    // without scrolling. Not lower: the plot keeps its aspect, and a lower one would be too
    // narrow for the eleven time labels in their two rows.
    m_plotPanel->setMinimumSize(kLeftRoom + kRightRoom + 700, 300 + kBottomRoom);
    m_area = new GraphArea(m_plotPanel);
    m_area->setMinimumSize(0, 0);
    for (int k = 0; k < 6; ++k) {
        m_flow[size_t(k)] = new QLabel(QStringLiteral("Flow%1").arg(k), m_plotPanel);
        m_flow[size_t(k)]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    m_unitsLabel = new QLabel(QStringLiteral("Eng Units"), m_plotPanel);
    m_unitsLabel->setFont(ArialBlack10());
    for (int k = 0; k < 11; ++k) {
        m_time[size_t(k)] = new QLabel(QStringLiteral("Range%1").arg(k), m_plotPanel);
        m_time[size_t(k)]->setAlignment(Qt::AlignCenter);
    }
    m_division = new QLabel(QStringLiteral("Range Units"), m_plotPanel);
    m_division->setFont(ArialBlack10());
    const char *captions[] = { "RELAY1", "On Off", "RELAY2", "On Off" };
    for (int i = 0; i < 4; ++i) {
        m_relayCaptions[size_t(i)] = new QLabel(QString::fromLatin1(captions[i]), m_plotPanel);
        m_relayCaptions[size_t(i)]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return m_plotPanel;
}

QPushButton *CElogGraph::Button(const QString &text, const char *name, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

QWidget *CElogGraph::BuildTimeScale()
{
    auto *group = new QGroupBox(QStringLiteral("TIME SCALE"), this);
    auto *grid = new QGridLayout(group);
    m_rangeCombo = new QComboBox(group);
    for (int r : ElogPlot::kRanges)
        m_rangeCombo->addItem(QString::number(r));
    m_unitsCombo = new QComboBox(group);
    for (const char *u : ElogPlot::kUnitNames)
        m_unitsCombo->addItem(QString::fromLatin1(u));
    m_rangeCombo->setFont(ArialBlack10());
    m_unitsCombo->setFont(ArialBlack10());
    connect(m_rangeCombo, &QComboBox::activated, this, &CElogGraph::OnComboChanged);
    connect(m_unitsCombo, &QComboBox::activated, this, &CElogGraph::OnComboChanged);
    grid->addWidget(new QLabel(QStringLiteral("Range"), group), 0, 0);
    grid->addWidget(m_rangeCombo, 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("Units"), group), 0, 1);
    grid->addWidget(m_unitsCombo, 1, 1);
    auto *zoom = new QHBoxLayout;
    zoom->addWidget(new QLabel(QStringLiteral("Zoom"), group));
    QPushButton *in = Button(QStringLiteral("In"), "timeZoomIn", group);
    QPushButton *out = Button(QStringLiteral("Out"), "timeZoomOut", group);
    QPushButton *full = Button(QStringLiteral("Full"), "timeFull", group);
    connect(in, &QPushButton::clicked, this, [this] {
        if (m_plot.ZoomIn())
            ShowScale();
        Redraw();
    });
    connect(out, &QPushButton::clicked, this, [this] {
        if (m_plot.ZoomOut())
            ShowScale();
        Redraw();
    });
    connect(full, &QPushButton::clicked, this, [this] {
        if (m_plot.TimeFull()) {
            ShowScale();
            Redraw();
        }
    });
    zoom->addWidget(in);
    zoom->addWidget(out);
    zoom->addWidget(full);
    grid->addLayout(zoom, 2, 0, 1, 2);
    return group;
}

QWidget *CElogGraph::BuildFlowScale()
{
    using B = ElogPlot::FlowButton;
    auto *group = new QGroupBox(QStringLiteral("FLOW SCALE"), this);
    auto *grid = new QGridLayout(group);
    const auto add = [&](const QString &text, const char *name, B button, int row, int col) {
        QPushButton *b = Button(text, name, group);
        b->setMinimumWidth(36);
        connect(b, &QPushButton::clicked, this, [this, button] { OnFlowButton(button); });
        grid->addWidget(b, row, col);
    };
    auto *high = new QLabel(QStringLiteral("High"), group);
    auto *low = new QLabel(QStringLiteral("Low"), group);
    high->setFont(ArialBlack10());
    low->setFont(ArialBlack10());
    add(QStringLiteral("+"), "highPlus", B::HighPlus, 0, 0);
    grid->addWidget(high, 0, 1, Qt::AlignCenter);
    add(QStringLiteral("-"), "highMinus", B::HighMinus, 0, 2);
    add(QStringLiteral("UP"), "flowUp", B::Up, 0, 4);
    grid->addWidget(new QLabel(QStringLiteral("ZOOM"), group), 1, 0);
    add(QStringLiteral("In"), "flowZoomIn", B::ZoomIn, 1, 1);
    add(QStringLiteral("Out"), "flowZoomOut", B::ZoomOut, 1, 2);
    add(QStringLiteral("Auto"), "flowAuto", B::Auto, 1, 3);
    add(QStringLiteral("Full"), "flowFull", B::Full, 1, 4);
    add(QStringLiteral("+"), "lowPlus", B::LowPlus, 2, 0);
    grid->addWidget(low, 2, 1, Qt::AlignCenter);
    add(QStringLiteral("-"), "lowMinus", B::LowMinus, 2, 2);
    add(QStringLiteral("DN"), "flowDown", B::Down, 2, 4);
    return group;
}

void CElogGraph::ShowScale()
{
    m_rangeCombo->setCurrentIndex(m_plot.RangeIndex());
    m_unitsCombo->setCurrentIndex(m_plot.UnitsIndex());
}

void CElogGraph::DrawRequest()
{
    m_area->SetPicture(m_plot.DrawRequest());
    ShowLabels();
}

void CElogGraph::Redraw()
{
    m_area->SetPicture(m_plot.Plot());
    ShowLabels();
}

void CElogGraph::ShowLabels()
{
    const ElogPlot::Labels labels = m_plot.MakeLabels();
    m_division->setText(labels.division);
    for (int k = 0; k < 11; ++k)
        m_time[size_t(k)]->setText(labels.times[size_t(k)]);
    for (int k = 0; k < 6; ++k)
        m_flow[size_t(k)]->setText(labels.flows[size_t(k)]);
    m_unitsLabel->setText(labels.units);
    for (int n = 0; n < 9; ++n)
        m_columns[size_t(n)]->setText(labels.columns[size_t(n)]);
    m_interval->setText(labels.interval);
    // What an export's title line says the graph shows: the log and the span on view.
    QString caption = m_logName;
    if (!labels.times.front().trimmed().isEmpty()) {
        caption += (caption.isEmpty() ? QString() : QStringLiteral(", "))
            + QStringLiteral("%1 to %2 (%3)")
                  .arg(labels.times.front().trimmed(), labels.times.back().trimmed(),
                      labels.division.trimmed());
    }
    m_plotPanel->setProperty(GraphExporter::kCaptionProperty, caption);
    PlaceAxisLabels();
}

void CElogGraph::PlaceAxisLabels()
{
    if (!m_plotPanel)
        return;
    const QRect panel = m_plotPanel->rect();
    const int line = fontMetrics().height();
    // Half a line above the plot, so that the top flow label is not cut.
    const int topRoom = line / 2 + 2;
    // The area as large as the room allows at the plot's own aspect, so that the labels below
    // and beside it sit right at its edges.
    const QRectF bounds = m_area->LogicalBounds();
    const double roomW = std::max(10, panel.width() - kLeftRoom - kRightRoom) - 8.0;
    const double roomH = std::max(10, panel.height() - kBottomRoom - topRoom) - 8.0;
    const double scale = std::min(roomW / bounds.width(), roomH / bounds.height());
    m_area->setGeometry(
        kLeftRoom, topRoom, int(bounds.width() * scale) + 8, int(bounds.height() * scale) + 8);
    m_area->UpdateMapping(); // at once, also while the dialog is hidden
    const QPoint offset = m_area->pos();
    for (int k = 0; k < 6; ++k) {
        const QPointF at = m_area->Map(QPointF(0, -1000 + 200 * k)) + offset;
        m_flow[size_t(k)]->setGeometry(0, int(at.y()) - line / 2, int(at.x()) - 6, line);
    }
    m_unitsLabel->adjustSize();
    const QPointF top = m_area->Map(QPointF(0, 0)) + offset;
    m_unitsLabel->move(
        std::max(0, int(top.x()) - m_unitsLabel->width() - 6), int(top.y()) + line / 2 + 2);
    // Time labels in two staggered rows, centred under their grid lines.
    const QPointF bottom = m_area->Map(QPointF(0, -1200)) + offset;
    const double spacing = (m_area->Map(QPointF(200, 0)).x() - m_area->Map(QPointF(0, 0)).x());
    for (int k = 0; k < 11; ++k) {
        QLabel *label = m_time[size_t(k)];
        const int width = std::max(label->sizeHint().width(), int(spacing * 1.9));
        const QPointF x = m_area->Map(QPointF(200 * k, 0)) + offset;
        const int y = int(bottom.y()) + 4 + (k % 2) * line;
        label->setGeometry(int(x.x()) - width / 2, y, width, line);
    }
    m_division->adjustSize();
    const QPointF right = m_area->Map(QPointF(2000, -1200)) + offset;
    m_division->move(std::min(panel.width() - m_division->width(), int(right.x()) + 8),
        int(bottom.y()) + 4 + 2 * line - m_division->height());
    // Relay captions to the right of their lanes: the name beside "on", "On Off" beside "off".
    const QPointF lane1 = m_area->Map(QPointF(2000, -1075)) + offset;
    const QPointF lane2 = m_area->Map(QPointF(2000, -1175)) + offset;
    const int x = int(lane1.x()) + 6;
    m_relayCaptions[0]->setGeometry(x, int(lane1.y()) - line, kRightRoom - 10, line);
    m_relayCaptions[1]->setGeometry(x, int(lane1.y()), kRightRoom - 10, line);
    m_relayCaptions[2]->setGeometry(x, int(lane2.y()) - line, kRightRoom - 10, line);
    m_relayCaptions[3]->setGeometry(x, int(lane2.y()), kRightRoom - 10, line);
}

void CElogGraph::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    PlaceAxisLabels();
}

void CElogGraph::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    PlaceAxisLabels();
}

void CElogGraph::done(int result)
{
    m_plot.Close();
    QDialog::done(result);
}

int CElogGraph::RowCount() const
{
    return m_rowModel->rowCount();
}

void CElogGraph::SelectRow(int row)
{
    m_rows->setCurrentIndex(m_rowModel->index(row));
}

void CElogGraph::OnRowSelected(int index)
{
    if (index < 0)
        return;
    ScrolledByUser();
    m_plot.SelectRow(index);
    Redraw();
}

void CElogGraph::SetLive()
{
    m_live = true;
    setWindowTitle(QStringLiteral("E-LOG Graph (live)"));
    setModal(false);
    m_follow->show();
    m_follow->setChecked(true);
    m_plot.SetFollowing(true);
    Redraw();
}

void CElogGraph::AppendEntries(const QStringList &entries)
{
    const int before = m_plot.RowCount();
    if (m_plot.Append(entries) == 0)
        return;
    const int added = m_plot.RowCount() - before;
    m_rowModel->insertRows(before, added);
    for (int i = before; i < m_plot.RowCount(); ++i)
        m_rowModel->setData(m_rowModel->index(i), m_plot.Rows().at(i));
    const ElogPlot::Labels labels = m_plot.MakeLabels();
    m_high->setText(labels.high);
    m_average->setText(labels.average);
    m_low->setText(labels.low);
    if (m_plot.Following())
        m_rows->scrollToBottom();
    ShowScale();
    Redraw();
}

void CElogGraph::ScrolledByUser()
{
    if (!m_plot.Following())
        return;
    m_plot.SetFollowing(false);
    m_follow->setChecked(false);
}

int CElogGraph::RowAt(double areaX) const
{
    const double x = m_area->Map(QPointF(0, 0)).x();
    const double perUnit = m_area->Map(QPointF(2000, 0)).x() - x;
    if (perUnit <= 0 || m_plot.RowCount() == 0)
        return -1;
    const double logical = (areaX - x) * 2000 / perUnit;
    if (logical < 0 || logical > 2000)
        return -1;
    const double perRow = m_plot.Scale() * m_plot.Input().interval;
    if (!(perRow > 0))
        return -1;
    // A row's step runs from the previous row's x to its own: the row under the pointer is
    // the first whose x is at or past it.
    const int number = m_plot.FirstRow() + int(std::ceil(logical / perRow));
    for (int i = std::clamp(number - 1, 0, m_plot.RowCount() - 1);
         i >= 0 && i < m_plot.RowCount();) {
        const int n = ElogPlot::RowNumber(m_plot.Rows().at(i));
        if (n == number)
            return i;
        i += n < number ? 1 : -1;
        if (i >= 0 && i < m_plot.RowCount()) {
            const int next = ElogPlot::RowNumber(m_plot.Rows().at(i));
            if ((n < number) != (next < number) && next != number)
                return -1;
        }
    }
    return -1;
}

QString CElogGraph::ReadingAt(double areaX) const
{
    const int row = RowAt(areaX);
    if (row < 0)
        return QString();
    const ElogPlot::Inputs &in = m_plot.Input();
    const QString text = m_plot.Rows().at(row);
    QString time = ElogPlot::FieldText(text, in.columns[ElogPlot::TimeColumn]).trimmed();
    time = time.section(QLatin1Char(' '), 0, 1);
    if (in.columns[ElogPlot::TimeColumn] <= 0)
        time = QStringLiteral("Line %1").arg(ElogPlot::RowNumber(text));
    QString flow = in.columns[ElogPlot::FlowColumn] > 0
        ? ElogPlot::FieldText(text, in.columns[ElogPlot::FlowColumn])
              .trimmed()
              .section(QLatin1Char(' '), 0, 0)
        : QString();
    if (flow.isEmpty())
        flow = QStringLiteral("no flow");
    else if (!in.flowUnits.trimmed().isEmpty())
        flow += QLatin1Char(' ') + in.flowUnits.trimmed();
    return time + QStringLiteral("   ") + flow;
}

void CElogGraph::ShowReadingAt(const QPoint &areaPos)
{
    const QString reading = ReadingAt(areaPos.x());
    m_reading->setVisible(!reading.isEmpty());
    if (reading.isEmpty())
        return;
    m_reading->setText(reading);
    m_reading->adjustSize();
    const QPoint at = m_area->mapTo(m_plotPanel, areaPos);
    m_reading->move(std::min(at.x() + 14, m_plotPanel->width() - m_reading->width()),
        std::max(0, at.y() - m_reading->height() - 4));
    m_reading->raise();
}

bool CElogGraph::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_area)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseMove: {
        auto *e = static_cast<QMouseEvent *>(event);
        const double x = e->position().x();
        if (m_dragging) {
            // Dragging right brings earlier rows in, as a sheet of paper moves.
            const double perRow
                = (m_area->Map(QPointF(2000, 0)).x() - m_area->Map(QPointF(0, 0)).x()) / 2000
                * m_plot.Scale() * m_plot.Input().interval;
            if (perRow > 0) {
                m_dragRest += (m_dragX - x) / perRow;
                const int rows = int(m_dragRest);
                if (rows != 0) {
                    ScrolledByUser();
                    m_plot.ScrollBy(rows);
                    m_dragRest -= rows;
                    Redraw();
                }
            }
            m_dragX = x;
        }
        ShowReadingAt(e->position().toPoint());
        return false;
    }
    case QEvent::Leave:
        m_reading->hide();
        return false;
    case QEvent::MouseButtonPress: {
        auto *e = static_cast<QMouseEvent *>(event);
        if (e->button() == Qt::LeftButton) {
            m_dragging = true;
            m_dragX = e->position().x();
            m_dragRest = 0;
            return true;
        }
        return false;
    }
    case QEvent::MouseButtonRelease:
        m_dragging = false;
        return false;
    case QEvent::Wheel: {
        auto *e = static_cast<QWheelEvent *>(event);
        const int steps = e->angleDelta().y() / 120;
        if (steps == 0)
            return true;
        // The row under the pointer stays under it.
        const double x = e->position().x();
        const int anchor = RowAt(x);
        const double left = m_area->Map(QPointF(0, 0)).x();
        const double width = m_area->Map(QPointF(2000, 0)).x() - left;
        bool changed = false;
        for (int i = 0; i < std::abs(steps); ++i)
            changed |= steps > 0 ? m_plot.ZoomIn() : m_plot.ZoomOut();
        if (!changed)
            return true;
        ShowScale();
        if (m_plot.Following()) {
            m_plot.ScrollToNewest(); // a followed graph zooms about its newest row
        } else if (anchor >= 0 && width > 0) {
            const int number = ElogPlot::RowNumber(m_plot.Rows().at(anchor));
            const double perRow = m_plot.Scale() * m_plot.Input().interval;
            const int offset = perRow > 0 ? int(std::ceil((x - left) * 2000 / width / perRow)) : 0;
            m_plot.ScrollBy(number - offset - m_plot.FirstRow());
        }
        Redraw();
        // The row under the pointer has changed with the scale: so has its reading.
        ShowReadingAt(e->position().toPoint());
        return true;
    }
    default:
        return false;
    }
}

void CElogGraph::OnComboChanged()
{
    m_plot.SetScale(m_rangeCombo->currentIndex(), m_unitsCombo->currentIndex());
    Redraw();
}

void CElogGraph::OnFlowButton(ElogPlot::FlowButton button)
{
    m_plot.Press(button);
    if (m_plot.GraphReady())
        Redraw();
}
