#pragma once

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

// Nothing in a window is cut short: every visible caption (label, button, group title) has at
// least the width its text needs, and every visible child lies inside the window.
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
        if (button && !button->text().isEmpty()) {
            EXPECT_GE(button->width(), button->sizeHint().width()) << qPrintable(button->text());
        }
        if (const auto *group = qobject_cast<const QGroupBox *>(child)) {
            EXPECT_GE(group->width(), group->minimumSizeHint().width())
                << qPrintable(group->title());
        }
    }
}
