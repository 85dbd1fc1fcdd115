#pragma once

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QToolButton>
#include <QWidget>

#include <gtest/gtest.h>

// Nothing in a window is cut short: every visible caption (label, button, group title) has at
// least the width its text needs.
inline void ExpectNothingClipped(const QWidget *window)
{
    for (const QWidget *child : window->findChildren<QWidget *>()) {
        if (!child->isVisibleTo(window))
            continue;
        if (const auto *label = qobject_cast<const QLabel *>(child)) {
            if (!label->text().isEmpty()
                && label->sizePolicy().horizontalPolicy() != QSizePolicy::Ignored) {
                EXPECT_GE(label->width(), label->sizeHint().width()) << qPrintable(label->text());
            }
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
    }
}
