#include "base/AppIcons.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>

QIcon AppIcons::Program()
{
    QIcon icon;
    for (int size : { 16, 32, 48, 64, 128, 256 }) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(0, 70, 140));
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
        // A flow line through the tile: what the meters measure.
        painter.setPen(QPen(QColor(255, 190, 0), size / 10.0));
        painter.drawLine(QPointF(size * 0.15, size * 0.7), QPointF(size * 0.85, size * 0.7));
        QFont font(QStringLiteral("Arial"));
        font.setBold(true);
        font.setPixelSize(int(size * 0.6));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(0, 0, size, size * 0.75), Qt::AlignCenter, QStringLiteral("T"));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon AppIcons::Tile(const QString &label, const QColor &colour)
{
    const int size = 24;
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(colour.darker(140));
    painter.drawRoundedRect(QRectF(1.5, 1.5, size - 3, size - 3), 4, 4);
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(label.size() > 1 ? 10 : 14);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, label);
    painter.end();
    return QIcon(pixmap);
}
