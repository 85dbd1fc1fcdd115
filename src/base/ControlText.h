#pragma once

#include "base/IShownFields.h"

#include <QStringList>

#include <functional>

class QWidget;

// What a form's control shows, read without the form's own field rules: an edit's or label's
// text, a list's selected line (empty when nothing is selected), a box's tick, a slider's
// position, the values of a two-column coefficient list. The datasheets read the forms with it,
// so a sheet prints what is on the screen and reading never pops a message: an instance is a
// form's controls (found by id through controlOf) as the datasheet readers take them.
class ControlText : public IShownFields
{
public:
    explicit ControlText(std::function<const QWidget *(int id)> controlOf)
        : m_controlOf(std::move(controlOf))
    {
    }
    QString ShownText(int id) override { return Text(m_controlOf(id)); }
    bool ShownTicked(int id) override { return Ticked(m_controlOf(id)); }
    int ShownPosition(int id) override { return Position(m_controlOf(id)); }
    QStringList ShownItems(int id) override { return Items(m_controlOf(id)); }

    static QString Text(const QWidget *control);
    static bool Ticked(const QWidget *control);
    static int Position(const QWidget *control);
    // Column `column` of every line of a list view.
    static QStringList Items(const QWidget *control, int column = 1);

private:
    std::function<const QWidget *(int id)> m_controlOf;
};
