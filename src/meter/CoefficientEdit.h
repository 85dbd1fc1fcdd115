#pragma once

#include "meter/ZarnFormRules.h"

class QLabel;
class QLineEdit;
class QTreeWidget;

// One coefficient list of a meter form with the edit box and label that change its lines, as
// both forms edit them: a line opened in the edit with its label ("A=", "@5%="), Enter putting
// the edit's text into the line, and the walk up and down (wrapping to the first editable line).
class CoefficientEdit
{
public:
    CoefficientEdit() = default;
    CoefficientEdit(
        ZarnFormRules::CoeffList kind, QTreeWidget *list, QLineEdit *edit, QLabel *label)
        : m_kind(kind)
        , m_list(list)
        , m_edit(edit)
        , m_label(label)
    {
    }

    ZarnFormRules::CoeffList Kind() const { return m_kind; }
    QTreeWidget *List() const { return m_list; }
    QLineEdit *Edit() const { return m_edit; }
    QLabel *Label() const { return m_label; }
    // The selected line; -1 for none.
    int Current() const;

    // Selects line index (at least the first editable one) and opens it in the edit with its
    // label, the edit focused and its text selected; false past the list's end.
    bool Open(int index);
    // Enter: the selected line takes the edit's text, the edit empties, its label reads "=" and
    // the list takes the focus. False when the edit is empty or no editable line is selected.
    bool Enter();
    // The line Down (+1) or Up (-1) goes to from the selected one; -1 when it stays.
    int Next(int step) const;
    // Empties the edit; its label reads "=".
    void Clear();

private:
    ZarnFormRules::CoeffList m_kind = ZarnFormRules::CoeffList::Primary;
    QTreeWidget *m_list = nullptr;
    QLineEdit *m_edit = nullptr;
    QLabel *m_label = nullptr;
};
