#include "meter/KelvaneFormLayout.h"

#include "base/FieldWidth.h"
#include "meter/FieldIds.h"
#include "meter/FormBuilder.h"
#include "meter/FormFieldBinder.h"
#include "meter/KelvaneFieldRules.h"
#include "meter/KelvaneFields.h"
#include "meter/KelvaneFormFields.h"
#include "meter/ZarnFormRules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>
#include <QVBoxLayout>

QString KelvaneFormLayout::CaptionOf(int id)
{
    return KelvaneFormFields::CaptionOf(id);
}

QLabel *KelvaneFormLayout::Caption(const QString &text, QWidget *parent)
{
    return FormBuilder::Caption(text, parent);
}

QGridLayout *KelvaneFormLayout::GridIn(QGroupBox *box)
{
    return FormBuilder::GridIn(box);
}
KelvaneFormLayout::KelvaneFormLayout(
    QWidget *form, FormBuilder &builder, FormFieldBinder &binder, Controls &controls)
    : m_form(form)
    , m_build(builder)
    , m_binder(binder)
    , m_c(controls)
{
}

void KelvaneFormLayout::Build()
{
    // Build order decides the order of the groups' controls in the focus chain.
    QWidget *version = BuildVersionGroup();
    QWidget *range = BuildRangeGroup();
    QWidget *alarms = BuildAlarmGroup();
    QWidget *parameters = BuildParameterGroup();
    QWidget *adcDac = BuildAdcDacGroups();
    QWidget *lcd = BuildLcdGroup();
    QWidget *curveFit = BuildCurveFitGroup();
    QWidget *options = BuildOptionsGroup();
    QWidget *misc = BuildMiscGroup();
    m_build.LayOutColumns(
        version, range, { alarms, parameters, adcDac, lcd }, { curveFit, options, misc }, 1, 1);

    m_c.m_hiddenDesired = new QLineEdit(m_form);
    m_c.m_hiddenDesired->hide();
    m_binder.Register(FieldId::DesiredHidden, m_c.m_hiddenDesired);
}

QWidget *KelvaneFormLayout::BuildVersionGroup()
{
    QGroupBox *box = m_build.MakeVersionGroup(QStringLiteral("Flow Meter"), QStringLiteral("4.1A "),
        0, m_c.m_flowMeterVersion, m_c.m_revision, m_c.m_templateVersion);
    static_cast<QGridLayout *>(box->layout())
        ->addWidget(FormBuilder::MakeLogo(box, QStringLiteral("#1d4f91")), 2, 0, 1, 4);
    return box;
}

QWidget *KelvaneFormLayout::BuildRangeGroup()
{
    auto *box = m_build.Group(QStringLiteral("Range"));
    auto *grid = GridIn(box);
    m_c.m_active = m_build.MakeEdit(FieldId::ActiveRange, 26);
    FieldWidth::SetReadOnly(m_c.m_active, true);
    m_c.m_desired = new QComboBox(box);
    for (int i = 1; i <= 4; ++i)
        m_c.m_desired->addItem(QString::number(i));
    m_c.m_desired->setCurrentIndex(-1);
    m_binder.Register(FieldId::DesiredRange, m_c.m_desired);
    m_c.m_readButton = new QPushButton(QStringLiteral("Read Active"), box);
    m_c.m_sendButton = new QPushButton(QStringLiteral("Send Active"), box);
    m_c.m_changeButton = new QPushButton(QStringLiteral("Change"), box);
    // Alt and a letter reach the range buttons, which stand some fifty Tabs into the form; the
    // captions stay as the form's fields and datasheets read them.
    m_c.m_readButton->setShortcut(QKeySequence(Qt::ALT | Qt::Key_R));
    m_c.m_sendButton->setShortcut(QKeySequence(Qt::ALT | Qt::Key_S));
    m_c.m_changeButton->setShortcut(QKeySequence(Qt::ALT | Qt::Key_C));
    for (QPushButton *b : { m_c.m_readButton, m_c.m_sendButton, m_c.m_changeButton })
        b->setToolTip(b->shortcut().toString(QKeySequence::NativeText));
    m_binder.Register(FieldId::ReadActive, m_c.m_readButton);
    m_binder.Register(FieldId::SendActive, m_c.m_sendButton);
    m_binder.Register(FieldId::Change, m_c.m_changeButton);
    grid->addWidget(Caption(QStringLiteral("Active"), box), 0, 0);
    grid->addWidget(m_c.m_active, 0, 1);
    grid->addWidget(Caption(CaptionOf(FieldId::DesiredRange), box), 0, 2);
    grid->addWidget(m_c.m_desired, 0, 3);
    grid->addWidget(m_c.m_readButton, 1, 0, 1, 2);
    grid->addWidget(m_c.m_sendButton, 1, 2, 1, 2);
    grid->addWidget(m_c.m_changeButton, 2, 0, 1, 2);
    grid->addWidget(Caption(QStringLiteral("Active to Desired"), box), 2, 2, 1, 2);
    return box;
}

QWidget *KelvaneFormLayout::BuildAdcDacGroups()
{
    auto *holder = new QWidget(m_form);
    auto *row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);

    auto *adc = m_build.Group(QStringLiteral("Input ADC"), holder);
    auto *adcGrid = GridIn(adc);
    adcGrid->addWidget(Caption(QStringLiteral("Filter"), adc), 0, 0);
    adcGrid->addWidget(
        m_build.MakeSpinEdit(FieldId::AdcFilterEdit, FieldId::AdcFilterSpin, 1, 200), 0, 1);

    auto *dac = m_build.Group(QStringLiteral("Output DAC"), holder);
    auto *dacGrid = GridIn(dac);
    dacGrid->addWidget(Caption(QStringLiteral("Filter"), dac), 0, 0);
    dacGrid->addWidget(
        m_build.MakeSpinEdit(FieldId::DacFilterEdit, FieldId::DacFilterSpin, 1, 200), 0, 1);
    dacGrid->addWidget(Caption(QStringLiteral("Time"), dac), 0, 2);
    dacGrid->addWidget(
        m_build.MakeSpinEdit(FieldId::DacTimeEdit, FieldId::DacTimeSpin, 1, 200), 0, 3);

    row->addWidget(adc);
    row->addWidget(dac, 1);
    return holder;
}

QWidget *KelvaneFormLayout::BuildAlarmGroup()
{
    auto *box = m_build.Group(QStringLiteral("Alarm/Relay Settings"));
    auto *grid = GridIn(box);
    grid->addWidget(Caption(QStringLiteral("Function"), box), 0, 1);
    grid->addWidget(Caption(QStringLiteral("Value"), box), 0, 2);
    grid->addWidget(Caption(QStringLiteral("Trip Delay"), box), 0, 3);
    const char *const rows[] = { "Relay #1 OFF", "Relay #1 ON", "Relay #2 OFF", "Relay #2 ON" };
    for (int i = 0; i < 4; ++i) {
        grid->addWidget(Caption(QString::fromLatin1(rows[i]), box), i + 1, 0);
        QComboBox *function = m_build.MakeChoice(FieldId::AlarmFunction0 + i, box);
        m_c.m_alarmFunction[size_t(i)] = function;
        grid->addWidget(function, i + 1, 1);
        grid->addWidget(m_build.MakeEdit(FieldId::AlarmValue0 + i, 64), i + 1, 2);
        grid->addWidget(m_build.MakeEdit(FieldId::AlarmDelay0 + i, 34), i + 1, 3);
    }
    m_c.m_holdFlow1 = new QCheckBox(CaptionOf(FieldId::HoldFlow1), box);
    m_c.m_holdFlow2 = new QCheckBox(CaptionOf(FieldId::HoldFlow2), box);
    m_binder.Register(FieldId::HoldFlow1, m_c.m_holdFlow1);
    m_binder.Register(FieldId::HoldFlow2, m_c.m_holdFlow2);
    auto *holdRow = new QHBoxLayout;
    holdRow->addWidget(m_c.m_holdFlow1);
    holdRow->addWidget(m_c.m_holdFlow2);
    holdRow->addStretch();
    grid->addLayout(holdRow, 5, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    return box;
}

QWidget *KelvaneFormLayout::BuildParameterGroup()
{
    auto *box = m_build.Group(QStringLiteral("Parameters"));
    auto *grid = GridIn(box);
    m_c.m_units = m_build.MakeChoice(FieldId::Units, box);
    grid->addWidget(Caption(CaptionOf(FieldId::Units), box), 0, 0);
    grid->addWidget(m_c.m_units, 0, 1, 1, 4);
    const int fields[] = { FieldId::FullScale, FieldId::CFactor, FieldId::XSect, FieldId::MaxRange,
        FieldId::ZeroCutoff, FieldId::ZeroOffset, FieldId::AdcGain, FieldId::AdcOffset };
    for (int i = 0; i < 8; ++i) {
        const int row = 1 + i / 2;
        const int column = (i % 2) * 2;
        grid->addWidget(Caption(CaptionOf(fields[i]), box), row, column);
        grid->addWidget(m_build.MakeEdit(fields[i], 68), row, column + 1);
    }
    // The fields keep together at the left under the wide units box.
    grid->setColumnStretch(4, 1);
    return box;
}

void KelvaneFormLayout::MakeList(
    QWidget *parent, int index, int listId, int editId, int labelId, const QStringList &headers)
{
    m_c.m_lists[size_t(index)] = m_build.MakeCoefficientList(parent, listId, headers);
    m_c.m_listEdits[size_t(index)] = m_build.MakeEdit(editId);
    auto *label = new QLabel(QStringLiteral("="), parent);
    label->setMinimumWidth(m_form->fontMetrics().horizontalAdvance(QStringLiteral("@100%=")) + 2);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_binder.Register(labelId, label);
    m_c.m_listLabels[size_t(index)] = label;
}

QWidget *KelvaneFormLayout::BuildCurveFitGroup()
{
    auto *box = m_build.Group(CaptionOf(FieldId::CurveFit));
    auto *outer = new QVBoxLayout(box);
    outer->setContentsMargins(5, 2, 5, 4);
    outer->setSpacing(3);
    m_c.m_curveFit = new QComboBox(box);
    for (int choice = 0; choice < 4; ++choice)
        m_c.m_curveFit->addItem(KelvaneFields::CurveFitText(choice));
    m_c.m_curveFit->setCurrentIndex(-1);
    m_binder.Register(FieldId::CurveFit, m_c.m_curveFit);
    outer->addWidget(m_c.m_curveFit);

    auto *coefficients = m_build.Group(QStringLiteral("Coefficients"), box);
    auto *coeffGrid = GridIn(coefficients);
    MakeList(coefficients, 0, FieldId::PrimaryList, FieldId::ImageText, FieldId::PrimaryReset,
        { QString(), QStringLiteral("Primary") });
    MakeList(coefficients, 1, FieldId::SecondaryList, FieldId::SecondaryEdit,
        FieldId::SecondaryReset, { QString(), QStringLiteral("Secondary") });
    const int rowHeight = m_form->fontMetrics().height() + 2;
    for (int i : { 0, 1 }) {
        QTreeWidget *list = m_c.m_lists[size_t(i)];
        list->setFixedHeight(rowHeight * 10 + list->header()->sizeHint().height() + 6);
        coeffGrid->addWidget(list, 0, 2 * i, 1, 2);
    }
    for (int i : { 0, 1 }) {
        coeffGrid->addWidget(m_c.m_listLabels[size_t(i)], 1, 2 * i);
        coeffGrid->addWidget(m_c.m_listEdits[size_t(i)], 1, 2 * i + 1);
    }
    outer->addWidget(coefficients);

    auto *lower = new QHBoxLayout;
    lower->setSpacing(4);
    auto *pointWise = m_build.Group(QStringLiteral("Point-Wise"), box);
    auto *pointGrid = GridIn(pointWise);
    MakeList(pointWise, 2, FieldId::PointWiseList, FieldId::PointWiseEdit, FieldId::PointWiseReset,
        { QStringLiteral("% of Flow"), QStringLiteral("+ - % Correction") });
    QTreeWidget *points = m_c.m_lists[2];
    points->setFixedHeight(rowHeight * 9 + points->header()->sizeHint().height() + 6);
    pointGrid->addWidget(points, 0, 0, 1, 2);
    pointGrid->addWidget(m_c.m_listLabels[2], 1, 0);
    pointGrid->addWidget(m_c.m_listEdits[2], 1, 1);
    lower->addWidget(pointWise, 1);

    auto *buttons = new QVBoxLayout;
    m_c.m_curveButton = new QPushButton(QStringLiteral("Display Curve"), box);
    m_c.m_linearButton = new QPushButton(QStringLiteral("Display Linear"), box);
    m_binder.Register(FieldId::DisplayCurve, m_c.m_curveButton);
    m_binder.Register(FieldId::DisplayLinear, m_c.m_linearButton);
    buttons->addStretch();
    buttons->addWidget(m_c.m_curveButton);
    buttons->addWidget(m_c.m_linearButton);
    buttons->addStretch();
    lower->addLayout(buttons);
    outer->addLayout(lower);
    return box;
}

QWidget *KelvaneFormLayout::BuildLcdGroup()
{
    auto *box = m_build.Group(QStringLiteral("LCD Display"));
    auto *grid = GridIn(box);
    m_c.m_contrast = new QSlider(Qt::Horizontal, box);
    m_c.m_contrast->setRange(0, 255);
    m_c.m_contrast->setTickInterval(16);
    m_c.m_contrast->setTickPosition(QSlider::TicksBelow);
    m_c.m_contrast->setValue(128);
    m_c.m_refresh = new QSlider(Qt::Horizontal, box);
    m_c.m_refresh->setRange(1, 100);
    m_c.m_refresh->setTickInterval(10);
    m_c.m_refresh->setTickPosition(QSlider::TicksBelow);
    m_c.m_refresh->setValue(8);
    m_binder.Register(FieldId::Contrast, m_c.m_contrast);
    m_binder.Register(FieldId::Refresh, m_c.m_refresh);
    grid->addWidget(Caption(CaptionOf(FieldId::Contrast), box), 0, 0);
    grid->addWidget(Caption(QStringLiteral("Light"), box), 0, 1);
    grid->addWidget(m_c.m_contrast, 0, 2);
    grid->addWidget(Caption(QStringLiteral("Dark"), box), 0, 3);
    grid->addWidget(Caption(CaptionOf(FieldId::Refresh), box), 1, 0);
    grid->addWidget(Caption(QStringLiteral("Fast"), box), 1, 1);
    grid->addWidget(m_c.m_refresh, 1, 2);
    grid->addWidget(Caption(QStringLiteral("Slow"), box), 1, 3);
    grid->setColumnStretch(2, 1);
    return box;
}

QWidget *KelvaneFormLayout::BuildOptionsGroup()
{
    auto *box = m_build.Group(QStringLiteral("Options"));
    auto *grid = GridIn(box);
    m_c.m_tracking = new QCheckBox(CaptionOf(FieldId::Tracking), box);
    m_c.m_protocol = new QCheckBox(CaptionOf(FieldId::Protocol), box);
    m_binder.Register(FieldId::Tracking, m_c.m_tracking);
    m_binder.Register(FieldId::Protocol, m_c.m_protocol);
    grid->addWidget(m_c.m_tracking, 0, 0);
    grid->addWidget(m_c.m_protocol, 0, 1);
    grid->addWidget(Caption(CaptionOf(FieldId::ModbusAddr), box), 0, 2);
    grid->addWidget(m_build.MakeEdit(FieldId::ModbusAddr, 40), 0, 3);
    grid->setColumnStretch(4, 1);
    return box;
}

QWidget *KelvaneFormLayout::BuildMiscGroup()
{
    auto *box = m_build.Group(QStringLiteral("Misc"));
    auto *grid = GridIn(box);
    m_c.m_calBox = new QCheckBox(box);
    m_binder.Register(FieldId::CalibrationBox, m_c.m_calBox);
    m_c.m_dateButton = new QPushButton(QStringLiteral("Date"), box);
    m_c.m_timeButton = new QPushButton(QStringLiteral("Time"), box);
    m_binder.Register(FieldId::DateButton, m_c.m_dateButton);
    m_binder.Register(FieldId::TimeButton, m_c.m_timeButton);
    for (QPushButton *button : { m_c.m_dateButton, m_c.m_timeButton })
        button->setFixedHeight(20);

    grid->addWidget(Caption(CaptionOf(FieldId::CalibrationDue), box), 0, 0);
    grid->addWidget(m_build.MakeEdit(FieldId::CalibrationDue, 68), 0, 1);
    grid->addWidget(m_c.m_calBox, 0, 2);
    grid->addWidget(Caption(CaptionOf(FieldId::SerialNumber), box), 0, 3);
    grid->addWidget(m_build.MakeEdit(FieldId::SerialNumber, 50), 0, 4);

    grid->addWidget(m_c.m_dateButton, 1, 0);
    QLineEdit *date = m_build.MakeEdit(FieldId::DateField, 68);
    FieldWidth::SetReadOnly(date, true);
    grid->addWidget(date, 1, 1);
    grid->addWidget(Caption(CaptionOf(FieldId::Password), box), 1, 3);
    grid->addWidget(m_build.MakeEdit(FieldId::Password, 50), 1, 4);

    grid->addWidget(m_c.m_timeButton, 2, 0);
    QLineEdit *time = m_build.MakeEdit(FieldId::TimeField, 68);
    FieldWidth::SetReadOnly(time, true);
    grid->addWidget(time, 2, 1);
    grid->addWidget(Caption(CaptionOf(FieldId::Watchdog), box), 2, 3);
    grid->addWidget(m_build.MakeEdit(FieldId::Watchdog, 50), 2, 4);

    grid->addWidget(Caption(CaptionOf(FieldId::UpPcba), box), 3, 3);
    grid->addWidget(m_build.MakeEdit(FieldId::UpPcba, 50), 3, 4);
    grid->setColumnStretch(2, 1);
    return box;
}

void KelvaneFormLayout::Bind(
    FormFieldBinder &binder, KelvaneFormFields &fields, bool &contrastMoved, bool &refreshMoved)
{
    // The field model behind the controls: GetField moves the field's control into it first,
    // SetField shows the field again after its rule has run. Only that control is touched.
    using namespace FieldId;
    // A spin's arrows move their edit, a list's reset the list.
    const FieldRules &rules = KelvaneFieldRules::Table();
    for (const FieldRule &rule : rules.All())
        if (rule.storedAs)
            binder.Alias(rule.storedAs, rule.id);
    binder.Alias(PrimaryReset, PrimaryList);
    binder.Alias(SecondaryReset, SecondaryList);
    binder.Alias(PointWiseReset, PointWiseList);
    binder.BindChoice(
        Units, [&fields] { return fields.UnitsSelected(); },
        [&fields](int i) { fields.SelectUnits(i); });
    binder.BindChoice(
        CurveFit, [&fields] { return fields.CurveFitSelected(); },
        [&fields](int i) { fields.SelectCurveFit(i); });
    for (int row = 0; row < 4; ++row)
        binder.BindChoice(
            AlarmFunction0 + row, [&fields, row] { return fields.AlarmSelected(row); },
            [&fields, row](int i) { fields.SelectAlarm(row, i); });
    binder.BindChoice(
        DesiredRange, [&fields] { return fields.DesiredSelected(); },
        [&fields](int i) { fields.SelectDesired(i); });
    for (int id : { Contrast, Refresh })
        binder.BindPosition(
            id, [&fields, id] { return fields.ShownPosition(id); },
            [&fields, id, &contrastMoved, &refreshMoved](int position) {
                fields.SetSlider(id, position, id == Contrast ? contrastMoved : refreshMoved);
            });
    for (const ZarnFormRules::CoeffList list : { ZarnFormRules::CoeffList::Primary,
             ZarnFormRules::CoeffList::Secondary, ZarnFormRules::CoeffList::PointWise }) {
        const int id = ZarnFormRules::ListIdOf(list);
        binder.BindItems(
            id, [&fields, id] { return fields.Coefficients(id); },
            [&fields, id](const QStringList &values) { fields.SetCoefficients(id, values); },
            [list](int i) { return ZarnFormRules::ItemLabel(list, i); });
    }
    // The boxes; the LCD blanking flag has no control, so its binding moves nothing.
    for (int id : rules.IdsOf(FieldRule::Kind::Box))
        binder.BindTick(
            id, [&fields, id] { return fields.ShownTicked(id); },
            [&fields, id](bool ticked) { fields.SetBox(id, ticked); });
    // Edits and labels as they stand; the calibration box and the buttons are only collected.
    binder.BindOthers([&fields](int id) { return fields.Text(id); },
        [&fields](int id, const QString &text) { fields.SetShown(id, text); });
}

void KelvaneFormLayout::FillUnits(
    Controls &controls, KelvaneFormFields &fields, const QString &family)
{
    fields.LoadUnits(KelvaneFields::UnitsFile(family));
    controls.m_units->clear();
    controls.m_units->addItems(fields.UnitsLines());
    controls.m_units->setCurrentIndex(fields.UnitsSelected());
}

void KelvaneFormLayout::FillAlarms(Controls &controls, KelvaneFormFields &fields)
{
    fields.LoadAlarms();
    for (int row = 0; row < 4; ++row) {
        QComboBox *box = controls.m_alarmFunction[size_t(row)];
        box->clear();
        box->addItems(fields.AlarmLines());
        box->setCurrentIndex(fields.AlarmSelected(row));
    }
}
