#include "meter/CoefficientEdit.h"

#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>

int CoefficientEdit::Current() const
{
    return m_list->indexOfTopLevelItem(m_list->currentItem());
}

bool CoefficientEdit::Open(int index)
{
    index = qMax(index, ZarnFormRules::FirstEditable(m_kind));
    if (index >= m_list->topLevelItemCount())
        return false;
    m_list->setCurrentItem(m_list->topLevelItem(index));
    m_list->scrollToItem(m_list->topLevelItem(index));
    m_label->setText(ZarnFormRules::ItemLabel(m_kind, index));
    m_edit->setText(m_list->topLevelItem(index)->text(1));
    m_edit->setFocus();
    m_edit->selectAll();
    return true;
}

bool CoefficientEdit::Enter()
{
    const int index = Current();
    if (m_edit->text().isEmpty() || index < ZarnFormRules::FirstEditable(m_kind)
        || index >= m_list->topLevelItemCount())
        return false;
    m_list->topLevelItem(index)->setText(1, m_edit->text());
    Clear();
    m_list->setFocus();
    return true;
}

int CoefficientEdit::Next(int step) const
{
    const int index = Current();
    const int next = step > 0 ? ZarnFormRules::WalkDown(m_kind, index, m_list->topLevelItemCount())
                              : ZarnFormRules::WalkUp(m_kind, index);
    return next == index ? -1 : next;
}

void CoefficientEdit::Clear()
{
    m_edit->clear();
    m_label->setText(QStringLiteral("="));
}
