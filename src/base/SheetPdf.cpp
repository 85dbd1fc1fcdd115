#include "base/SheetPdf.h"

#include "base/SheetRenderer.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

bool SheetPdf::Write(const QString &path, const Builder &builder, const QPageLayout &layout,
    const QString &title, const QString &creator)
{
    return WritePages(
        path, 1, [&builder](int, const SheetMetrics &metrics) { return builder(metrics); }, layout,
        title, creator);
}

bool SheetPdf::WritePages(const QString &path, int count, const PageBuilder &pageBuilder,
    const QPageLayout &layout, const QString &title, const QString &creator)
{
    if (count < 1)
        return false;
    // Written beside the file and moved over it once whole: a failed write leaves no half PDF
    // and keeps the one that was there.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QPdfWriter pdf(&file);
    // The resolution a high-resolution printer gives a PDF, so positions round as they print.
    pdf.setResolution(1200);
    pdf.setPageLayout(layout);
    pdf.setTitle(title);
    pdf.setCreator(creator);
    QPainter painter;
    if (!painter.begin(&pdf))
        return false;
    const SheetMetrics metrics = SheetRenderer::Measure(&pdf);
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !pdf.newPage())
            return false;
        SheetRenderer::Draw(
            painter, pageBuilder(i, metrics), QRectF(0, 0, pdf.width(), pdf.height()));
    }
    return painter.end() && file.commit();
}

QPageLayout SheetPdf::DefaultLayout()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
        QMarginsF(12.7, 12.7, 12.7, 12.7), QPageLayout::Millimeter);
}
