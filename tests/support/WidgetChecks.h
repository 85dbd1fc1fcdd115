#pragma once

#include "base/FieldWidth.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyleOption>
#include <QToolButton>
#include <QWidget>

#include <gtest/gtest.h>

// Nothing in a window is cut short: every visible caption (label, button, group title), the
// text of every field and every entry of every list box has the room its text needs: a list box
// shows the whole of its longest entry.
inline void ExpectNothingClipped(const QWidget *window)
{
    for (const QWidget *child : window->findChildren<QWidget *>()) {
        if (!child->isVisibleTo(window))
            continue;
        const auto *label = qobject_cast<const QLabel *>(child);
        if (label && !label->text().isEmpty()
            && label->sizePolicy().horizontalPolicy() != QSizePolicy::Ignored) {
            EXPECT_TRUE(label->wordWrap() ? label->height() >= label->heightForWidth(label->width())
                                          : label->width() >= label->sizeHint().width())
                << qPrintable(label->text());
        }
        const auto *button = qobject_cast<const QAbstractButton *>(child);
        const auto *tool = qobject_cast<const QToolButton *>(child);
        if (tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly && !tool->icon().isNull())
            button = nullptr; // shows its icon, not its text
        if (button && !button->text().isEmpty()) {
            // The text itself must fit (a button's size hint adds a style's minimum width,
            // which small tool buttons do without).
            QString text = button->text();
            text.remove(QLatin1Char('&'));
            const int needed = button->fontMetrics().horizontalAdvance(text) + 6
                + (button->icon().isNull() ? 0 : button->iconSize().width());
            EXPECT_GE(button->width(), needed) << qPrintable(button->text());
        }
        if (const auto *group = qobject_cast<const QGroupBox *>(child)) {
            EXPECT_GE(group->width(), group->minimumSizeHint().width())
                << qPrintable(group->title());
        }
        const auto *edit = qobject_cast<const QLineEdit *>(child);
        if (edit && !qobject_cast<const QComboBox *>(edit->parentWidget())) {
            EXPECT_GE(edit->width(), FieldWidth::Needed(edit, edit->displayText()))
                << qPrintable(edit->text());
        }
        if (const auto *box = qobject_cast<const QComboBox *>(child)) {
            QStyleOptionComboBox option;
            option.initFrom(box);
            const int room = box->style()
                                 ->subControlRect(QStyle::CC_ComboBox, &option,
                                     QStyle::SC_ComboBoxEditField, box)
                                 .width();
            for (int i = 0; i < box->count(); ++i)
                EXPECT_LE(box->fontMetrics().horizontalAdvance(box->itemText(i)), room)
                    << qPrintable(box->itemText(i));
        }
    }
}
