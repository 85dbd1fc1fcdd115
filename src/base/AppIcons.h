#pragma once

#include <QIcon>

// The program's icon and its toolbar images, drawn at run time (no image files to ship).
class AppIcons
{
public:
    static QIcon Program();
    // A toolbar button image: a short label on a coloured tile.
    static QIcon Tile(const QString &label, const QColor &colour);
};
