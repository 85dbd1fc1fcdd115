#include "meterqx/ZarnQXFormView.h"

#include "base/AppServices.h"
#include "base/AppTitle.h"
#include "base/CDocument.h"
#include "base/ControlText.h"
#include "base/FieldWidth.h"
#include "base/MeterSession.h"
#include "base/SheetPrinter.h"
#include "base/UserMessage.h"
#include "graphs/CurveGraphDialog.h"
#include "lists/CQueView.h"
#include "meter/MeterSeries.h"
#include "meter/ZarnFormRules.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/QXFields.h"
#include "meterqx/QXMeterDoc.h"
#include "meterqx/QXMeterVars.h"
#include "meterqx/QuixalSeriesModel.h"
#include "meterqx/QuixalSheet.h"
#include "meterqx/QuixalSheetReader.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
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

namespace {
// Length limits of the fields that have one.
int LengthLimit(int id)
{
    return id == SerialNumber ? 8 : id == MeterVersion ? 10 : 0;
}
} // namespace

ZarnQXFormView::ZarnQXFormView(CDocument *document, QWidget *parent)
    : ZarnFormBase(document, parent)
{
    BuildControls();
    BindFields();
    // The lists' entries are there before the window is fitted to the form (the boxes are as
    // wide as their longest entry).
    m_fields.LoadLists();
    for (int id : QXFormFields::kListIds)
        Binder().Show(id);
    SetNumberFields(QXFormFields::NumberFields());
    WatchAll([this](int id) { OnTyped(id); });
    m_fields.SetVersionHandler([this](const QString &version) {
        if (QXMeterDoc *doc = Document())
            doc->SetVersionQX(version);
    });
    SetSheet(
        [this](const SheetMetrics &metrics) { return QuixalSheet::Build(SheetFields(), metrics); });
}

ZarnQXFormView::~ZarnQXFormView() = default;

// ---------------------------------------------------------------------------------------------
// Building the controls

QComboBox *ZarnQXFormView::MakeList(int id)
{
    QComboBox *box = Builder().MakeChoice(id, this);
    connect(box, &QComboBox::activated, this, &ZarnQXFormView::MarkEdited);
    return box;
}

QCheckBox *ZarnQXFormView::MakeBox(int id, const QString &caption)
{
    auto *box = new QCheckBox(caption, this);
    Binder().Register(id, box);
    connect(box, &QCheckBox::clicked, this, &ZarnQXFormView::MarkEdited);
    return box;
}

void ZarnQXFormView::BuildControls()
{
    // Built in the order of the focus chain: the top row, the left column, the right column.
    QWidget *const top[] = { BuildTopLeft(), BuildVersionGroup() };
    QWidget *const left[] = { BuildFlowGroup(), BuildRelayGroup() };
    QWidget *const right[]
        = { BuildFrequencyGroup(), BuildOptionsGroup(), BuildResponseGroup(), BuildMiscGroup() };
    Builder().LayOutColumns(
        top[0], top[1], { left[0], left[1] }, { right[0], right[1], right[2], right[3] }, 3, 2);
}

QWidget *ZarnQXFormView::BuildTopLeft()
{
    auto *holder = new QWidget(this);
    auto *column = new QVBoxLayout(holder);
    column->setContentsMargins(0, 4, 0, 0);
    column->setSpacing(3);
    QLabel *logo = FormBuilder::MakeLogo(holder, QStringLiteral("#6a1b7a"));
    column->addWidget(logo);
    auto *buttons = new QHBoxLayout;
    auto *read = new QPushButton(QStringLiteral("Read"), holder);
    auto *send = new QPushButton(QStringLiteral("Send"), holder);
    Binder().Register(Read, read);
    Binder().Register(Send, send);
    connect(read, &QPushButton::clicked, this, &ZarnQXFormView::OnRead);
    connect(send, &QPushButton::clicked, this, &ZarnQXFormView::OnSend);
    buttons->addWidget(read);
    buttons->addWidget(send);
    column->addLayout(buttons);
    return holder;
}

QWidget *ZarnQXFormView::BuildVersionGroup()
{
    // The version label takes up to ten characters.
    QGroupBox *box = Builder().MakeVersionGroup(QStringLiteral("Meter"),
        QStringLiteral("0.000000A"), 1, m_meterVersion, m_revision, m_template);
    auto *grid = static_cast<QGridLayout *>(box->layout());
    auto *series = FormBuilder::Caption(QStringLiteral("Quixal"), box);
    QFont bold = series->font();
    bold.setBold(true);
    series->setFont(bold);
    grid->addWidget(series, 0, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    return box;
}

QWidget *ZarnQXFormView::BuildFrequencyGroup()
{
    auto *box = Builder().Group(QStringLiteral("Frequency Out"), this);
    auto *grid = FormBuilder::GridIn(box);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("Polarity"), box), 0, 0);
    grid->addWidget(MakeList(Polarity), 0, 1, 1, 2);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("Pulse Width"), box), 1, 0);
    grid->addWidget(Builder().MakeEdit(PulseWidth, 44), 1, 1);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("uS"), box), 1, 2);
    grid->setColumnStretch(2, 1);
    return box;
}

QWidget *ZarnQXFormView::BuildOptionsGroup()
{
    auto *box = Builder().Group(QStringLiteral("Options"), this);
    auto *grid = FormBuilder::GridIn(box);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("I-Out / V-Out"), box), 0, 0);
    grid->addWidget(MakeList(Output), 0, 1, 1, 2);
    grid->addWidget(MakeBox(VOut, QStringLiteral("V-Out 0-10V")), 1, 0);
    grid->addWidget(MakeBox(Protocol, QStringLiteral("Protocol On")), 1, 1, 1, 2);
    QCheckBox *noDisplay = MakeBox(NoDisplay, QStringLiteral("No Display"));
    noDisplay->setEnabled(false); // shown, not changed here
    grid->addWidget(noDisplay, 2, 0);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("Modbus Addr"), box), 2, 1);
    grid->addWidget(Builder().MakeEdit(ModbusAddr, 40), 2, 2);
    return box;
}

QWidget *ZarnQXFormView::BuildResponseGroup()
{
    auto *box = Builder().Group(QStringLiteral("Response"), this);
    auto *grid = FormBuilder::GridIn(box);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("ADC Filter"), box), 0, 0);
    QLineEdit *adc = Builder().MakeEdit(AdcFilter, 36);
    Binder().Register(AdcFilterControl, adc);
    grid->addWidget(adc, 0, 1);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("DAC Filter"), box), 1, 0);
    grid->addWidget(Builder().MakeSpinEdit(DacFilter, DacFilterSpin, 1, 200), 1, 1);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("DAC Refresh"), box), 2, 0);
    grid->addWidget(Builder().MakeSpinEdit(DacRefresh, DacRefreshSpin, 1, 200), 2, 1);
    grid->addWidget(FormBuilder::Caption(QStringLiteral("Display"), box), 3, 0);
    auto *refresh = new QHBoxLayout;
    refresh->setSpacing(4);
    refresh->addWidget(FormBuilder::Caption(QStringLiteral("Refresh"), box));
    refresh->addWidget(Builder().MakeSpinEdit(DisplayRefresh, DisplayRefreshSpin, 8, 100));
    grid->addLayout(refresh, 3, 1);
    grid->setColumnStretch(2, 1);
    return box;
}

QWidget *ZarnQXFormView::BuildFlowGroup()
{
    auto *box = Builder().Group(QStringLiteral("Flow Configuration"), this);
    auto *grid = FormBuilder::GridIn(box);
    auto *units = MakeList(Units);
    connect(units, &QComboBox::activated, this, &ZarnQXFormView::OnUnitsPicked);
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
        grid->addWidget(Builder().MakeEdit(fields[i].id, 72), 1 + i, 1);
    }
    auto *coefficients = new QVBoxLayout;
    coefficients->setSpacing(2);
    m_coefficients = Builder().MakeCoefficientList(
        box, PrimaryList, { QString(), QStringLiteral("Primary Coefficients") });
    m_coefficients->setFixedHeight(
        (fontMetrics().height() + 2) * 10 + m_coefficients->header()->sizeHint().height() + 6);
    coefficients->addWidget(m_coefficients);
    auto *editRow = new QHBoxLayout;
    m_coeffLabel = new QLabel(QStringLiteral(" ="), box);
    m_coeffLabel->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("J=")) + 4);
    m_coeffLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_coeffEdit = new QLineEdit(box);
    m_coeffEdit->setFixedHeight(19);
    m_coeffEdit->installEventFilter(this);
    editRow->addWidget(m_coeffLabel);
    editRow->addWidget(m_coeffEdit, 1);
    AddCoefficientList(
        { ZarnFormRules::CoeffList::Primary, m_coefficients, m_coeffEdit, m_coeffLabel });
    coefficients->addLayout(editRow);
    auto *graphs = new QHBoxLayout;
    m_curve = new QPushButton(QStringLiteral("Curve"), box);
    m_linear = new QPushButton(QStringLiteral("Linear"), box);
    m_curve->setObjectName(QStringLiteral("Curve"));
    m_linear->setObjectName(QStringLiteral("Linear"));
    connect(m_curve, &QPushButton::clicked, this, &ZarnQXFormView::OnCurve);
    connect(m_linear, &QPushButton::clicked, this, &ZarnQXFormView::OnLinear);
    graphs->addWidget(m_curve);
    graphs->addWidget(m_linear);
    coefficients->addLayout(graphs);
    grid->addLayout(coefficients, 1, 2, 6, 1);
    grid->setColumnStretch(2, 1);
    return box;
}

QWidget *ZarnQXFormView::BuildMiscGroup()
{
    auto *box = Builder().Group(QStringLiteral("Misc"), this);
    auto *grid = FormBuilder::GridIn(box);
    m_calBox = new QCheckBox(QStringLiteral("Calibration Due"), box);
    m_calBox->setChecked(true);
    Binder().Register(CalibrationBox, m_calBox);
    connect(m_calBox, &QCheckBox::toggled, this,
        [this](bool ticked) { SetCalibrationFollows(!ticked); });
    auto *date = new QPushButton(QStringLiteral("Date"), box);
    auto *time = new QPushButton(QStringLiteral("Time"), box);
    for (QPushButton *button : { date, time })
        button->setFixedHeight(20);
    connect(date, &QPushButton::clicked, this, &ZarnQXFormView::ToggleDayFirst);
    connect(time, &QPushButton::clicked, this, &ZarnQXFormView::ToggleHours24);
    const struct
    {
        QWidget *caption;
        int id;
        bool readOnly;
    } rows[] = {
        { m_calBox, CalibrationDue, false },
        { date, DateField, true },
        { time, TimeField, true },
        { FormBuilder::Caption(QStringLiteral("Password"), box), Password, false },
        { FormBuilder::Caption(QStringLiteral("Watchdog Timer"), box), Watchdog, false },
        { FormBuilder::Caption(QStringLiteral("Serial Number"), box), SerialNumber, true },
        { FormBuilder::Caption(QStringLiteral("uP PCBA Number"), box), UpPcba, true },
    };
    int row = 0;
    for (const auto &r : rows) {
        QLineEdit *edit = Builder().MakeEdit(r.id, 72);
        FieldWidth::SetReadOnly(edit, r.readOnly);
        grid->addWidget(r.caption, row, 0);
        grid->addWidget(edit, row++, 1);
    }
    grid->setColumnStretch(2, 1);
    return box;
}

QWidget *ZarnQXFormView::BuildRelayGroup()
{
    auto *box = Builder().Group(QStringLiteral("Alarm/Relay Settings"), this);
    auto *grid = FormBuilder::GridIn(box);
    const char *const headers[] = { "Event", "Function", "Value", "Trip Delay" };
    for (int c = 0; c < 4; ++c)
        grid->addWidget(FormBuilder::Caption(QString::fromLatin1(headers[c]), box), 0, c);
    const char *const rows[] = { "Relay #2 OFF", "Relay #2 ON" };
    for (int r = 0; r < 2; ++r) {
        grid->addWidget(FormBuilder::Caption(QString::fromLatin1(rows[r]), box), r + 1, 0);
        grid->addWidget(MakeList(RelayOffFunction + r), r + 1, 1);
        grid->addWidget(Builder().MakeEdit(RelayOffValue + r, 70), r + 1, 2);
        grid->addWidget(Builder().MakeEdit(RelayOffDelay + r, 34), r + 1, 3);
    }
    grid->addWidget(MakeBox(HoldFlow, QStringLiteral("Hold Flow")), 3, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    return box;
}

// ---------------------------------------------------------------------------------------------
// Opening, members and field access

QXMeterDoc *ZarnQXFormView::Document() const
{
    return qobject_cast<QXMeterDoc *>(GetDocument());
}

void ZarnQXFormView::OnInitialUpdate()
{
    m_fields.LoadLists();
    m_dayFirst = false;
    m_hours24 = false;
    if (Runner() && Runner()->IsRunning())
        Runner()->Cancel();
    Binder().ShowAll();
    ShowFields();
    StartClock();
}

ZarnFormBase::ShownIdentity ZarnQXFormView::IdentityShown() const
{
    return { m_meterVersion->text(), m_revision->text(), m_template->text() };
}

void ZarnQXFormView::ShowIdentity(const ShownIdentity &identity)
{
    m_meterVersion->setText(identity.version);
    m_revision->setText(identity.revision);
    m_fields.SetText(MeterVersion, identity.version);
    m_fields.SetText(Revision, identity.revision);
    m_template->setText(identity.templateLabel);
}

QXFormFields &ZarnQXFormView::Members()
{
    Binder().CollectAll();
    return m_fields;
}

void ZarnQXFormView::BindFields()
{
    FormFieldBinder &binder = Binder();
    for (int id : QXFormFields::kTextIds)
        binder.BindText(
            id, [this, id] { return m_fields.Text(id); },
            [this, id](const QString &text) { m_fields.SetText(id, text); }, LengthLimit(id));
    for (int id : QXFormFields::kListIds)
        binder.BindChoice(
            id, [this, id] { return m_fields.Selected(id); },
            [this, id](int index) { m_fields.Select(id, index); },
            [this, id] { return m_fields.Lines(id); });
    for (int id : QXFormFields::kBoxIds)
        binder.BindTick(
            id, [this, id] { return m_fields.Box(id); },
            [this, id](bool ticked) { m_fields.SetBox(id, ticked); });
    binder.BindItems(
        PrimaryList, [this] { return m_fields.Coefficients(); },
        [this](const QStringList &lines) { m_fields.Coefficients() = lines; },
        [](int i) { return ZarnFormRules::ItemLabel(ZarnFormRules::CoeffList::Primary, i); });
}

void ZarnQXFormView::SetField(int id, const QString &text)
{
    m_fields.SetField(id, text);
    Binder().ShowAll();
}

QString ZarnQXFormView::GetField(int id)
{
    // Never a message: a list's dialogue may be asking. A text past its limit stays out.
    Binder().CollectAll();
    return m_fields.GetField(id);
}

QuixalSheet::Fields ZarnQXFormView::SheetFields()
{
    // Read from the field model, with what the controls show moved into it first.
    return QuixalSheetReader::Read(
        Members(), GetDocument() ? GetDocument()->PathName() : QString());
}

CurveSource ZarnQXFormView::GraphSource()
{
    CollectFields();
    Binder().CollectAll();
    CurveSource source;
    source.fullScale = m_fields.Text(QXFieldId::FullScale);
    source.cFactor = m_fields.Text(QXFieldId::CFactor);
    source.zeroOffset = m_fields.Text(QXFieldId::ZeroOffset);
    source.zeroCutoff = m_fields.Text(QXFieldId::ZeroCutoff);
    source.primary = m_fields.Coefficients();
    return source;
}

void ZarnQXFormView::OnCurve()
{
    CurveGraphDialog dialog(CurveGraph::Kind::QXPolyCurve, GraphSource(), this);
    dialog.exec();
}

void ZarnQXFormView::OnLinear()
{
    CurveGraphDialog dialog(CurveGraph::Kind::QXPolyLine, GraphSource(), this);
    dialog.exec();
}

void ZarnQXFormView::ShowFields()
{
    if (QXMeterDoc *doc = Document()) {
        doc->VarsToFormQX(*this);
        m_shownUnits = doc->Context().units; // the transfer has just set this form's units
    }
}

void ZarnQXFormView::CollectFields()
{
    if (QXMeterDoc *doc = Document()) {
        doc->FormToVarsQX(*this);
        m_shownUnits = doc->Context().units;
    }
}

bool ZarnQXFormView::CanConvertTo(const QString &target)
{
    const QString section = QXMeterDoc::SectionForTarget(target);
    if (!section.isEmpty() && QXMeterVars(section, true).Count() > 0)
        return true;
    UserMessage::Show(QStringLiteral("varsQX.dat holds no Quixal layout for firmware %1, the "
                                     "version selected in the settings.\nThe meter data were "
                                     "not converted; select another firmware version in View > "
                                     "Settings to convert them.")
                          .arg(target.isEmpty() ? QStringLiteral("(none)") : target),
        QString::fromLatin1(kAppTitle));
    return false;
}

int ZarnQXFormView::ConvertDocument(CMeterDoc &, const QString &target)
{
    QXMeterDoc *doc = Document();
    if (!doc)
        return 0;
    if (doc->ConvertToVersionQX(target))
        return 1;
    UserMessage::Show(QStringLiteral("varsQX.dat holds no layout for %1: the meter data were "
                                     "not converted.")
                          .arg(target),
        QString::fromLatin1(kAppTitle));
    return 0;
}

std::unique_ptr<MeterSeriesModel> ZarnQXFormView::MakeSeriesModel() const
{
    return std::make_unique<QuixalSeriesModel>();
}

QString ZarnQXFormView::SaveAsTitle()
{
    return QuixalSeriesModel::TitleOf(GetField(SerialNumber));
}

// ---------------------------------------------------------------------------------------------
// Editing

void ZarnQXFormView::OnTyped(int id)
{
    MarkEdited();
    switch (id) {
    case FullScale:
        m_editField = 5;
        break;
    case MaxRange:
        m_editField = 8;
        break;
    case ZeroCutoff:
        m_editField = 9;
        break;
    case ZeroOffset: {
        QLineEdit *edit = EditOf(id);
        const QString limited = ZarnFormRules::LimitZeroOffset(edit->text());
        if (limited != edit->text())
            edit->setText(limited);
        m_editField = 4;
        break;
    }
    default:
        break;
    }
}

void ZarnQXFormView::FieldFocused(int id)
{
    const int code = id == FullScale ? 5
        : id == CFactor              ? 6
        : id == MaxRange             ? 8
        : id == ZeroCutoff           ? 9
                                     : 0;
    if (code)
        m_editField = code;
}

void ZarnQXFormView::FieldLeft(int id)
{
    if (QLineEdit *edit = EditOf(id)) {
        const QString limited = QXFormFields::LimitOnLeave(id, edit->text());
        if (limited != edit->text())
            edit->setText(limited);
    }
    // A running list owns the document until it ends: the typed text waits in its field.
    const bool collect = !ListRuns();
    switch (id) {
    case MaxRange:
        if (collect)
            CollectFields();
        return; // the edit code stays
    case FullScale:
    case CFactor:
    case XSect:
    case ZeroCutoff:
    case ZeroOffset:
        if (collect)
            CollectFields();
        m_editField = 0;
        return;
    case DisplayRefresh:
    case DacRefresh:
    case DacFilter:
    case CalibrationDue:
    case DateField:
    case TimeField:
    case Password:
    case SerialNumber:
    case UpPcba:
        m_editField = 0;
        return;
    default:
        return;
    }
}

void ZarnQXFormView::OnUnitsPicked(int index)
{
    QXMeterDoc *doc = Document();
    if (!doc || index < 0)
        return;
    const QStringList &lines = m_fields.Lines(Units);
    if (index >= lines.size())
        return;
    // The old values are in the units this form shows, whatever another form showed last.
    doc->Context().units = m_shownUnits;
    doc->UnitsChangedQX(*this, ZarnFormRules::UnitsOfLine(lines.at(index)));
    m_shownUnits = doc->Context().units;
    MarkEdited();
}

// ---------------------------------------------------------------------------------------------
// The coefficient list and the keys

QLineEdit *ZarnQXFormView::RingField(int code) const
{
    return EditOf(ZarnFormRules::RingFieldId(code));
}

// ---------------------------------------------------------------------------------------------
// Clock

void ZarnQXFormView::ClockTick()
{
    ShowClock(EditOf(TimeField), EditOf(DateField), EditOf(CalibrationDue));
    const QString label = QXFormFields::TemplateLabel(Context().version);
    if (!label.isEmpty())
        m_template->setText(label);
    // The terminal fills these when it hears the meter identify itself. Until it has, what a
    // read put into the labels stays; a Kelvane meter in the terminal is not this form's meter.
    const bool ownMeter
        = MeterSeries::OfVersion(AppServices::Meter().Version()) == MeterSeries::Quixal;
    if (ownMeter) {
        m_meterVersion->setText(AppServices::Meter().Version());
    } else {
        m_meterVersion->setText(QXFormFields::VersionLabelShown(m_meterVersion->text()));
    }
    if (ownMeter && !AppServices::Meter().Revision().isEmpty()) {
        m_revision->setText(AppServices::Meter().Revision());
    } else {
        m_revision->setText(ZarnFormRules::IdentityLabel(m_revision->text()));
    }
}

// ---------------------------------------------------------------------------------------------
// Read and Send

void ZarnQXFormView::OnRead()
{
    if (!ConfirmReadOverEdits())
        return;
    StartList(QString::fromLatin1(QuixalSeriesModel::kReadList), kReadTimer, kReadPeriodMs);
}

void ZarnQXFormView::OnSend()
{
    if (!CheckTypedNumbers())
        return;
    // The reads around it, as the settings ask, go at the Read button's pace.
    const bool started
        = StartSend({ QString::fromLatin1(QuixalSeriesModel::kReadList), kReadPeriodMs,
                        QString::fromLatin1(QuixalSeriesModel::kSendList), kSendPeriodMs },
            [this] {
                CollectFields();
                if (QXMeterDoc *doc = Document())
                    m_fields.SetImageText(doc->ImageToSendText());
                Binder().ShowAll();
            });
    if (started)
        CoefficientList(ZarnFormRules::CoeffList::Primary).Clear();
}

void ZarnQXFormView::ListEnded(int timerId)
{
    if (timerId != kReadTimer)
        return;
    // A Kelvane meter, or a version varsQX.dat has no layout for: its bytes would fill the
    // Quixal fields with the wrong variables. Nothing is taken; the labels go back.
    const QString version = m_fields.Text(MeterVersion).trimmed();
    const MeterVars *table = Document() ? Document()->Vars() : nullptr;
    const QString noLayout = table && table->Count() > 0
        ? QString()
        : QStringLiteral("varsQX.dat holds no layout for firmware %1, the version the meter "
                         "reported.\nThe form is left as it was.")
              .arg(version);
    if (!AcceptReadMeter(version, MeterSeries::Quixal, noLayout))
        return;
    const QString text = TakeReadImage(m_fields.ImageText());
    QXMeterDoc *doc = Document();
    if (text.isEmpty() || !doc)
        return;
    Binder().CollectAll();
    m_fields.LoadLists(false);
    Binder().ShowAll();
    doc->ImageFromText(text);
    ShowFields();
    MarkEdited(); // the meter's values are not in the file yet
    const QString serial = EditOf(SerialNumber)->text();
    if (serial.size() > LengthLimit(SerialNumber))
        UserMessage::Show(QStringLiteral("The meter's serial number %1 is longer than the %2 "
                                         "characters this form shows; it is kept as the meter "
                                         "sent it.")
                              .arg(serial)
                              .arg(LengthLimit(SerialNumber)),
            QString::fromLatin1(kAppTitle));
    AppServices::Meter().SetSerial(
        serial.trimmed()); // the connected meter's, for the next Send's question
    Retitle(QuixalSeriesModel::TitleOf(serial));
    CoefficientList(ZarnFormRules::CoeffList::Primary).Clear();
}
