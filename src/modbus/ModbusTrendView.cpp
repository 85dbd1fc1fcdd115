#include "modbus/ModbusTrendView.h"

#include "graphs/GraphArea.h"
#include "graphs/GraphExporter.h"
#include "modbus/ModbusTrend.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

ModbusTrendView::ModbusTrendView(const ModbusTrend &trend, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_trend(trend)
{
    setWindowTitle(QStringLiteral("Modbus Flow Trend"));
    m_area = new GraphArea(this);
    m_area->setMinimumSize(640, 320);
    m_minutes = new QSpinBox(this);
    m_minutes->setRange(1, 24 * 60);
    m_minutes->setValue(kDefaultMinutes);
    m_minutes->setSuffix(QStringLiteral(" min"));
    connect(m_minutes, &QSpinBox::valueChanged, this, [this] { Refresh(); });

    auto *bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Show the last"), this));
    bar->addWidget(m_minutes);
    bar->addStretch(1);
    GraphExporter::AttachMenu(m_area, m_area, windowTitle());
    bar->addWidget(GraphExporter::MenuButton(m_area, windowTitle(), this));
    // A window of its own: Close (and Escape) put it away; the trend goes on being kept.
    m_close = new QPushButton(QStringLiteral("&Close"), this);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    bar->addWidget(m_close);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    m_area->setMouseTracking(true);
    m_area->installEventFilter(this);
    m_area->setCursor(Qt::CrossCursor);
    m_reading = new QLabel(m_area);
    m_reading->setObjectName(QStringLiteral("pointerReading"));
    m_reading->setStyleSheet(QStringLiteral(
        "QLabel { background: rgba(255,255,224,230); color: black; padding: 1px; }"));
    m_reading->hide();

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_area, 1);
    layout->addLayout(bar);
    resize(900, 480);
    Refresh();
}

TrendPlot::Window ModbusTrendView::Window() const
{
    const qint64 newest = m_trend.NewestMs();
    return TrendPlot::Window { (newest > 0 ? newest : QDateTime::currentMSecsSinceEpoch())
            - m_backMs,
        qint64(m_minutes->value()) * 60 * 1000 };
}

double ModbusTrendView::PlotX(double areaX) const
{
    const double left = m_area->Map(QPointF(0, 0)).x();
    const double width = m_area->Map(QPointF(TrendPlot::kWidth, 0)).x() - left;
    return width > 0 ? (areaX - left) * TrendPlot::kWidth / width : 0;
}

QString ModbusTrendView::ReadingAt(const QPoint &areaPos) const
{
    const double x = PlotX(areaPos.x());
    if (x < 0 || x > TrendPlot::kWidth)
        return QString();
    const TrendPlot::Window window = Window();
    // A reading counts for the pointer within a column's time either side of it, at least 5 s.
    const qint64 near = std::max<qint64>(5000, window.spanMs / 100);
    return TrendPlot::ReadingAt(m_trend.Traces(), TrendPlot::TimeAt(x, window), near);
}

bool ModbusTrendView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_area)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseMove: {
        const auto *e = static_cast<QMouseEvent *>(event);
        if (m_dragging) {
            // Dragging right brings earlier readings in, as a sheet of paper moves.
            const double dx = PlotX(e->position().x()) - PlotX(m_dragX);
            const qint64 shift = qint64(dx / TrendPlot::kWidth * double(Window().spanMs));
            if (shift != 0) {
                m_backMs = std::max<qint64>(0, m_backMs + shift);
                m_dragX = e->position().x();
                Refresh();
            }
        }
        const QString reading = ReadingAt(e->position().toPoint());
        m_reading->setVisible(!reading.isEmpty());
        if (!reading.isEmpty()) {
            m_reading->setText(reading);
            m_reading->adjustSize();
            const QPoint at = e->position().toPoint();
            m_reading->move(std::min(at.x() + 14, m_area->width() - m_reading->width()),
                std::max(0, at.y() - m_reading->height() - 4));
        }
        return false;
    }
    case QEvent::Leave:
        m_reading->hide();
        return false;
    case QEvent::MouseButtonPress: {
        const auto *e = static_cast<QMouseEvent *>(event);
        if (e->button() != Qt::LeftButton)
            return false;
        m_dragging = true;
        m_dragX = e->position().x();
        return true;
    }
    case QEvent::MouseButtonRelease:
        m_dragging = false;
        return false;
    case QEvent::Wheel: {
        // Up halves the span shown, down doubles it, within the box's range.
        const auto *e = static_cast<QWheelEvent *>(event);
        const int steps = e->angleDelta().y() / 120;
        int minutes = m_minutes->value();
        for (int i = 0; i < std::abs(steps); ++i)
            minutes = steps > 0 ? std::max(1, minutes / 2) : minutes * 2;
        m_minutes->setValue(std::clamp(minutes, m_minutes->minimum(), m_minutes->maximum()));
        const QString reading = ReadingAt(e->position().toPoint());
        if (!reading.isEmpty())
            m_reading->setText(reading);
        return true;
    }
    default:
        return false;
    }
}

void ModbusTrendView::Refresh()
{
    // The span an export's title line names.
    const TrendPlot::Window window = Window();
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(window.endMs - window.spanMs);
    const QDateTime to = QDateTime::fromMSecsSinceEpoch(window.endMs);
    m_area->setProperty(GraphExporter::kCaptionProperty,
        QStringLiteral("%1 to %2")
            .arg(from.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                to.toString(from.date() == to.date() ? QStringLiteral("HH:mm:ss")
                                                     : QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    m_area->SetPicture(TrendPlot::Build(
        m_trend.Traces(), Window(), QStringLiteral("Flow rate by address"), m_trend.Units()));
}
