#include "app/CSettingsPage.h"

#include "app/CommSettings.h"
#include "base/CPrefs.h"
#include "link/SerialPortList.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
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
    list->setMinimumWidth(
        list->fontMetrics().horizontalAdvance(QStringLiteral("/dev/serial/by-id/usb-XXXX")));
    auto *layout = new QVBoxLayout(group);
    layout->addWidget(list);
    if (box)
        *box = group;
    return list;
}

void CSettingsPage::FillAndSelect(
    QListWidget *list, const QStringList &entries, const QString &stored)
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

QLineEdit *CSettingsPage::AddPathField(QGroupBox *box, QListWidget *list)
{
    auto *field = new QLineEdit(box);
    field->setPlaceholderText(QStringLiteral("/dev/..."));
    if (auto *layout = qobject_cast<QVBoxLayout *>(box->layout())) {
        layout->addWidget(new QLabel(QStringLiteral("Device path"), box));
        layout->addWidget(field);
    }
    connect(list, &QListWidget::itemClicked, field, [field](QListWidgetItem *item) {
        field->setText(SerialPortList::IsTypedText(item->text()) ? item->text() : QString());
    });
    connect(field, &QLineEdit::textEdited, list, [list](const QString &text) {
        if (SerialPortList::IsTypedText(text))
            list->clearSelection();
    });
    return field;
}

QString CSettingsPage::RememberedPath(const QString &key)
{
    auto store = CPrefs::OpenStore();
    return CPrefs::ReadText(
        *store, key.section(QLatin1Char('/'), 0, 0), key.section(QLatin1Char('/'), 1));
}

void CSettingsPage::FillPath(QLineEdit *field, const QString &stored, const QString &key)
{
    if (SerialPortList::IsTypedText(stored)) {
        CPrefs::OpenStore()->setValue(key, stored); // still on offer after another port is chosen
        field->setText(stored);
    } else {
        field->setText(RememberedPath(key));
    }
}

QString CSettingsPage::PortChoice(
    const QListWidget *list, const QLineEdit *field, const QString &key)
{
    const QString typed = field->text().trimmed();
    if (SerialPortList::IsTypedText(typed) && list->selectedItems().isEmpty()) {
        CPrefs::OpenStore()->setValue(key, typed);
        return typed;
    }
    const QString chosen = Selection(list);
    if (SerialPortList::IsTypedText(chosen))
        CPrefs::OpenStore()->setValue(key, chosen);
    return chosen;
}
