#pragma once

#include "base/SheetPage.h"

#include <QFont>
#include <QRectF>

class QPaintDevice;
class QPainter;

// Draws a datasheet page on a paint device (a printer, a PDF or the print preview) in twips:
// each line's top-left corner at its position from the area's top-left corner, in the fonts of
// its role at their character heights. A page that would not fit the area is scaled evenly
// until it does, its positions kept; a page that fits is drawn at its own size.
class SheetRenderer
{
public:
    // Characters of a line that count when fitting the page: the sheets' own lines are shorter,
    // so a field of hundreds of characters is cut at the area's edge instead of shrinking the
    // whole sheet.
    static constexpr int kFitColumns = 100;

    // The font of a role for a device: "Arial Black" as the heaviest installed proportional face,
    // "Courier New" (or its metric twin) for the body; sizes are character heights.
    static QFont Font(SheetFont role);
    // The line pitch of each font on the device, in twips.
    static SheetMetrics Measure(QPaintDevice *device);
    // The scale that makes page fit area (device pixels) on device: 1 when it fits.
    static double FitScale(const SheetPage &page, QPaintDevice *device, const QRectF &area);
    // Draws page into area (device pixels) with painter, clipped to the area; gives the scale used.
    static double Draw(QPainter &painter, const SheetPage &page, const QRectF &area);
};
