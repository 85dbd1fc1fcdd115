#include "meter/FormFieldBinder.h"

#include "base/ControlText.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>

void FormFieldBinder::Register(int id, QWidget *control)
{
    m_byId.insert(id, control);
    if (!m_idOf.contains(control))
        m_idOf.insert(control, id);
    if (control->objectName().isEmpty())
        control->setObjectName(QString::number(id));
}

QLineEdit *FormFieldBinder::EditOf(int id) const
{
    return qobject_cast<QLineEdit *>(m_byId.value(id));
}

FormFieldBinder::Binding &FormFieldBinder::Add(int id, Kind kind)
{
    m_bindingOf.insert(id, m_bindings.size());
    Binding &binding = m_bindings.emplace_back();
    binding.id = id;
    binding.kind = kind;
    return binding;
}

void FormFieldBinder::BindText(int id, std::function<QString()> shown,
    std::function<void(const QString &)> take, int maxLength)
{
    Binding &binding = Add(id, Kind::Text);
    binding.text = std::move(shown);
    binding.takeText = std::move(take);
    binding.maxLength = maxLength;
}

void FormFieldBinder::BindChoice(int id, std::function<int()> shown, std::function<void(int)> take,
    std::function<QStringList()> lines)
{
    Binding &binding = Add(id, Kind::Choice);
    binding.number = std::move(shown);
    binding.takeNumber = std::move(take);
    binding.lines = std::move(lines);
}

void FormFieldBinder::BindTick(int id, std::function<bool()> shown, std::function<void(bool)> take)
{
    Binding &binding = Add(id, Kind::Tick);
    binding.number = [shown = std::move(shown)] { return shown() ? 1 : 0; };
    binding.takeNumber = [take = std::move(take)](int ticked) { take(ticked != 0); };
}

void FormFieldBinder::BindPosition(
    int id, std::function<int()> shown, std::function<void(int)> take)
{
    Binding &binding = Add(id, Kind::Position);
    binding.number = std::move(shown);
    binding.takeNumber = std::move(take);
}

void FormFieldBinder::BindItems(int id, std::function<QStringList()> shown,
    std::function<void(const QStringList &)> take, std::function<QString(int)> label)
{
    Binding &binding = Add(id, Kind::Items);
    binding.lines = std::move(shown);
    binding.takeLines = std::move(take);
    binding.label = std::move(label);
}

void FormFieldBinder::BindOthers(
    std::function<QString(int)> shown, std::function<void(int, const QString &)> take)
{
    m_othersShown = std::move(shown);
    m_othersTake = std::move(take);
}

void FormFieldBinder::Show(int id)
{
    const int bound = Resolved(id);
    QWidget *control = Control(bound);
    if (const auto found = m_bindingOf.constFind(bound); found != m_bindingOf.cend()) {
        Show(m_bindings[found.value()], control);
        return;
    }
    if (!m_othersShown)
        return;
    const QString text = m_othersShown(bound);
    if (auto *edit = qobject_cast<QLineEdit *>(control)) {
        if (edit->text() != text)
            edit->setText(text);
    } else if (auto *label = qobject_cast<QLabel *>(control)) {
        if (label->text() != text)
            label->setText(text);
    }
}

void FormFieldBinder::Collect(int id)
{
    const int bound = Resolved(id);
    QWidget *control = Control(bound);
    if (const auto found = m_bindingOf.constFind(bound); found != m_bindingOf.cend()) {
        Collect(m_bindings[found.value()], control);
        return;
    }
    if (!m_othersTake || !control)
        return;
    if (auto *edit = qobject_cast<QLineEdit *>(control))
        m_othersTake(bound, edit->text());
    else if (auto *label = qobject_cast<QLabel *>(control))
        m_othersTake(bound, label->text());
    else if (auto *box = qobject_cast<QCheckBox *>(control))
        m_othersTake(bound, box->isChecked() ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
    else if (auto *button = qobject_cast<QAbstractButton *>(control))
        m_othersTake(bound, button->text());
}

void FormFieldBinder::ShowAll()
{
    for (const Binding &binding : m_bindings)
        Show(binding, Control(binding.id));
}

void FormFieldBinder::CollectAll()
{
    for (const Binding &binding : m_bindings)
        Collect(binding, Control(binding.id));
}

void FormFieldBinder::Show(const Binding &binding, QWidget *control) const
{
    switch (binding.kind) {
    case Kind::Text: {
        const QString text = binding.text();
        if (auto *edit = qobject_cast<QLineEdit *>(control)) {
            if (edit->text() != text)
                edit->setText(text);
        } else if (auto *label = qobject_cast<QLabel *>(control)) {
            if (label->text() != text)
                label->setText(text);
        }
        return;
    }
    case Kind::Choice:
        if (auto *box = qobject_cast<QComboBox *>(control)) {
            if (binding.lines) {
                const QStringList lines = binding.lines();
                QStringList shown;
                for (int i = 0; i < box->count(); ++i)
                    shown.append(box->itemText(i));
                if (shown != lines) {
                    box->clear();
                    box->addItems(lines);
                }
            }
            // An index past the lines selects nothing.
            if (box->currentIndex() != binding.number())
                box->setCurrentIndex(binding.number());
        }
        return;
    case Kind::Tick:
        if (auto *box = qobject_cast<QAbstractButton *>(control))
            box->setChecked(binding.number() != 0);
        return;
    case Kind::Position:
        if (auto *slider = qobject_cast<QAbstractSlider *>(control))
            slider->setValue(binding.number());
        return;
    case Kind::Items:
        if (auto *tree = qobject_cast<QTreeWidget *>(control)) {
            // The lines both hold stay (with the list's current line); the rest follow the model.
            const QStringList values = binding.lines();
            int same = 0;
            while (same < values.size() && same < tree->topLevelItemCount()
                && tree->topLevelItem(same)->text(1) == values.at(same))
                ++same;
            while (tree->topLevelItemCount() > same)
                delete tree->takeTopLevelItem(tree->topLevelItemCount() - 1);
            for (int i = same; i < values.size(); ++i) {
                auto *item = new QTreeWidgetItem(tree);
                item->setText(0, binding.label(i));
                item->setText(1, values.at(i));
            }
        }
        return;
    }
}

void FormFieldBinder::Collect(const Binding &binding, QWidget *control) const
{
    switch (binding.kind) {
    case Kind::Text:
        if (OverLimit(binding))
            return;
        if (auto *edit = qobject_cast<QLineEdit *>(control))
            binding.takeText(edit->text());
        else if (auto *label = qobject_cast<QLabel *>(control))
            binding.takeText(label->text());
        else
            binding.takeText(QString());
        return;
    case Kind::Choice:
        if (auto *box = qobject_cast<QComboBox *>(control))
            binding.takeNumber(box->currentIndex());
        return;
    case Kind::Tick:
        if (auto *box = qobject_cast<QAbstractButton *>(control))
            binding.takeNumber(box->isChecked() ? 1 : 0);
        return;
    case Kind::Position:
        if (auto *slider = qobject_cast<QAbstractSlider *>(control))
            binding.takeNumber(slider->value());
        return;
    case Kind::Items:
        if (control)
            binding.takeLines(ControlText::Items(control));
        return;
    }
}

bool FormFieldBinder::OverLimit(const Binding &binding) const
{
    // A text the user cannot change (what a meter sent) is taken as it came.
    const QLineEdit *edit = EditOf(binding.id);
    return binding.maxLength > 0 && edit && !edit->isReadOnly()
        && edit->text().size() > binding.maxLength;
}

int FormFieldBinder::OverLimit() const
{
    for (const Binding &binding : m_bindings)
        if (binding.kind == Kind::Text && OverLimit(binding))
            return binding.id;
    return 0;
}

int FormFieldBinder::MaxLength(int id) const
{
    const auto found = m_bindingOf.constFind(Resolved(id));
    return found == m_bindingOf.cend() ? 0 : m_bindings[found.value()].maxLength;
}
