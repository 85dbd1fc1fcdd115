#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QLineEdit;
class QObject;
class QWidget;

// Moves a meter form's fields between their controls and the form's field model, by field id.
// It keeps the form's controls by id (an edit with arrows is found under its arrows' id too)
// and, for each bound field, how the model gives and takes its value: a text (an edit or a
// label), a choice (a list's selected line, and the lines to fill the list with), a tick, a
// slider's position, or a coefficient list's values. Show puts the model's value into the
// control, Collect the control's value into the model. Neither ever shows a message, so a
// command list may read and write fields while its dialogue is suspended: a text the user typed
// past its field's length limit is not collected (the model keeps its value), and OverLimit
// finds it for the commands the user starts (Save, Send, Convert) to say so.
class FormFieldBinder
{
public:
    // The controls by field id. The first id a control is registered under is its own (IdOf);
    // a control without an object name is named after it.
    void Register(int id, QWidget *control);
    QWidget *Control(int id) const { return m_byId.value(id); }
    QLineEdit *EditOf(int id) const;
    int IdOf(const QObject *control) const { return m_idOf.value(control, 0); }
    const QHash<int, QWidget *> &Controls() const { return m_byId; }

    // How the model gives (shown) and takes (take) a field's value. A text over maxLength
    // characters (0: no limit) in an edit the user can type into is not taken.
    void BindText(int id, std::function<QString()> shown, std::function<void(const QString &)> take,
        int maxLength = 0);
    // A list's selected index; lines, when given, are the lines the list shows.
    void BindChoice(int id, std::function<int()> shown, std::function<void(int)> take,
        std::function<QStringList()> lines = {});
    void BindTick(int id, std::function<bool()> shown, std::function<void(bool)> take);
    void BindPosition(int id, std::function<int()> shown, std::function<void(int)> take);
    // A coefficient list's values (its second column); label gives line i's first column.
    void BindItems(int id, std::function<QStringList()> shown,
        std::function<void(const QStringList &)> take, std::function<QString(int)> label);
    // A registered control without a binding of its own: an edit's or label's text both ways;
    // a check box ("TRUE"/"FALSE") and a button's caption are only taken.
    void BindOthers(
        std::function<QString(int id)> shown, std::function<void(int id, const QString &)> take);
    // Field id moves through the binding and control of boundId (a list's reset, a spin's
    // arrows).
    void Alias(int id, int boundId) { m_alias.insert(id, boundId); }

    // One field, or every bound field in the order bound.
    void Show(int id);
    void Collect(int id);
    void ShowAll();
    void CollectAll();

    // The first bound field (in the order bound) whose edit holds more than its limit; 0 when
    // none does.
    int OverLimit() const;
    int MaxLength(int id) const;

private:
    enum class Kind { Text, Choice, Tick, Position, Items };
    struct Binding
    {
        int id = 0;
        Kind kind = Kind::Text;
        std::function<QString()> text;
        std::function<void(const QString &)> takeText;
        std::function<int()> number;
        std::function<void(int)> takeNumber;
        std::function<QStringList()> lines;
        std::function<void(const QStringList &)> takeLines;
        std::function<QString(int)> label;
        int maxLength = 0;
    };
    Binding &Add(int id, Kind kind);
    void Show(const Binding &binding, QWidget *control) const;
    void Collect(const Binding &binding, QWidget *control) const;
    bool OverLimit(const Binding &binding) const;
    int Resolved(int id) const { return m_alias.value(id, id); }

    QHash<int, QWidget *> m_byId;
    QHash<const QObject *, int> m_idOf;
    QHash<int, int> m_alias;
    std::vector<Binding> m_bindings;
    QHash<int, size_t> m_bindingOf;
    std::function<QString(int)> m_othersShown;
    std::function<void(int, const QString &)> m_othersTake;
};
