// The field binder: each kind of control shows the model's value and collects its own back.
#include "meter/FormFieldBinder.h"
#include "meter/FormBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <map>

namespace {
// A control's state as text: a text, a list's index, a tick (1/0), a position, a list's values.
QString State(QWidget *control)
{
    if (auto *edit = qobject_cast<QLineEdit *>(control))
        return edit->text();
    if (auto *label = qobject_cast<QLabel *>(control))
        return label->text();
    if (auto *box = qobject_cast<QComboBox *>(control))
        return QString::number(box->currentIndex());
    if (auto *check = qobject_cast<QCheckBox *>(control))
        return check->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    if (auto *slider = qobject_cast<QSlider *>(control))
        return QString::number(slider->value());
    QStringList items;
    auto *tree = qobject_cast<QTreeWidget *>(control);
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        items << tree->topLevelItem(i)->text(0) + tree->topLevelItem(i)->text(1);
    return items.join(QLatin1Char(','));
}

void Set(QWidget *control, const QString &state)
{
    if (auto *edit = qobject_cast<QLineEdit *>(control))
        edit->setText(state);
    else if (auto *label = qobject_cast<QLabel *>(control))
        label->setText(state);
    else if (auto *box = qobject_cast<QComboBox *>(control))
        box->setCurrentIndex(state.toInt());
    else if (auto *check = qobject_cast<QCheckBox *>(control))
        check->setChecked(state == QLatin1String("1"));
    else if (auto *slider = qobject_cast<QSlider *>(control))
        slider->setValue(state.toInt());
    else if (auto *tree = qobject_cast<QTreeWidget *>(control))
        tree->topLevelItem(1)->setText(1, state.split(QLatin1Char(',')).value(1));
}
} // namespace

TEST(FormFieldBinderTest, EachControlKindShowsAndCollects)
{
    enum { Edit = 1, Label, Choice, Tick, Slider, Items, SpinEdit, Spin, Limited, Other, Box };
    QWidget page;
    FormFieldBinder binder;
    FormBuilder builder(&page, binder, [](int) {});
    std::map<int, QString> model; // stable references
    const auto text = [&](int id) {
        binder.BindText(
            id, [&, id] { return model[id]; }, [&, id](const QString &t) { model[id] = t; },
            id == Limited ? 4 : 0);
    };
    builder.MakeEdit(Edit);
    text(Edit);
    binder.Register(Label, new QLabel(&page));
    text(Label);
    auto *choice = new QComboBox(&page);
    binder.Register(Choice, choice);
    binder.BindChoice(
        Choice, [&] { return model[Choice].toInt(); },
        [&](int i) { model[Choice] = QString::number(i); },
        [] {
            return QStringList { QStringLiteral("a"), QStringLiteral("b") };
        });
    binder.Register(Tick, new QCheckBox(&page));
    binder.BindTick(
        Tick, [&] { return model[Tick] == QLatin1String("1"); },
        [&](bool on) { model[Tick] = on ? QStringLiteral("1") : QStringLiteral("0"); });
    auto *slider = new QSlider(&page);
    slider->setRange(0, 255);
    binder.Register(Slider, slider);
    binder.BindPosition(
        Slider, [&] { return model[Slider].toInt(); },
        [&](int p) { model[Slider] = QString::number(p); });
    builder.MakeCoefficientList(&page, Items, { QString(), QString() });
    binder.BindItems(
        Items, [&] { return model[Items].split(QLatin1Char(',')); },
        [&](const QStringList &values) { model[Items] = values.join(QLatin1Char(',')); },
        [](int i) { return QString(QLatin1Char(char('A' + i))) + QLatin1Char('='); });
    builder.MakeSpinEdit(SpinEdit, Spin, 1, 200);
    text(SpinEdit);
    binder.Alias(Spin, SpinEdit);
    builder.MakeEdit(Limited);
    text(Limited);
    builder.MakeEdit(Other);
    binder.Register(Box, new QCheckBox(&page));
    binder.BindOthers([&](int id) { return model[id]; },
        [&](int id, const QString &t) { model[id] = QStringLiteral("other ") + t; });

    const struct
    {
        int id;
        const char *model; // shown from the model
        const char *shown; // the control then
        const char *typed; // the user's change
        const char *collected; // the model after collecting it
    } rows[] = {
        { Edit, "12.5", "12.5", "13", "13" }, { Label, "4.1A", "4.1A", "4.1B", "4.1B" },
        { Choice, "1", "1", "0", "0" },
        { Choice, "7", "-1", "-1", "-1" }, // past the lines: nothing selected
        { Tick, "1", "1", "0", "0" }, { Slider, "300", "255", "12", "12" },
        { Items, "1,2,3", "A=1,B=2,C=3", "1,9", "1,9,3" },
        { Spin, "7", "7", "9", "9" }, // the arrows' id is the edit
        { Limited, "abcd", "abcd", "abcdef", "abcd" }, // too long: not taken, no message
        { Other, "x", "x", "y", "other y" }, { Box, "1", "0", "1", "other TRUE" }, // collected only
    };
    for (const auto &row : rows) {
        QString &value = model[row.id == Spin ? int(SpinEdit) : row.id];
        value = QString::fromLatin1(row.model);
        binder.Show(row.id);
        QWidget *control = binder.Control(row.id);
        EXPECT_EQ(State(control), QLatin1String(row.shown)) << row.id;
        Set(control, QString::fromLatin1(row.typed));
        binder.Collect(row.id);
        EXPECT_EQ(value, QLatin1String(row.collected)) << row.id;
    }
    EXPECT_EQ(binder.OverLimit(), Limited);
    EXPECT_EQ(binder.MaxLength(Limited), 4);

    // The lines a list and the model share keep their items (and the current one).
    auto *tree = qobject_cast<QTreeWidget *>(binder.Control(Items));
    QTreeWidgetItem *first = tree->topLevelItem(0);
    tree->setCurrentItem(first);
    model[Items] = QStringLiteral("1,5");
    binder.Show(Items);
    EXPECT_EQ(State(tree), QStringLiteral("A=1,B=5"));
    EXPECT_EQ(tree->currentItem(), first);
    // A read-only edit's text is what a meter sent: taken whatever its length.
    binder.EditOf(Limited)->setReadOnly(true);
    EXPECT_EQ(binder.OverLimit(), 0);
    binder.CollectAll();
    EXPECT_EQ(model[Limited], QStringLiteral("abcdef"));
}
