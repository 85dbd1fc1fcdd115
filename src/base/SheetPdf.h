#pragma once

#include "base/SheetPage.h"

#include <QPageLayout>
#include <QString>

#include <functional>

// Writes a datasheet page into a PDF file with QPdfWriter, on QtGui alone (no printer, no
// widget): the page is built for the writer's font metrics and drawn by SheetRenderer inside the
// layout's margins. The forms' "Export Datasheet as PDF..." and `tarvik-cli sheet` write
// through it, so both files hold the same page.
class SheetPdf
{
public:
    using Builder = std::function<SheetPage(const SheetMetrics &metrics)>;

    // False when the file could not be written (a missing folder, no permission); the file
    // that was at path then stays as it was.
    static bool Write(const QString &path, const Builder &builder, const QPageLayout &layout,
        const QString &title, const QString &creator = QStringLiteral("Tarvik"));
    // Several pages, one after another in one file, each built for the writer's metrics by
    // pageBuilder(index); false as Write. No page at all is refused.
    using PageBuilder = std::function<SheetPage(int index, const SheetMetrics &metrics)>;
    static bool WritePages(const QString &path, int count, const PageBuilder &pageBuilder,
        const QPageLayout &layout, const QString &title,
        const QString &creator = QStringLiteral("Tarvik"));
    // The paper of a sheet written without a print setup: A4 portrait, half-inch margins.
    static QPageLayout DefaultLayout();
};
