#include "base/ScreenFit.h"

#include <algorithm>

QRect ScreenFit::Place(const QRect &wanted, const QRect &area)
{
    const QSize size = wanted.size().boundedTo(area.size()).expandedTo(QSize(1, 1));
    const int x
        = std::max(area.left(), std::min(wanted.x(), area.left() + area.width() - size.width()));
    const int y
        = std::max(area.top(), std::min(wanted.y(), area.top() + area.height() - size.height()));
    return QRect(QPoint(x, y), size);
}
