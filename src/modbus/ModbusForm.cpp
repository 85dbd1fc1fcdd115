#include "modbus/ModbusForm.h"

#include "base/FieldWidth.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// Where panel n (1..8) sits: in address order, 1 to 4 on the top row, 5 to 8 below.
QPoint PanelCell(int number)
{
    return QPoint((number - 1) % 4, (number - 1) / 4);
}

QLineEdit *MakeField(QWidget *parent, int width, bool readOnly = true)
{
    auto *edit = new QLineEdit(parent);
    FieldWidth::SetReadOnly(edit, readOnly);
    edit->setFixedHeight(20);
    if (width > 0)
        edit->setFixedWidth(width);
    edit->setText(QString::fromLatin1(ModbusPanelRules::kDashes));
    return edit;
}
} // namespace

QWidget *ModbusForm::Build(QWidget *owner)
{
    // The panels scroll in a window smaller than their layout instead of squeezing the fields.
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(4);
    layout->addWidget(BuildControls(owner));
    auto *grid = new QGridLayout;
    grid->setSpacing(6);
    for (int n = 1; n <= ModbusForm::kPanels; ++n) {
        const QPoint cell = PanelCell(n);
        grid->addWidget(BuildPanel(owner, n), cell.y(), cell.x());
    }
    layout->addLayout(grid);
    layout->addStretch(1);

    return content;
}

QWidget *ModbusForm::BuildControls(QWidget *owner)
{
    auto *bar = new QWidget(owner);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);

    auto column = [bar, row](const QString &title, QWidget *widget) {
        auto *box = new QVBoxLayout;
        box->setSpacing(1);
        auto *label = new QLabel(title, bar);
        box->addWidget(label);
        box->addWidget(widget);
        row->addLayout(box);
    };

    staticButton = new QPushButton(QString::fromLatin1(ModbusPanelRules::kCmd3), bar);
    staticButton->setFixedWidth(80);
    column(QStringLiteral("Static Data"), staticButton);
    dynamicButton = new QPushButton(QString::fromLatin1(ModbusPanelRules::kCmd3), bar);
    dynamicButton->setFixedWidth(80);
    column(QStringLiteral("Dynamic Data"), dynamicButton);

    update = new QCheckBox(QStringLiteral("  Update"), bar);
    row->addWidget(update, 0, Qt::AlignBottom);
    auto *every = new QLabel(QStringLiteral("Every"), bar);
    row->addWidget(every, 0, Qt::AlignBottom);
    period = MakeField(bar, 50, false);
    row->addWidget(period, 0, Qt::AlignBottom);
    row->addWidget(new QLabel(QStringLiteral("Seconds"), bar), 0, Qt::AlignBottom);
    keepPolling = new QCheckBox(QStringLiteral("Keep polling through errors"), bar);
    keepPolling->setToolTip(
        QStringLiteral("A meter that does not answer raises no message and stops nothing: its "
                       "panel shows the failure and the next sweep tries it again."));
    row->addWidget(keepPolling, 0, Qt::AlignBottom);
    samples = MakeField(bar, 60);
    column(QStringLiteral("Samples Taken"), samples);
    // Trend and Record, one above the other, so the bar keeps its width.
    auto *live = new QVBoxLayout;
    live->setSpacing(1);
    trendButton = new QPushButton(QStringLiteral("Trend"), bar);
    trendButton->setToolTip(QStringLiteral("The flow of every polled meter over the last minutes"));
    recordButton = new QPushButton(QStringLiteral("Record..."), bar);
    recordButton->setToolTip(QStringLiteral("Record every sweep to a CSV file while polling"));
    for (QPushButton *b : { trendButton, recordButton }) {
        b->setFixedWidth(80);
        b->setFixedHeight(b->sizeHint().height() - 4);
        live->addWidget(b);
    }
    row->addLayout(live);
    row->addStretch(1);
    portField = MakeField(bar, 150);
    column(QStringLiteral("Modbus Port"), portField);
    baudField = MakeField(bar, 70);
    column(QStringLiteral("Baud Rate"), baudField);
    parityField = MakeField(bar, 90);
    column(QStringLiteral("Port Config"), parityField);

    return bar;
}

QGroupBox *ModbusForm::BuildPanel(QWidget *owner, int number)
{
    using enum ModbusPanelRules::Field;
    Panel &panel = panels[size_t(number)];
    panel.box = new QGroupBox(QStringLiteral("Modbus Slave Flow Meter %1").arg(number), owner);
    auto *grid = new QGridLayout(panel.box);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);

    auto &f = panel.fields;
    f[Address] = MakeField(panel.box, 50, false);
    f[Flow] = MakeField(panel.box, 0);
    f[FlowUnits] = MakeField(panel.box, 48);
    f[Totalizer] = MakeField(panel.box, 0);
    f[TotalizerUnits] = MakeField(panel.box, 48);
    f[Temperature] = MakeField(panel.box, 0);
    f[TemperatureUnit] = MakeField(panel.box, 48);
    f[SerialNumber] = MakeField(panel.box, 0);
    f[MaxRange] = MakeField(panel.box, 0);
    f[FullScale] = MakeField(panel.box, 0);
    // Wide enough for the usual texts of their formats ("%f", "%.1f" to "%.7f", "%4.1f", "%d",
    // "%.6f"); a longer number widens its field.
    FieldWidth::Watch(f[Flow], "-12345.123456");
    FieldWidth::Watch(f[Totalizer], "1234567.1");
    FieldWidth::Watch(f[Temperature], "-999.9");
    FieldWidth::Watch(f[SerialNumber], "-2147483648");
    FieldWidth::Watch(f[MaxRange], "-12345.123456");
    FieldWidth::Watch(f[FullScale], "-12345.123456");
    for (Field unit : { FlowUnits, TotalizerUnits, TemperatureUnit })
        FieldWidth::Watch(f[unit]);

    struct Row
    {
        const char *label;
        Field value;
        Field unit;
    };
    static const Row rows[] = {
        { "Modbus Address", Address, FieldCount },
        { "40001 - Flow Rate", Flow, FlowUnits },
        { "40003 - Totalizer", Totalizer, TotalizerUnits },
        { "40005 - Temperature", Temperature, TemperatureUnit },
        { "40007 - Serial Number", SerialNumber, FieldCount },
        { "40013 - Max Range", MaxRange, FieldCount },
        { "40015 - Full Scale", FullScale, FieldCount },
    };
    int r = 0;
    for (const Row &row : rows) {
        grid->addWidget(new QLabel(QString::fromLatin1(row.label), panel.box), r, 0);
        grid->addWidget(f[row.value], r, 1, row.value == Address ? Qt::AlignLeft : Qt::Alignment());
        if (row.unit != FieldCount)
            grid->addWidget(f[row.unit], r, 2);
        ++r;
    }
    // Failures of a meter while polling goes on through them: one line, shown only once there
    // is one, so the window keeps its layout otherwise; the whole text in its tip.
    panel.failure = new QLabel(panel.box);
    panel.failure->setStyleSheet(QStringLiteral("color: #b00000"));
    panel.failure->hide();
    grid->addWidget(panel.failure, r, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    f[Address]->setProperty("panel", number);
    return panel.box;
}

void ModbusForm::Reset()
{
    using enum ModbusPanelRules::Field;
    for (int n = 1; n <= kPanels; ++n) {
        Panel &panel = panels[size_t(n)];
        for (int i = 0; i < FieldCount; ++i)
            panel.fields[size_t(i)]->setText(QString::fromLatin1(ModbusPanelRules::kDashes));
        panel.fields[TemperatureUnit]->setText(QString(QChar(0xB0)) + QLatin1Char('F'));
        panel.fields[Address]->setText(n == 1 ? QStringLiteral("1") : QStringLiteral("-"));
        panel.remembered = panel.fields[Address]->text();
    }
    ClearFailures();
    samples->setText(QStringLiteral("0"));
    period->setText(QStringLiteral("2"));
    update->setChecked(false);
}

void ModbusForm::ClearFailures()
{
    for (int n = 1; n <= kPanels; ++n) {
        panels[size_t(n)].failure->clear();
        panels[size_t(n)].failure->hide();
    }
}

QLineEdit *ModbusForm::FieldEdit(int panel, Field field) const
{
    using enum ModbusPanelRules::Field;
    if (panel < 1 || panel > kPanels || field < 0 || field >= FieldCount)
        return nullptr;
    return panels[size_t(panel)].fields[size_t(field)];
}

QString ModbusForm::FieldText(int panel, Field field) const
{
    QLineEdit *edit = FieldEdit(panel, field);
    return edit ? edit->text() : QString();
}

QGroupBox *ModbusForm::PanelBox(int panel) const
{
    return panel >= 1 && panel <= kPanels ? panels[size_t(panel)].box : nullptr;
}

QString ModbusForm::FailureText(int panel) const
{
    return panel >= 1 && panel <= kPanels ? panels[size_t(panel)].failure->text() : QString();
}

QString ModbusForm::PortFieldText(int which) const
{
    const QLineEdit *fields[] = { portField, baudField, parityField };
    return which >= 0 && which < 3 ? fields[which]->text() : QString();
}

void ModbusForm::ClearDataFields(int panel)
{
    using enum ModbusPanelRules::Field;
    auto &f = panels[size_t(panel)].fields;
    for (Field field : { Flow, FlowUnits, Totalizer, TotalizerUnits, Temperature, SerialNumber,
             MaxRange, FullScale })
        f[field]->setText(QString::fromLatin1(ModbusPanelRules::kDashes));
}

std::vector<SweepRecorder::Meter> ModbusForm::RecordedMeters() const
{
    using enum ModbusPanelRules::Field;
    const auto read = [](const QLineEdit *edit) {
        return edit->text() == QLatin1String(ModbusPanelRules::kDashes) ? QString() : edit->text();
    };
    std::vector<SweepRecorder::Meter> meters;
    for (int n = 1; n <= kPanels; ++n) {
        const auto &f = panels[size_t(n)].fields;
        if (ModbusPanelRules::DecimalValue(f[Address]->text()) > 0)
            meters.push_back({ n, f[Address]->text(), read(f[FlowUnits]), read(f[TotalizerUnits]),
                read(f[SerialNumber]) });
    }
    return meters;
}
