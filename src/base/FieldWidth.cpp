#include "base/FieldWidth.h"

#include <QFrame>
#include <QLineEdit>
#include <QPalette>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QVBoxLayout>

int FieldWidth::Needed(const QLineEdit *edit, const QString &text)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->hasFrame()
        ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
        : 0;
    const QMargins margins = edit->textMargins();
    // The frame, the line edit's own inner margin of 2 px a side and the cursor.
    const int textWidth = edit->fontMetrics().horizontalAdvance(text) + 2 * 2 + 2 + margins.left()
        + margins.right();
    return edit->style()
        ->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(textWidth, edit->height()), edit)
        .width();
}

void FieldWidth::Watch(QLineEdit *edit, const char *sample)
{
    if (sample) {
        const int width = Needed(edit, QString::fromLatin1(sample));
        if (edit->minimumWidth() == edit->maximumWidth() && edit->maximumWidth() < width)
            edit->setFixedWidth(width);
        else if (edit->minimumWidth() < width)
            edit->setMinimumWidth(width);
    }
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit](const QString &text) {
        const int width = Needed(edit, text);
        const bool fixed = edit->minimumWidth() == edit->maximumWidth();
        if (fixed && edit->maximumWidth() < width)
            edit->setFixedWidth(width);
        else if (!fixed && edit->minimumWidth() < width)
            edit->setMinimumWidth(width);
        // A text given to the field (not typed into it) shows from its first character.
        if (!edit->isModified())
            edit->setCursorPosition(0);
    });
}

QScrollArea *FieldWidth::Scrolling(QWidget *view, QWidget *content)
{
    auto *scroll = new QScrollArea(view);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(content);
    auto *layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    return scroll;
}

void FieldWidth::SetReadOnly(QLineEdit *edit, bool readOnly)
{
    edit->setReadOnly(readOnly);
    QPalette palette = edit->palette();
    const QPalette parent = edit->parentWidget() ? edit->parentWidget()->palette() : QPalette();
    palette.setColor(
        QPalette::Base, readOnly ? parent.color(QPalette::Window) : parent.color(QPalette::Base));
    edit->setPalette(palette);
}
