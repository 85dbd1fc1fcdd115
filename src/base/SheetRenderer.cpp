#include "base/SheetRenderer.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
constexpr double kTwipsPerInch = 1440.0;

// Device pixels per twip along x and y.
double PerTwipX(const QPaintDevice *device)
{
    return device->logicalDpiX() / kTwipsPerInch;
}

double PerTwipY(const QPaintDevice *device)
{
    return device->logicalDpiY() / kTwipsPerInch;
}
} // namespace

QFont SheetRenderer::Font(SheetFont role)
{
    QFont font;
    if (role == SheetFont::Body) {
        font.setFamilies({ QStringLiteral("Courier New"), QStringLiteral("Liberation Mono") });
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
        font.setWeight(QFont::Normal);
    } else {
        // "Arial Black" where it is installed, else the heaviest face of its metric twin.
        font.setFamilies({ QStringLiteral("Arial Black"), QStringLiteral("Liberation Sans"),
            QStringLiteral("Arial") });
        font.setStyleHint(QFont::SansSerif);
        font.setWeight(QFont::Black);
    }
    // A point is 20 twips; a font's point size is its character (em) height.
    font.setPointSizeF(SheetPage::Height(role) / 20.0);
    font.setKerning(false);
    return font;
}

SheetMetrics SheetRenderer::Measure(QPaintDevice *device)
{
    const auto pitch = [device](SheetFont role) {
        const QFontMetricsF metrics(Font(role), device);
        return int(std::lround(metrics.lineSpacing() / PerTwipY(device)));
    };
    return SheetMetrics { pitch(SheetFont::Title), pitch(SheetFont::Heading),
        pitch(SheetFont::Body) };
}

double SheetRenderer::FitScale(const SheetPage &page, QPaintDevice *device, const QRectF &area)
{
    double right = 0;
    double bottom = 0;
    for (const SheetLine &line : page.Lines()) {
        const QFontMetricsF metrics(Font(line.font), device);
        right = std::max(right,
            line.x * PerTwipX(device) + metrics.horizontalAdvance(line.text.left(kFitColumns)));
        bottom = std::max(bottom, -line.y * PerTwipY(device) + metrics.height());
    }
    double scale = 1.0;
    if (right > area.width() && right > 0)
        scale = std::min(scale, area.width() / right);
    if (bottom > area.height() && bottom > 0)
        scale = std::min(scale, area.height() / bottom);
    return scale;
}

double SheetRenderer::Draw(QPainter &painter, const SheetPage &page, const QRectF &area)
{
    QPaintDevice *device = painter.device();
    const double scale = FitScale(page, device, area);
    painter.save();
    painter.setClipRect(area);
    painter.translate(area.topLeft());
    painter.scale(scale, scale);
    painter.setPen(Qt::black);
    for (const SheetLine &line : page.Lines()) {
        const QFont font(Font(line.font), device);
        painter.setFont(font);
        const QFontMetricsF metrics(font, device);
        // Placed by the top-left corner of its text.
        const QPointF baseline(
            line.x * PerTwipX(device), -line.y * PerTwipY(device) + metrics.ascent());
        painter.drawText(baseline, line.text);
    }
    painter.restore();
    return scale;
}
