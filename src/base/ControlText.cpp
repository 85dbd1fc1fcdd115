#include "base/ControlText.h"

#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>

QString ControlText::Text(const QWidget *control)
{
    if (auto *edit = qobject_cast<const QLineEdit *>(control))
        return edit->text();
    if (auto *label = qobject_cast<const QLabel *>(control))
        return label->text();
    if (auto *box = qobject_cast<const QComboBox *>(control))
        return box->currentIndex() < 0 ? QString() : box->currentText();
    return QString();
}

bool ControlText::Ticked(const QWidget *control)
{
    auto *box = qobject_cast<const QAbstractButton *>(control);
    return box && box->isChecked();
}

int ControlText::Position(const QWidget *control)
{
    auto *slider = qobject_cast<const QAbstractSlider *>(control);
    return slider ? slider->value() : 0;
}

QStringList ControlText::Items(const QWidget *control, int column)
{
    QStringList items;
    if (auto *list = qobject_cast<const QTreeWidget *>(control)) {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            items.append(list->topLevelItem(i)->text(column));
    }
    return items;
}
