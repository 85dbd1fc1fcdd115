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
    const SheetPage page = builder(SheetRenderer::Measure(&pdf));
    SheetRenderer::Draw(painter, page, QRectF(0, 0, pdf.width(), pdf.height()));
    return painter.end() && file.commit();
}

QPageLayout SheetPdf::DefaultLayout()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
        QMarginsF(12.7, 12.7, 12.7, 12.7), QPageLayout::Millimeter);
}
