#include "meter/ZarnFormView.h"

#include "base/AppServices.h"
#include "base/AppTitle.h"
#include "base/CDocument.h"
#include "base/FieldWidth.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "graphs/CurveGraphDialog.h"
#include "meter/CMeterDoc.h"
#include "meter/CurveSourceReader.h"
#include "meter/FieldIds.h"
#include "meter/KelvaneFieldRules.h"
#include "meter/KelvaneSeriesModel.h"
#include "meter/KelvaneSheet.h"
#include "meter/KelvaneSheetReader.h"
#include "meter/MeterSeries.h"
#include "meter/MeterVars.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>

#include <algorithm>

using CoeffList = ZarnFormRules::CoeffList;
using Rules = KelvaneFormFields;

namespace {
constexpr const char *kListFiles[] = { KelvaneSeriesModel::kSendList, KelvaneSeriesModel::kReadList,
    KelvaneSeriesModel::kSelectList };

const char *const kNotSupportedCaption = "               Field Not Supported";
const char *const kNotSupportedText = "This Field Is Not Supported For Selected Version ";
} // namespace

ZarnFormView::ZarnFormView(CDocument *document, QWidget *parent)
    : ZarnFormBase(document, parent)
{
    KelvaneFormLayout(this, Builder(), Binder(), *this).Build();
    KelvaneFormLayout::FillAlarms(*this, m_fields);
    KelvaneFormLayout::FillUnits(*this, m_fields, RulesInForce().family);
    Connect();
    KelvaneFormLayout::Bind(Binder(), m_fields, m_contrastMoved, m_refreshMoved);
    SetNumberFields(KelvaneFieldRules::Table().Numbers());
    WatchAll();
    // A read's version and revision answers: shown at once, and the document keeps them.
    m_fields.SetVersionHandler([this](const QString &version) {
        SetReadIdentity(&version, nullptr);
        if (CMeterDoc *doc = MeterDoc())
            doc->SetVersion(version);
        ShowMeterIdentity();
    });
    m_fields.SetRevisionHandler([this](const QString &revision) {
        SetReadIdentity(nullptr, &revision);
        ShowMeterIdentity();
    });
    SetSheet([this](const SheetMetrics &metrics) {
        return KelvaneSheet::Build(SheetFields(), metrics);
    });
}
// ---------------------------------------------------------------------------------------------
// Controls

void ZarnFormView::Connect()
{
    connect(m_desired, &QComboBox::activated, this, &ZarnFormView::OnDesiredPicked);
    connect(m_readButton, &QPushButton::clicked, this, &ZarnFormView::OnReadActive);
    connect(m_sendButton, &QPushButton::clicked, this, &ZarnFormView::OnSendActive);
    connect(m_changeButton, &QPushButton::clicked, this, &ZarnFormView::OnChange);
    for (QComboBox *function : m_alarmFunction)
        connect(function, &QComboBox::activated, this, &ZarnFormView::MarkEdited);
    for (QCheckBox *check : { m_holdFlow1, m_holdFlow2, m_tracking, m_protocol })
        connect(check, &QCheckBox::clicked, this, &ZarnFormView::MarkEdited);
    connect(m_units, &QComboBox::activated, this, &ZarnFormView::OnUnitsPicked);
    connect(m_curveFit, &QComboBox::activated, this, &ZarnFormView::OnCurveFitPicked);
    for (const CoeffList kind : { CoeffList::Primary, CoeffList::Secondary, CoeffList::PointWise })
        AddCoefficientList({ kind, ListOf(kind), ListEditOf(kind), ListLabelOf(kind) });
    connect(m_curveButton, &QPushButton::clicked, this, &ZarnFormView::OnDisplayCurve);
    connect(m_linearButton, &QPushButton::clicked, this, &ZarnFormView::OnDisplayLinear);
    for (QSlider *slider : { m_contrast, m_refresh }) {
        bool &moved = slider == m_contrast ? m_contrastMoved : m_refreshMoved;
        connect(slider, &QAbstractSlider::actionTriggered, this, [this, &moved] {
            moved = true;
            MarkEdited();
        });
    }
    connect(m_calBox, &QCheckBox::toggled, this, &ZarnFormView::SetCalibrationFollows);
    connect(m_dateButton, &QPushButton::clicked, this, &ZarnFormView::ToggleDayFirst);
    connect(m_timeButton, &QPushButton::clicked, this, &ZarnFormView::ToggleHours24);
}

void ZarnFormView::WatchAll()
{
    ZarnFormBase::WatchAll([this](int id) { OnFieldEdited(id); });
    if (auto *zeroOffset = EditOf(FieldId::ZeroOffset)) {
        // Bounded on every change, whether typed or put there by a command list.
        connect(zeroOffset, &QLineEdit::textChanged, this, [zeroOffset](const QString &text) {
            const QString limited = ZarnFormRules::LimitZeroOffset(text);
            if (limited != text)
                zeroOffset->setText(limited);
        });
    }
}

// ---------------------------------------------------------------------------------------------
// Opening

void ZarnFormView::OnInitialUpdate()
{
    KelvaneFormLayout::FillAlarms(*this, m_fields);
    KelvaneFormLayout::FillUnits(*this, m_fields, RulesInForce().family);
    m_contrast->setValue(128);
    m_refresh->setValue(8);
    m_fields.SetSlider(FieldId::Contrast, 128, true);
    m_fields.SetSlider(FieldId::Refresh, 8, true);
    if (Runner() && Runner()->IsRunning())
        Runner()->Cancel();
    DocVarsToForm();
    // A further window onto the document (Window > New Window) shows the range the first
    // window has chosen to change to, not the image's.
    AppServices *services = AppServices::Instance();
    auto *first
        = services ? qobject_cast<ZarnFormView *>(services->FirstViewOf(GetDocument())) : nullptr;
    if (first && first != this) {
        m_desired->setCurrentIndex(first->m_desired->currentIndex());
        m_hiddenDesired->setText(first->m_hiddenDesired->text());
    }
    StartClock();
}

// ---------------------------------------------------------------------------------------------
// Field access

void ZarnFormView::SetField(int id, const QString &text)
{
    if (!ZarnFormRules::IsFormId(id))
        return;
    Binder().Collect(id);
    m_fields.SetField(id, text);
    if (id == FieldId::Contrast)
        m_contrastMoved = false;
    else if (id == FieldId::Refresh)
        m_refreshMoved = false;
    else if (id == FieldId::CalibrationDue)
        m_calDateGiven = m_fields.Text(FieldId::CalibrationDue);
    Binder().Show(id);
}

QString ZarnFormView::GetField(int id)
{
    if (!ZarnFormRules::IsFormId(id))
        return QString();
    Binder().Collect(id);
    return m_fields.GetField(id);
}

// ---------------------------------------------------------------------------------------------
// Editing

void ZarnFormView::OnFieldEdited(int id)
{
    MarkEdited();
    if (id == FieldId::ImageText || id == FieldId::SecondaryEdit || id == FieldId::PointWiseEdit)
        return; // a coefficient edit keeps its code while it holds an item
    m_editField = 4;
    if (id == FieldId::UpPcba && !ZarnFormRules::HasExtendedFields(Family())) {
        ListEditOf(CoeffList::Secondary)->clear();
        ListEditOf(CoeffList::PointWise)->clear();
        ShowNotSupported();
    }
}

void ZarnFormView::OnFieldLeft(int id)
{
    if (id == FieldId::CalibrationDue && !CheckCalibrationDate())
        return;
    if (QLineEdit *edit = EditOf(id)) {
        const QString limited = KelvaneFieldRules::Table().Leave(id, edit->text());
        if (limited != edit->text())
            edit->setText(limited);
    }
    m_editField = 0;
    // A running list owns the document until it ends.
    if (KelvaneFieldRules::Table().CollectsOnLeave(id) && !ListRuns())
        DocFormToVars();
}

bool ZarnFormView::CheckCalibrationDate()
{
    QLineEdit *edit = EditOf(FieldId::CalibrationDue);
    const QString text = edit->text().trimmed();
    if (text == m_calDateGiven.trimmed())
        return true;
    if (ZarnFormRules::IsCalibrationDate(text)) {
        m_calDateGiven = text;
        return true;
    }
    edit->setText(m_calDateGiven);
    UserMessage::Show(QStringLiteral("\"%1\" is not a calibration date.\nType it as mm/dd/yy "
                                     "(12/25/27) or dd.mm.yy (25.12.27).\nThe date stored before "
                                     "is kept.")
                          .arg(text),
        QString::fromLatin1(kAppTitle));
    return false;
}

void ZarnFormView::OnCurveFitPicked(int index)
{
    MarkEdited();
    const int choice = ZarnFormRules::CurveFitAfterPick(index, Family());
    if (choice != index)
        m_curveFit->setCurrentIndex(choice);
    if (CMeterDoc *doc = MeterDoc())
        doc->Context().curveFit = choice;
}

void ZarnFormView::OnUnitsPicked(int index)
{
    CMeterDoc *doc = MeterDoc();
    if (!doc || index < 0)
        return;
    MarkEdited();
    const int units = ZarnFormRules::UnitsOfLine(m_units->itemText(index));
    // The old values are in the units this form shows, whatever another form showed last.
    doc->Context().units = m_shownUnits;
    doc->UnitsChanged(*this, units, m_shownRules);
    m_shownUnits = doc->Context().units;
}

void ZarnFormView::OnDesiredPicked(int index)
{
    MarkEdited();
    m_hiddenDesired->setText(QString::number(index));
}

// ---------------------------------------------------------------------------------------------
// Coefficient lists

void ZarnFormView::ShowNotSupported()
{
    UserMessage::Show(
        QString::fromLatin1(kNotSupportedText), QString::fromLatin1(kNotSupportedCaption));
}

bool ZarnFormView::MayEnterInList(CoefficientEdit &list)
{
    // An early firmware has only the primary list: Enter in another says it is not supported.
    if (list.Edit()->text().isEmpty() || list.Kind() == CoeffList::Primary
        || !ZarnFormRules::IsEarlyVersion(Family()))
        return true;
    list.Edit()->clear();
    ShowNotSupported();
    return false;
}

// ---------------------------------------------------------------------------------------------
// Keys

QLineEdit *ZarnFormView::RingField(int code) const
{
    return EditOf(ZarnFormRules::RingFieldId(code));
}

void ZarnFormView::EnterElsewhere(int code)
{
    if (code != 0)
        return;
    ListEditOf(CoeffList::Secondary)->clear();
    ListEditOf(CoeffList::PointWise)->clear();
    ShowNotSupported();
}

// ---------------------------------------------------------------------------------------------
// Timers

void ZarnFormView::ClockTick()
{
    ShowClock(
        EditOf(FieldId::TimeField), EditOf(FieldId::DateField), EditOf(FieldId::CalibrationDue));
    if (!m_fixedCalibration)
        m_calDateGiven = EditOf(FieldId::CalibrationDue)->text();

    // The label rule also settles an unnamed working version as ">= 4.1A"; the form itself
    // shows and collects by its own document's layout, so that cannot change its values.
    const QString versionLabel = ZarnFormRules::TemplateLabel(DocSection(), Context().version);
    FollowRules();
    m_templateVersion->setText(ZarnFormRules::TemplateShown(Family(), versionLabel));
    ApplyVersionRule();
}

std::pair<QString, QString> ZarnFormView::MeterIdentity() const
{
    // The meter whose rules are in force: the one the terminal identified, or the one this
    // form was read from.
    const KelvaneFields::Rules rules = RulesInForce();
    return { ZarnFormRules::IdentityLabel(rules.meterVersion),
        ZarnFormRules::IdentityLabel(rules.revision) };
}

void ZarnFormView::FollowMeter()
{
    // Another meter's firmware brings other rules: the values are shown under them at once.
    FollowRules();
    ShowActiveRange();
}

void ZarnFormView::ShowActiveRange()
{
    // The terminal rescans the identification still on its screen, which names the range from
    // before the change: that old number does not undo the change the meter confirmed.
    if (!m_changedRange.isEmpty() && AppServices::Meter().Range() != m_changedRange
        && AppServices::Meter().Range() != m_rangeBeforeChange)
        m_changedRange.clear(); // the meter has told of another range since
    if (!m_failedRange.isEmpty() && AppServices::Meter().Range() != m_rangeAtFailure) {
        m_failedRange.clear();
        m_active->setToolTip(QString());
    }
    if (!m_failedRange.isEmpty())
        m_active->setText(QStringLiteral("?"));
    else if (!m_changedRange.isEmpty())
        m_active->setText(m_changedRange);
    else if (!AppServices::Meter().Range().isEmpty())
        m_active->setText(AppServices::Meter().Range());
    else if (ZarnFormRules::LeadingInt(m_active->text()) < 1)
        m_active->setText(QStringLiteral("?"));
}

void ZarnFormView::ApplyVersionRule()
{
    // The read-only edits, and the fields firmware before 4.1A lacks, as the field rules say.
    const bool extended = ZarnFormRules::HasExtendedFields(Family());
    const FieldRules &rules = KelvaneFieldRules::Table();
    for (const FieldRule &rule : rules.All()) {
        const bool readOnly = rule.kind == FieldRule::Kind::ReadOnly;
        const bool lacking = rules.Lacks(rule.id, extended);
        if (!readOnly && rule.early == FieldRule::Early::Kept)
            continue;
        if (rule.kind == FieldRule::Kind::Box) {
            Control(rule.id)->setVisible(!lacking);
            continue;
        }
        QLineEdit *edit = EditOf(rule.id);
        for (const CoeffList kind : { CoeffList::Secondary, CoeffList::PointWise })
            if (ZarnFormRules::ListIdOf(kind) == rule.id)
                edit = ListEditOf(kind);
        if (edit)
            FieldWidth::SetReadOnly(edit, readOnly || lacking);
    }
}

// ---------------------------------------------------------------------------------------------
// Command lists

void ZarnFormView::OnReadActive()
{
    StartList(ListKind::Read);
}

void ZarnFormView::OnSendActive()
{
    if (!CheckTypedNumbers())
        return;
    StartList(ListKind::Send);
}

void ZarnFormView::OnChange()
{
    if (!ZarnFormRules::CanChangeRange(m_active->text(), m_desired->currentText())) {
        // A button that cannot act says why.
        const int active = ZarnFormRules::LeadingInt(m_active->text());
        UserMessage::Show(active < 1 || active > 4
                ? QStringLiteral("The meter's active range is not known.\nRead the meter (Read "
                                 "Active) or identify it in the terminal, then change the range.")
                : QStringLiteral("Choose a Desired range from 1 to 4 other than the active range "
                                 "%1.")
                      .arg(active),
            QString::fromLatin1(kAppTitle));
        return;
    }
    StartList(ListKind::Select);
}

void ZarnFormView::StartList(ListKind kind)
{
    if (kind == ListKind::Read && !ConfirmReadOverEdits())
        return;
    const int timerId = kind == ListKind::Send ? kSendTimer
        : kind == ListKind::Read               ? kReadTimer
                                               : kSelectTimer;
    const auto prepare = [this, kind] {
        if (kind == ListKind::Send) {
            DocFormToVars(true);
            m_fields.SetImageText(MeterDoc() ? MeterDoc()->ImageToSendText() : QString());
        }
    };
    // A send reads the meter before and after it at the read list's pace, as the settings ask.
    const bool started = kind == ListKind::Send
        ? StartSend({ QString::fromLatin1(kListFiles[int(ListKind::Read)]), kListPeriodMs,
                        QString::fromLatin1(kListFiles[int(kind)]), kListPeriodMs },
            prepare)
        : ZarnFormBase::StartList(
            QString::fromLatin1(kListFiles[int(kind)]), timerId, kListPeriodMs, prepare);
    if (!started)
        return;
    if (kind == ListKind::Send)
        CoefficientList(CoeffList::Primary).Clear();
    m_listKind = kind;
}

void ZarnFormView::ListEnded(int timerId)
{
    if (timerId == kReadTimer)
        FinishRead();
    else if (timerId == kSelectTimer)
        FinishRangeChange();
}

void ZarnFormView::FinishRangeChange()
{
    const QString range = m_desired->currentText();
    m_rangeBeforeChange = m_active->text();
    m_changedRange = range;
    m_active->setText(range);
    AppServices::Meter().SetRange(range);
    // Nine "r" bring the meter back to its run mode on the new range: the change's last step,
    // sent from the event loop once the list's window has closed and freed the port.
    QMetaObject::invokeMethod(
        this, [this] { SendWhenFree(QByteArrayLiteral("rrrrrrrrr")); }, Qt::QueuedConnection);
}

void ZarnFormView::ListFailed(int timerId)
{
    if (timerId != kSelectTimer)
        return;
    // The change may have been taken half way: the meter's range is not known until it says.
    m_failedRange = m_desired->currentText();
    m_rangeAtFailure = AppServices::Meter().Range();
    m_changedRange.clear();
    m_active->setText(QStringLiteral("?"));
    m_active->setToolTip(QStringLiteral("The meter did not confirm the change to range %1: its "
                                        "active range is not known.\nRead the meter or identify "
                                        "it in the terminal.")
                             .arg(m_failedRange));
}

int ZarnFormView::ConvertDocument(CMeterDoc &doc, const QString &target)
{
    return doc.ConvertToVersion(target);
}

std::unique_ptr<MeterSeriesModel> ZarnFormView::MakeSeriesModel() const
{
    return std::make_unique<KelvaneSeriesModel>();
}

QString ZarnFormView::SaveAsTitle()
{
    return KelvaneSeriesModel::TitleOf(GetField(FieldId::SerialNumber), QString());
}

void ZarnFormView::FieldFocused(int id)
{
    if (id == FieldId::XSect)
        m_editField = 7;
    else if (id == FieldId::ZeroOffset)
        m_editField = 10;
}

void ZarnFormView::FieldLeft(int id)
{
    if (qobject_cast<QLineEdit *>(Control(id)) || id == FieldId::CurveFit)
        OnFieldLeft(id);
}

void ZarnFormView::FinishRead()
{
    // A Quixal meter's image would fill the Kelvane fields with the wrong variables: nothing of
    // the read is taken (the table and the meter's identity go back when the list stops; its
    // identity, shown as the answers came, goes back now).
    if (!AcceptReadMeter(m_readVersion, MeterSeries::Kelvane))
        return;
    const QString text = TakeReadImage(m_fields.ImageText());
    if (text.isEmpty())
        return;
    KelvaneFormLayout::FillUnits(*this, m_fields, RulesInForce().family);
    if (CMeterDoc *doc = MeterDoc())
        doc->ImageFromText(text);
    DocVarsToForm();
    MarkEdited(); // the meter's values are not in the file yet
    // The image just read holds the meter's active range. Until the terminal has heard the
    // meter say it, that range is the one shown as active (and the one the title carries).
    const int range = ZarnFormRules::LeadingInt(m_desired->currentText());
    const bool rangeRead = range >= 1 && range <= 4;
    if (AppServices::Meter().Range().isEmpty() && rangeRead)
        m_active->setText(QString::number(range));
    if (!m_failedRange.isEmpty() && rangeRead) {
        // The read tells the range a change left the meter on.
        m_failedRange.clear();
        m_active->setToolTip(QString());
        m_changedRange = QString::number(range);
        m_rangeBeforeChange = AppServices::Meter().Range();
    }
    if (!m_changedRange.isEmpty() && rangeRead) // newer than the terminal's old line too
        m_changedRange = QString::number(range);
    // The connected meter's serial number is the one its image holds: a Send compares with it.
    AppServices::Meter().SetSerial(GetField(FieldId::SerialNumber).trimmed());
    Retitle(KelvaneSeriesModel::TitleOf(
        GetField(FieldId::SerialNumber), GetField(FieldId::ActiveRange)));
    CoefficientList(CoeffList::Primary).Clear();
}

// ---------------------------------------------------------------------------------------------
// Document side

ZarnFormBase::ShownIdentity ZarnFormView::IdentityShown() const
{
    return { m_fields.Text(FieldId::MeterVersion), m_fields.Text(FieldId::Revision), QString() };
}

void ZarnFormView::ShowIdentity(const ShownIdentity &identity)
{
    // The template label follows the clock.
    m_fields.SetShown(FieldId::MeterVersion, identity.version);
    m_fields.SetShown(FieldId::Revision, identity.revision);
    m_flowMeterVersion->setText(identity.version);
    m_revision->setText(identity.revision);
}

QString ZarnFormView::Family() const
{
    return m_shown ? m_shownRules.family : RulesInForce().family;
}

KelvaneFormFields &ZarnFormView::Members()
{
    // What every control shows, moved into the field model.
    for (const int id : Binder().Controls().keys())
        Binder().Collect(id);
    return m_fields;
}

KelvaneSheet::Fields ZarnFormView::SheetFields()
{
    KelvaneFormFields &fields = Members();
    const CMeterDoc *doc = MeterDoc();
    return KelvaneSheetReader::Read(fields, doc ? doc->PathName() : QString(),
        doc && doc->Vars() ? doc->Vars()->SectionName() : QString());
}

CurveSource ZarnFormView::GraphSource()
{
    // This form's own curve-fit choice, not another open form's.
    KelvaneFormFields &fields = Members();
    return CurveSourceReader::Read(fields, fields.CurveFitSelected());
}

void ZarnFormView::OnDisplayCurve()
{
    DocFormToVars();
    CurveGraphDialog dialog(CurveGraph::Kind::PolyCurve, GraphSource(), this);
    dialog.exec();
}

void ZarnFormView::OnDisplayLinear()
{
    DocFormToVars();
    CurveGraphDialog dialog(CurveGraph::Kind::PolyLine, GraphSource(), this);
    dialog.exec();
}

KelvaneFields::Rules ZarnFormView::RulesInForce() const
{
    if (const CMeterDoc *doc = MeterDoc())
        return doc->RulesInForce();
    KelvaneFields::Rules rules;
    rules.family = Context().version;
    const bool identified = !AppServices::Meter().Version().isEmpty();
    rules.meterVersion = identified ? AppServices::Meter().Version() : m_readVersion;
    rules.revision = identified ? AppServices::Meter().Revision() : m_readRevision;
    return rules;
}

void ZarnFormView::SetReadIdentity(const QString *version, const QString *revision)
{
    if (version)
        m_readVersion = *version;
    if (revision)
        m_readRevision = *revision;
    if (CMeterDoc *doc = MeterDoc()) {
        if (version)
            doc->SetMeterVersion(*version);
        if (revision)
            doc->SetMeterRevision(*revision);
    }
}

void ZarnFormView::FollowRules()
{
    if (!m_shown || Runner())
        return;
    if (RulesInForce() == m_shownRules)
        return;
    DocFormToVars(); // what the user typed, read as it was shown
    DocVarsToForm();
}

void ZarnFormView::DocVarsToForm()
{
    CMeterDoc *doc = MeterDoc();
    if (!doc)
        return;
    const KelvaneFields::Rules rules = doc->RulesInForce();
    if (KelvaneFields::UnitsFile(rules.family) != m_fields.UnitsFile())
        KelvaneFormLayout::FillUnits(*this, m_fields, rules.family);
    doc->VarsToForm(*this, rules);
    m_shownUnits = doc->Context().units; // the transfer has just set this form's units
    m_shownRules = rules;
    m_shown = true;
    ShowActiveRange(); // the document's range is shown only while the meter's is not known
}

void ZarnFormView::DocFormToVars(bool forMeter)
{
    CMeterDoc *doc = MeterDoc();
    if (!doc)
        return;
    // Never shown: nothing to collect under, the fields hold no values of this document.
    if (!m_shown)
        return;
    m_fields.SetCollectingForFile(!forMeter);
    doc->FormToVars(*this, m_shownRules);
    m_shownUnits = doc->Context().units;
    m_fields.SetCollectingForFile(false);
}
