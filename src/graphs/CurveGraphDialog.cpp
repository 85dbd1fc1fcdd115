#include "graphs/CurveGraphDialog.h"

#include "graphs/GraphArea.h"
#include "graphs/GraphExporter.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QTreeWidget>

CurveGraphDialog::CurveGraphDialog(const CurveSource &source, QWidget *parent)
    : QDialog(parent)
    , m_source(source)
{
    m_area = new GraphArea(this);
    m_area->setMinimumSize(560, 520);
    Register(kGraphArea, m_area);
    // Right click on the graph: save, copy or print it (labels are part of the picture).
    GraphExporter::AttachMenu(m_area, m_area, QString());
}

QStringList CurveGraphDialog::ListLines(int id) const
{
    QStringList lines;
    if (auto *list = qobject_cast<QTreeWidget *>(Control(id))) {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            lines << list->topLevelItem(i)->text(1);
    }
    return lines;
}

void CurveGraphDialog::Redraw()
{
    m_area->SetPicture(BuildPicture());
}

QTreeWidget *CurveGraphDialog::MakeList(int id, const QString &header, const QStringList &labels,
    const QStringList &lines, int visibleRows, QWidget *parent)
{
    auto *list = new QTreeWidget(parent);
    list->setColumnCount(2);
    list->setHeaderLabels({ QString(), header });
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setIndentation(0);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setFocusPolicy(Qt::NoFocus);
    list->header()->setStretchLastSection(true);
    list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    list->header()->setMinimumSectionSize(20);
    list->setHeaderHidden(header.isEmpty());
    for (int i = 0; i < lines.size(); ++i) {
        auto *item = new QTreeWidgetItem(list);
        item->setText(0, i < labels.size() ? labels.at(i) : QString());
        item->setText(1, lines.at(i));
    }
    const int rowHeight = fontMetrics().height() + 2;
    const int headerHeight = header.isEmpty() ? 0 : list->header()->sizeHint().height();
    list->setFixedHeight(rowHeight * visibleRows + headerHeight + 6);
    list->setMinimumWidth(
        fontMetrics().horizontalAdvance(QStringLiteral("CF -0.00000000e+00")) + 40);
    Register(id, list);
    return list;
}

QGroupBox *CurveGraphDialog::Group(const QString &title, QWidget *parent)
{
    return new QGroupBox(title, parent);
}

QStringList CurveGraphDialog::LetterLabels(bool withParameters)
{
    QStringList labels;
    for (char c = 'A'; c <= 'J'; ++c)
        labels << QString(QChar::fromLatin1(c)) + QLatin1Char('=');
    if (withParameters)
        labels << QStringLiteral("CF") << QStringLiteral("ZO") << QStringLiteral("CO");
    return labels;
}
