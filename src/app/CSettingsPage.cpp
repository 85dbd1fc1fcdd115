#include "app/CSettingsPage.h"

#include "app/CommSettings.h"

#include <QGroupBox>
#include <QListWidget>
#include <QVBoxLayout>

CSettingsPage::CSettingsPage(QWidget *parent)
    : QWidget(parent)
{
}

void CSettingsPage::OnSetActive()
{
    if (m_shown)
        return;
    m_shown = true;
    FillLists();
}

QListWidget *CSettingsPage::AddList(const QString &title, QWidget *parent, QGroupBox **box)
{
    auto *group = new QGroupBox(title, parent);
    auto *list = new QListWidget(group);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setMinimumWidth(list->fontMetrics().horizontalAdvance(QStringLiteral("/dev/serial/by-id/usb-XXXX")));
    auto *layout = new QVBoxLayout(group);
    layout->addWidget(list);
    if (box)
        *box = group;
    return list;
}

void CSettingsPage::FillAndSelect(QListWidget *list, const QStringList &entries, const QString &stored)
{
    list->clear();
    list->addItems(entries);
    const int index = CommSettings::FirstPrefixMatch(entries, stored);
    if (index >= 0) {
        list->setCurrentRow(index);
        list->scrollToItem(list->item(index));
    } else {
        list->setCurrentRow(-1);
        list->clearSelection();
    }
}

QString CSettingsPage::Selection(const QListWidget *list)
{
    const QList<QListWidgetItem *> selected = list->selectedItems();
    return selected.isEmpty() ? QString() : selected.constFirst()->text();
}
