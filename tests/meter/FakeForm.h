#pragma once

#include "lists/IFieldAccess.h"

#include <QMap>
#include <QString>
#include <QStringList>

// A form without widgets: field texts in a map, with the list, check-box, spin and slider
// behaviour of the Kelvane form's SetField/GetField, so the variable transfers can be checked
// as the real form would see them.
class FakeForm : public IFieldAccess
{
public:
    // Loads the units and alarm lists as the form does when it opens under a version family.
    explicit FakeForm(const QString &family = QString());
    void SetField(int id, const QString &text) override;
    QString GetField(int id) override;

    // What a user typing into a field does: the text as it stands, no SetField rules.
    void Type(int id, const QString &text) { m_text[id] = text; }
    QString Text(int id) const { return m_text.value(id); }
    QStringList List(int id) const { return m_lists.value(id); }
    // The user picks a line of a choice list.
    void Pick(int id, int line) { m_selected[id] = line; }
    int Selected(int id) const { return m_selected.value(id, -1); }
    QStringList Lines(int id) const { return m_lines.value(id); }

private:
    QMap<int, QString> m_text;
    QMap<int, QStringList> m_lists;
    QMap<int, QStringList> m_lines;
    QMap<int, int> m_selected;
    int m_listPos = 0;
};
