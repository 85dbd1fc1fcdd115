#pragma once

#include <QRect>

// Where a window goes on a screen or in the main window's area: its own size and place where
// they fit, otherwise as large as the area allows and moved in from the right and bottom edges
// (never above or left of the area). GUI-free geometry; WindowFit applies it to widgets.
class ScreenFit
{
public:
    static QRect Place(const QRect &wanted, const QRect &area);
    // True when a window of this size fits the area without shrinking.
    static bool Fits(const QSize &size, const QRect &area)
    {
        return size.width() <= area.width() && size.height() <= area.height();
    }
};
