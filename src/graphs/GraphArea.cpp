#include "graphs/GraphArea.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// Texts are measured at this many pixels per logical unit, so rounding the font's pixel size
// costs little precision.
constexpr double kMeasureScale = 4.0;
constexpr double kMargin = 4; // pixels around the bounds

QColor ToColor(GraphPicture::Color c)
{
    return QColor(c.r, c.g, c.b);
}

} // namespace

GraphArea::GraphArea(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 200);
}

void GraphArea::SetPicture(GraphPicture picture)
{
    m_picture = std::move(picture);
    UpdateMapping();
    update();
}

QFont GraphArea::FontFor(const GraphPicture::Text &text, double scale)
{
    QFont font;
    // "Arial Black" is the heavy cut of Arial; where the family is missing the substitute
    // keeps the weight.
    if (text.family == QLatin1String("Arial Black")) {
        font.setFamilies(
            { text.family, QStringLiteral("Arial"), QStringLiteral("Liberation Sans") });
        font.setWeight(QFont::Black);
    } else {
        font.setFamilies({ text.family, QStringLiteral("Liberation Sans") });
    }
    const double em = text.points * GraphPicture::kUnitsPerPoint * scale;
    font.setPixelSize(std::max(1, int(std::lround(em))));
    return font;
}

QRectF GraphArea::LogicalTextRect(const GraphPicture::Text &text)
{
    const QFontMetricsF metrics(FontFor(text, kMeasureScale));
    const double width = metrics.horizontalAdvance(text.text) / kMeasureScale;
    const double height = metrics.height() / kMeasureScale;
    // Logical y grows upwards: the text hangs below its position.
    return QRectF(text.pos.x(), text.pos.y() - height, width, height);
}

QRectF GraphArea::LogicalBounds() const
{
    // In this rectangle y grows upwards: top() is the lowest y, bottom() the highest.
    QRectF bounds = m_picture.background.normalized();
    for (const GraphPicture::Polyline &line : m_picture.lines) {
        const double half = line.width / 2;
        for (const QPointF &p : line.points)
            bounds = bounds.united(QRectF(p.x() - half, p.y() - half, 2 * half, 2 * half));
    }
    for (const GraphPicture::Text &text : m_picture.texts)
        bounds = bounds.united(LogicalTextRect(text));
    return bounds;
}

void GraphArea::UpdateMapping()
{
    m_bounds = LogicalBounds();
    const double w = std::max(1.0, width() - 2 * kMargin);
    const double h = std::max(1.0, height() - 2 * kMargin);
    if (m_bounds.width() <= 0 || m_bounds.height() <= 0) {
        m_scale = 1;
        m_origin = QPointF(kMargin, kMargin);
        return;
    }
    m_scale = std::min(w / m_bounds.width(), h / m_bounds.height());
    // Centred in the widget.
    m_origin = QPointF(kMargin + (w - m_bounds.width() * m_scale) / 2,
        kMargin + (h - m_bounds.height() * m_scale) / 2);
}

QPointF GraphArea::Map(QPointF logical) const
{
    return QPointF(m_origin.x() + (logical.x() - m_bounds.left()) * m_scale,
        m_origin.y() + (m_bounds.bottom() - logical.y()) * m_scale);
}

QRectF GraphArea::TextRect(const GraphPicture::Text &text) const
{
    const QFontMetricsF metrics(FontFor(text, m_scale));
    const QPointF topLeft = Map(text.pos);
    return QRectF(topLeft, QSizeF(metrics.horizontalAdvance(text.text), metrics.height()));
}

void GraphArea::MapDecimated(const std::vector<QPointF> &logical, std::vector<QPointF> &out) const
{
    // Points that fall in one pixel column are drawn as that column's first, lowest, highest and
    // last point: the same pixels, however many points the column holds. A long log's step line
    // costs a few points per column instead of one per row.
    out.clear();
    size_t i = 0;
    while (i < logical.size()) {
        const QPointF first = Map(logical[i]);
        const double column = std::floor(first.x());
        QPointF last = first;
        double lo = first.y(), hi = first.y();
        size_t j = i + 1;
        for (; j < logical.size(); ++j) {
            const QPointF p = Map(logical[j]);
            if (std::floor(p.x()) != column)
                break;
            last = p;
            lo = std::min(lo, p.y());
            hi = std::max(hi, p.y());
        }
        out.push_back(first);
        if (j - i > 2) {
            if (lo < std::min(first.y(), last.y()))
                out.emplace_back(first.x(), lo);
            if (hi > std::max(first.y(), last.y()))
                out.emplace_back(first.x(), hi);
        }
        if (j - i > 1)
            out.push_back(last);
        i = j;
    }
}

void GraphArea::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    UpdateMapping();
}

void GraphArea::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), ToColor(m_picture.backgroundColor));
    std::vector<QPointF> points;
    std::vector<QLineF> segments;
    for (const GraphPicture::Polyline &line : m_picture.lines) {
        QPen pen(ToColor(line.color));
        const double width = line.width * m_scale;
        // Hairlines crisp, as the grid is drawn on a pixel grid; wide pens smooth.
        painter.setRenderHint(QPainter::Antialiasing, line.smooth && width > 1.5);
        pen.setWidthF(std::max(1.0, width));
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        painter.setPen(pen);
        MapDecimated(line.points, points);
        // Segment by segment: the round caps join them, and the painter need not stroke one
        // long self-overlapping outline (a step line over a long log folds over itself often).
        segments.clear();
        for (size_t i = 1; i < points.size(); ++i)
            segments.emplace_back(points[i - 1], points[i]);
        painter.drawLines(segments.data(), int(segments.size()));
    }
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    for (const GraphPicture::Text &text : m_picture.texts) {
        const QFont font = FontFor(text, m_scale);
        painter.setFont(font);
        painter.setPen(ToColor(text.color));
        const QFontMetricsF metrics(font);
        const QPointF topLeft = Map(text.pos);
        painter.drawText(QPointF(topLeft.x(), topLeft.y() + metrics.ascent()), text.text);
    }
}
