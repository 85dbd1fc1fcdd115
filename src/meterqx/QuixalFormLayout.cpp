#include "meterqx/QuixalFormLayout.h"

#include "base/FieldWidth.h"
#include "meter/FormBuilder.h"
#include "meter/FormFieldBinder.h"
#include "meter/ZarnFormRules.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/QXFieldRules.h"
#include "meterqx/QXFormFields.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace QXFieldId;

int QuixalFormLayout::LengthLimit(int id)
{
    return id == SerialNumber ? 8 : id == MeterVersion ? 10 : 0;
}

QuixalFormLayout::QuixalFormLayout(
    QWidget *form, FormBuilder &builder, FormFieldBinder &binder, Controls &controls)
    : m_form(form)
    , m_build(builder)
    , m_binder(binder)
    , m_c(controls)
{
}

QComboBox *QuixalFormLayout::MakeList(int id)
{
    return m_build.MakeChoice(id, m_form);
}

QCheckBox *QuixalFormLayout::MakeBox(int id, const QString &caption)
{
    auto *box = new QCheckBox(caption, m_form);
    m_binder.Register(id, box);
    return box;
}

void QuixalFormLayout::Build()
{
    // Built in the order of the focus chain: the top row, the left column, the right column.
    QWidget *const top[] = { BuildTopLeft(), BuildVersionGroup() };
    QWidget *const left[] = { BuildFlowGroup(), BuildRelayGroup() };
    QWidget *const right[]
        = { BuildFrequencyGroup(), BuildOptionsGroup(), BuildResponseGroup(), BuildMiscGroup() };
    m_build.LayOutColumns(
        top[0], top[1], { left[0], left[1] }, { right[0], right[1], right[2], right[3] }, 3, 2);
}

QWidget *QuixalFormLayout::BuildTopLeft()
{
    auto *holder = new QWidget(m_form);
    auto *column = new QVBoxLayout(holder);
    column->setContentsMargins(0, 4, 0, 0);
    column->setSpacing(3);
    QLabel *logo = FormBuilder::MakeLogo(holder, QStringLiteral("#6a1b7a"));
    column->addWidget(logo);
    auto *buttons = new QHBoxLayout;
    auto *read = new QPushButton(QStringLiteral("Read"), holder);
    auto *send = new QPushButton(QStringLiteral("Send"), holder);
    m_binder.Register(Read, read);
    m_binder.Register(Send, send);
    m_c.m_readButton = read;
    m_c.m_sendButton = send;
    buttons->addWidget(read);
    buttons->addWidget(send);
    column->addLayout(buttons);
    return holder;
}

QWidget *QuixalFormLayout::BuildVersionGroup()
{
    // The version label takes up to ten characters.
    QGroupBox *box = m_build.MakeVersionGroup(QStringLiteral("Meter"), QStringLiteral("0.000000A"),
        1, m_c.m_meterVersion, m_c.m_revision, m_c.m_template);
    auto *grid = static_cast<QGridLayout *>(box->layout());
    auto *series = FormBuilder::Caption(QStringLiteral("Quixal"), box);
    QFont bold = series->font();
    bold.setBold(true);
    series->setFont(bold);
    grid->addWidget(series, 0, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    return box;
}

QWidget *QuixalFormLayout::BuildFrequencyGroup()
{
    auto *box = m_build.Group(QStringLiteral("Frequency Out"), m_form);
    auto *grid = FormBuilder::GridIn(box);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("Polarity"), box), 0, 0);
    grid->addWidget(MakeList(Polarity), 0, 1, 1, 2);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("Pulse Width"), box), 1, 0);
    grid->addWidget(m_build.MakeEdit(PulseWidth, 44), 1, 1);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("uS"), box), 1, 2);
    grid->setColumnStretch(2, 1);
    return box;
}

QWidget *QuixalFormLayout::BuildOptionsGroup()
{
    auto *box = m_build.Group(QStringLiteral("Options"), m_form);
    auto *grid = FormBuilder::GridIn(box);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("I-Out / V-Out"), box), 0, 0);
    grid->addWidget(MakeList(Output), 0, 1, 1, 2);
    grid->addWidget(MakeBox(VOut, QStringLiteral("V-Out 0-10V")), 1, 0);
    grid->addWidget(MakeBox(Protocol, QStringLiteral("Protocol On")), 1, 1, 1, 2);
    QCheckBox *noDisplay = MakeBox(NoDisplay, QStringLiteral("No Display"));
    noDisplay->setEnabled(false); // shown, not changed here
    grid->addWidget(noDisplay, 2, 0);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("Modbus Addr"), box), 2, 1);
    grid->addWidget(m_build.MakeEdit(ModbusAddr, 40), 2, 2);
    return box;
}

QWidget *QuixalFormLayout::BuildResponseGroup()
{
    auto *box = m_build.Group(QStringLiteral("Response"), m_form);
    auto *grid = FormBuilder::GridIn(box);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("ADC Filter"), box), 0, 0);
    QLineEdit *adc = m_build.MakeEdit(AdcFilter, 36);
    m_binder.Register(AdcFilterControl, adc);
    grid->addWidget(adc, 0, 1);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("DAC Filter"), box), 1, 0);
    grid->addWidget(m_build.MakeSpinEdit(DacFilter, DacFilterSpin, 1, 200), 1, 1);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("DAC Refresh"), box), 2, 0);
    grid->addWidget(m_build.MakeSpinEdit(DacRefresh, DacRefreshSpin, 1, 200), 2, 1);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("Display"), box), 3, 0);
    auto *refresh = new QHBoxLayout;
    refresh->setSpacing(4);
    refresh->addWidget(FormBuilder::Caption(QStringLiteral("Refresh"), box));
    refresh->addWidget(m_build.MakeSpinEdit(DisplayRefresh, DisplayRefreshSpin, 8, 100));
    grid->addLayout(refresh, 3, 1);
    grid->setColumnStretch(2, 1);
    return box;
}

QWidget *QuixalFormLayout::BuildFlowGroup()
{
    auto *box = m_build.Group(QStringLiteral("Flow Configuration"), m_form);
    auto *grid = FormBuilder::GridIn(box);
    auto *units = MakeList(Units);
    // The units, whose entries are long, have a row of their own above the fields and the list.
    auto *unitsRow = new QHBoxLayout;
    unitsRow->addWidget(FormBuilder::Caption(QStringLiteral("Engineering Units"), box));
    unitsRow->addWidget(units, 1);
    grid->addLayout(unitsRow, 0, 0, 1, 3);
    const struct
    {
        const char *caption;
        int id;
    } fields[] = { { "Full Scale", FullScale }, { "C Factor", CFactor }, { "X-Sect", XSect },
        { "Max Range", MaxRange }, { "Zero Cutoff %", ZeroCutoff }, { "Zero Offset", ZeroOffset } };
    for (int i = 0; i < 6; ++i) {
        grid->addWidget(
            FormBuilder::Caption(QString::fromLatin1(fields[i].caption), box), 1 + i, 0);
        grid->addWidget(m_build.MakeEdit(fields[i].id, 72), 1 + i, 1);
    }
    auto *coefficients = new QVBoxLayout;
    coefficients->setSpacing(2);
    m_c.m_coefficients = m_build.MakeCoefficientList(
        box, PrimaryList, { QString(), QStringLiteral("Primary Coefficients") });
    m_c.m_coefficients->setFixedHeight((m_form->fontMetrics().height() + 2) * 10
        + m_c.m_coefficients->header()->sizeHint().height() + 6);
    coefficients->addWidget(m_c.m_coefficients);
    auto *editRow = new QHBoxLayout;
    m_c.m_coeffLabel = new QLabel(QStringLiteral(" ="), box);
    m_c.m_coeffLabel->setMinimumWidth(
        m_form->fontMetrics().horizontalAdvance(QStringLiteral("J=")) + 4);
    m_c.m_coeffLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_c.m_coeffEdit = new QLineEdit(box);
    m_c.m_coeffEdit->setFixedHeight(19);
    editRow->addWidget(m_c.m_coeffLabel);
    editRow->addWidget(m_c.m_coeffEdit, 1);
    coefficients->addLayout(editRow);
    auto *graphs = new QHBoxLayout;
    m_c.m_curve = new QPushButton(QStringLiteral("Curve"), box);
    m_c.m_linear = new QPushButton(QStringLiteral("Linear"), box);
    m_c.m_curve->setObjectName(QStringLiteral("Curve"));
    m_c.m_linear->setObjectName(QStringLiteral("Linear"));
    graphs->addWidget(m_c.m_curve);
    graphs->addWidget(m_c.m_linear);
    coefficients->addLayout(graphs);
    grid->addLayout(coefficients, 1, 2, 6, 1);
    grid->setColumnStretch(2, 1);
    return box;
}

QWidget *QuixalFormLayout::BuildMiscGroup()
{
    auto *box = m_build.Group(QStringLiteral("Misc"), m_form);
    auto *grid = FormBuilder::GridIn(box);
    m_c.m_calBox = new QCheckBox(QStringLiteral("Calibration Due"), box);
    m_c.m_calBox->setChecked(true);
    m_binder.Register(CalibrationBox, m_c.m_calBox);
    auto *date = new QPushButton(QStringLiteral("Date"), box);
    auto *time = new QPushButton(QStringLiteral("Time"), box);
    for (QPushButton *button : { date, time })
        button->setFixedHeight(20);
    m_c.m_date = date;
    m_c.m_time = time;
    // The clock's fields are read-only, and those the field rules make so.
    const struct
    {
        QWidget *caption;
        int id;
        bool clock;
    } rows[] = {
        { m_c.m_calBox, CalibrationDue, false },
        { date, DateField, true },
        { time, TimeField, true },
        { FormBuilder::Caption(QStringLiteral("Password"), box), Password, false },
        { FormBuilder::Caption(QStringLiteral("Watchdog Timer"), box), Watchdog, false },
        { FormBuilder::Caption(QStringLiteral("Serial Number"), box), SerialNumber, false },
        { FormBuilder::Caption(QStringLiteral("uP PCBA Number"), box), UpPcba, false },
    };
    int row = 0;
    for (const auto &r : rows) {
        QLineEdit *edit = m_build.MakeEdit(r.id, 72);
        FieldWidth::SetReadOnly(edit, r.clock || QXFieldRules::Table().IsReadOnly(r.id));
        grid->addWidget(r.caption, row, 0);
        grid->addWidget(edit, row++, 1);
    }
    grid->setColumnStretch(2, 1);
    return box;
}

QWidget *QuixalFormLayout::BuildRelayGroup()
{
    auto *box = m_build.Group(QStringLiteral("Alarm/Relay Settings"), m_form);
    auto *grid = FormBuilder::GridIn(box);
    const char *const headers[] = { "Event", "Function", "Value", "Trip Delay" };
    for (int c = 0; c < 4; ++c)
        grid->addWidget(FormBuilder::Caption(QString::fromLatin1(headers[c]), box), 0, c);
    const char *const rows[] = { "Relay #2 OFF", "Relay #2 ON" };
    for (int r = 0; r < 2; ++r) {
        grid->addWidget(FormBuilder::Caption(QString::fromLatin1(rows[r]), box), r + 1, 0);
        grid->addWidget(MakeList(RelayOffFunction + r), r + 1, 1);
        grid->addWidget(m_build.MakeEdit(RelayOffValue + r, 70), r + 1, 2);
        grid->addWidget(m_build.MakeEdit(RelayOffDelay + r, 34), r + 1, 3);
    }
    grid->addWidget(MakeBox(HoldFlow, QStringLiteral("Hold Flow")), 3, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    return box;
}

void QuixalFormLayout::Bind(FormFieldBinder &binder, QXFormFields &fields)
{
    for (int id : QXFormFields::TextIds())
        binder.BindText(
            id, [&fields, id] { return fields.Text(id); },
            [&fields, id](const QString &text) { fields.SetText(id, text); }, LengthLimit(id));
    for (int id : QXFormFields::ListIds())
        binder.BindChoice(
            id, [&fields, id] { return fields.Selected(id); },
            [&fields, id](int index) { fields.Select(id, index); },
            [&fields, id] { return fields.Lines(id); });
    for (int id : QXFormFields::BoxIds())
        binder.BindTick(
            id, [&fields, id] { return fields.Box(id); },
            [&fields, id](bool ticked) { fields.SetBox(id, ticked); });
    binder.BindItems(
        PrimaryList, [&fields] { return fields.Coefficients(); },
        [&fields](const QStringList &lines) { fields.Coefficients() = lines; },
        [](int i) { return ZarnFormRules::ItemLabel(ZarnFormRules::CoeffList::Primary, i); });
}
