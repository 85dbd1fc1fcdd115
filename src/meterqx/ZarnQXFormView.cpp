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
#include "meter/CurveSourceReader.h"
#include "meter/MeterSeries.h"
#include "meter/ZarnFormRules.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/QXFieldRules.h"
#include "meterqx/QXFields.h"
#include "meterqx/QXMeterDoc.h"
#include "meterqx/QXMeterVars.h"
#include "meterqx/QuixalDocSeries.h"
#include "meterqx/QuixalFormLayout.h"
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

ZarnQXFormView::ZarnQXFormView(CDocument *document, QWidget *parent)
    : ZarnFormBase(document, parent)
{
    QuixalFormLayout(this, Builder(), Binder(), *this).Build();
    QuixalFormLayout::Bind(Binder(), m_fields);
    Connect();
    // The lists' entries are there before the window is fitted to the form (the boxes are as
    // wide as their longest entry).
    m_fields.LoadLists();
    for (int id : QXFormFields::ListIds())
        Binder().Show(id);
    SetNumberFields(QXFieldRules::Table().Numbers());
    WatchAll([this](int id) { OnTyped(id); });
    m_fields.SetVersionHandler([this](const QString &version) {
        if (QXMeterDoc *doc = Document())
            doc->SetVersion(version);
    });
    SetSheet(
        [this](const SheetMetrics &metrics) { return QuixalSheet::Build(SheetFields(), metrics); });
}

ZarnQXFormView::~ZarnQXFormView() = default;

void ZarnQXFormView::Connect()
{
    for (int id : QXFormFields::ListIds())
        connect(qobject_cast<QComboBox *>(Control(id)), &QComboBox::activated, this,
            &ZarnQXFormView::MarkEdited);
    for (int id : QXFormFields::BoxIds())
        connect(qobject_cast<QCheckBox *>(Control(id)), &QCheckBox::clicked, this,
            &ZarnQXFormView::MarkEdited);
    connect(m_readButton, &QPushButton::clicked, this, &ZarnQXFormView::OnRead);
    connect(m_sendButton, &QPushButton::clicked, this, &ZarnQXFormView::OnSend);
    connect(qobject_cast<QComboBox *>(Control(Units)), &QComboBox::activated, this,
        &ZarnQXFormView::OnUnitsPicked);
    m_coeffEdit->installEventFilter(this);
    AddCoefficientList(
        { ZarnFormRules::CoeffList::Primary, m_coefficients, m_coeffEdit, m_coeffLabel });
    connect(m_curve, &QPushButton::clicked, this, &ZarnQXFormView::OnCurve);
    connect(m_linear, &QPushButton::clicked, this, &ZarnQXFormView::OnLinear);
    connect(m_calBox, &QCheckBox::toggled, this,
        [this](bool ticked) { SetCalibrationFollows(!ticked); });
    connect(m_date, &QPushButton::clicked, this, &ZarnQXFormView::ToggleDayFirst);
    connect(m_time, &QPushButton::clicked, this, &ZarnQXFormView::ToggleHours24);
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
    // The Quixal graphs have no curve-fit choice.
    return CurveSourceReader::Read(Members(), 0);
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
        doc->VarsToForm(*this);
        m_shownUnits = doc->Context().units; // the transfer has just set this form's units
    }
}

void ZarnQXFormView::CollectFields()
{
    if (QXMeterDoc *doc = Document()) {
        doc->FormToVars(*this);
        m_shownUnits = doc->Context().units;
    }
}

bool ZarnQXFormView::CanConvertTo(const QString &target)
{
    const QString section = QuixalDocSeries::SectionForTarget(target);
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
    if (doc->ConvertToVersion(target))
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
        const QString limited = QXFieldRules::Table().Changed(id, edit->text());
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
        const QString limited = QXFieldRules::Table().Leave(id, edit->text());
        if (limited != edit->text())
            edit->setText(limited);
    }
    // A running list owns the document until it ends: the typed text waits in its field.
    if (QXFieldRules::Table().CollectsOnLeave(id) && !ListRuns())
        CollectFields();
    switch (id) {
    case MaxRange:
        return; // the edit code stays
    case FullScale:
    case CFactor:
    case XSect:
    case ZeroCutoff:
    case ZeroOffset:
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
    doc->UnitsChanged(*this, ZarnFormRules::UnitsOfLine(lines.at(index)));
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
}

std::pair<QString, QString> ZarnQXFormView::MeterIdentity() const
{
    return { QXFormFields::VersionLabelShown(m_meterVersion->text()),
        ZarnFormRules::IdentityLabel(m_revision->text()) };
}

void ZarnQXFormView::FollowMeter()
{
    // The terminal fills these when it hears the meter identify itself; a Kelvane meter in the
    // terminal is not this form's meter.
    if (MeterSeries::OfVersion(AppServices::Meter().Version()) != MeterSeries::Quixal)
        return;
    m_meterVersion->setText(AppServices::Meter().Version());
    if (!AppServices::Meter().Revision().isEmpty())
        m_revision->setText(AppServices::Meter().Revision());
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
    if (serial.size() > QuixalFormLayout::LengthLimit(SerialNumber))
        UserMessage::Show(QStringLiteral("The meter's serial number %1 is longer than the %2 "
                                         "characters this form shows; it is kept as the meter "
                                         "sent it.")
                              .arg(serial)
                              .arg(QuixalFormLayout::LengthLimit(SerialNumber)),
            QString::fromLatin1(kAppTitle));
    AppServices::Meter().SetSerial(
        serial.trimmed()); // the connected meter's, for the next Send's question
    Retitle(QuixalSeriesModel::TitleOf(serial));
    CoefficientList(ZarnFormRules::CoeffList::Primary).Clear();
}
