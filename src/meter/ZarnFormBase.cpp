#include "meter/ZarnFormBase.h"

#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "base/AppServices.h"
#include "base/AppTitle.h"
#include "base/CDocument.h"
#include "base/DialogueRunner.h"
#include "base/FieldWidth.h"
#include "base/MeterSession.h"
#include "base/SheetPrinter.h"
#include "base/UserMessage.h"
#include "lists/CQueView.h"
#include "meter/CMeterDoc.h"
#include "meter/FieldIds.h"
#include "meter/FormFileCommands.h"
#include "meter/MeterSeriesModel.h"
#include "meter/MeterVars.h"
#include "meter/ZarnFormRules.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QTimerEvent>
#include <QTreeWidget>

ZarnFormBase::SaveAsPrompt ZarnFormBase::SetSaveAsPrompt(SaveAsPrompt prompt)
{
    return FormFileCommands::SetSaveAsPrompt(std::move(prompt));
}

ZarnFormBase::ListOpener ZarnFormBase::SetListOpener(ListOpener opener)
{
    return FormLists::SetListOpener(std::move(opener));
}

void ZarnFormBase::SetMeterLink(IMeterLink *link)
{
    FormLists::SetMeterLink(link);
}

ZarnFormBase::ZarnFormBase(CDocument *document, QWidget *parent)
    : CView(document, parent)
    , m_builder(this, m_binder, [this](int id) { FieldLeft(id); })
    , m_send(std::make_unique<FormSend>(static_cast<FormSend::Host &>(*this)))
    , m_files(std::make_unique<FormFileCommands>(static_cast<FormFileCommands::Host &>(*this)))
    , m_edits(m_binder, [this] { return GetDocument(); })
    , m_listRuns(static_cast<FormLists::Host &>(*this), *m_send, this)
{
    // A compact 8 pt face with Arial's metrics, as the forms' captions were laid out for it.
    QFont small = font();
    small.setFamilies({ QStringLiteral("Arial"), QStringLiteral("Liberation Sans") });
    small.setPointSize(8);
    setFont(small);
    // The document saved (or put back to its saved text): the fields' texts are the saved
    // ones. Marked modified by anything but typing: Undo no longer brings it back.
    if (CDocument *doc = GetDocument()) {
        connect(doc, &CDocument::ModifiedChanged, this,
            [this](bool modified) { m_edits.DocumentModified(modified); });
    }
}

void ZarnFormBase::SetSheet(const std::function<SheetPage(const SheetMetrics &)> &build)
{
    m_sheet = std::make_unique<SheetPrinter>(
        this, build, [this] { return GetDocument() ? GetDocument()->Title() : QString(); },
        [this] {
            const QString path = GetDocument() ? GetDocument()->PathName() : QString();
            return path.isEmpty() ? QString() : QFileInfo(path).absolutePath();
        });
}

void ZarnFormBase::SendWhenFree(const QByteArray &command)
{
    m_listRuns.SendWhenFree(command);
}

bool ZarnFormBase::RefuseWhileListRuns()
{
    return m_listRuns.RefuseWhileRuns();
}

bool ZarnFormBase::ConfirmReadOverEdits()
{
    const CDocument *doc = GetDocument();
    if (m_listRuns.Running() || !doc || !doc->IsModified())
        return true; // a running list is only brought forward
    return UserMessage::Ask(QStringLiteral("%1 has changes that are not saved.\nReading the "
                                           "meter replaces them. Read anyway?")
                                .arg(doc->Title()),
        QString::fromLatin1(kAppTitle));
}

void ZarnFormBase::MarkEdited()
{
    m_edits.MarkEdited();
}

bool ZarnFormBase::CheckTypedNumbers()
{
    const CMeterDoc *doc = MeterDoc();
    return m_edits.CheckTypedNumbers(doc ? doc->Vars() : nullptr);
}

ZarnFormBase::~ZarnFormBase()
{
    m_listRuns.Abandon();
}

bool ZarnFormBase::CanClose()
{
    if (!m_listRuns.Sending())
        return true;
    return UserMessage::Ask(
        QString::fromLatin1(kCloseWhileSendingText), QString::fromLatin1(kAppTitle));
}

IMeterLink *ZarnFormBase::Link()
{
    return m_listRuns.Link();
}

CMeterDoc *ZarnFormBase::MeterDoc() const
{
    return qobject_cast<CMeterDoc *>(GetDocument());
}

MeterContext &ZarnFormBase::Context()
{
    CMeterDoc *doc = MeterDoc();
    return doc ? doc->Context() : m_ownContext;
}

QString ZarnFormBase::DocSection() const
{
    const CMeterDoc *doc = MeterDoc();
    return doc && doc->Vars() ? doc->Vars()->SectionName() : QString();
}

// ---------------------------------------------------------------------------------------------
// Controls (built by m_builder, kept by field id in m_binder)

void ZarnFormBase::WatchAll(const std::function<void(int id)> &typed)
{
    // Focus changes and the keys Enter/Up/Down of every control pass through eventFilter;
    // typing is seen through textEdited (the user's keys only).
    const auto &controls = m_binder.Controls();
    for (auto it = controls.cbegin(); it != controls.cend(); ++it) {
        QWidget *widget = it.value();
        widget->installEventFilter(this);
        if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
            // A long number widens its field rather than being shown cut.
            if (!edit->isHidden())
                FieldWidth::Watch(edit);
            const int id = m_binder.IdOf(edit);
            connect(edit, &QLineEdit::textEdited, this,
                [this, typed, id] { m_edits.Typed(id, [&typed, id] { typed(id); }); });
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Coefficient lists

void ZarnFormBase::AddCoefficientList(const CoefficientEdit &list)
{
    const ZarnFormRules::CoeffList kind = list.Kind();
    m_coefficientLists.insert(int(kind), list);
    QTreeWidget *tree = list.List();
    connect(tree, &QTreeWidget::itemClicked, this, [this, tree, kind](QTreeWidgetItem *item) {
        OpenCoefficient(kind, tree->indexOfTopLevelItem(item));
    });
}

void ZarnFormBase::OpenCoefficient(ZarnFormRules::CoeffList kind, int index)
{
    // The code is set after the focus moved: leaving the previous field resets it.
    if (CoefficientList(kind).Open(index))
        m_editField = int(kind);
}

void ZarnFormBase::EnterInList(int code)
{
    CoefficientEdit &list = m_coefficientLists[code];
    if (!MayEnterInList(list) || !list.Enter())
        return;
    MarkEdited();
    m_editField = code;
    WalkInList(code, +1);
}

void ZarnFormBase::WalkInList(int code, int step)
{
    const int next = m_coefficientLists[code].Next(step);
    if (next >= 0)
        OpenCoefficient(ZarnFormRules::CoeffList(code), next);
}

// ---------------------------------------------------------------------------------------------
// Keys, focus and timers

bool ZarnFormBase::HandlesCommand(AppCommand command) const
{
    switch (command) {
    case AppCommand::Enter:
    case AppCommand::Up:
    case AppCommand::Down:
    case AppCommand::Save:
    case AppCommand::SaveAs:
    case AppCommand::Convert:
        return true;
    case AppCommand::Print:
    case AppCommand::PrintPreview:
    case AppCommand::ExportPdf:
        return m_sheet != nullptr;
    default:
        return CView::HandlesCommand(command);
    }
}

bool ZarnFormBase::OnCommand(AppCommand command)
{
    switch (command) {
    case AppCommand::Enter:
    case AppCommand::Up:
    case AppCommand::Down:
        return HandleKeyCommand(command);
    case AppCommand::Save:
        Save();
        return true;
    case AppCommand::SaveAs:
        SaveAs();
        return true;
    case AppCommand::Convert:
        Convert();
        return true;
    case AppCommand::Print:
    case AppCommand::PrintPreview:
    case AppCommand::ExportPdf:
        if (!m_sheet)
            return false;
        if (command == AppCommand::Print)
            m_sheet->Print();
        else if (command == AppCommand::PrintPreview)
            m_sheet->Preview();
        else
            m_sheet->ExportPdf();
        return true;
    default:
        return CView::OnCommand(command);
    }
}

bool ZarnFormBase::HandleKeyCommand(AppCommand command)
{
    const int code = m_editField;
    const int step = command == AppCommand::Up ? -1 : +1;
    if (IsListCode(code)) {
        if (command == AppCommand::Enter)
            EnterInList(code);
        else
            WalkInList(code, step);
        return true;
    }
    if (ZarnFormRules::IsRingCode(code)) {
        MoveInRing(step);
        return true;
    }
    if (command != AppCommand::Enter)
        return false;
    EnterElsewhere(code);
    return true; // Enter never reaches the focused control
}

void ZarnFormBase::MoveInRing(int step)
{
    const int next = ZarnFormRules::NextRingCode(m_editField, step);
    QLineEdit *field = RingField(next);
    if (!field)
        return;
    field->setFocus();
    field->selectAll();
    m_editField = next;
}

bool ZarnFormBase::eventFilter(QObject *watched, QEvent *event)
{
    const int id = m_binder.IdOf(watched);
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() & ~(Qt::KeypadModifier))
            break;
        AppCommand command = AppCommand::Enter;
        if (key->key() == Qt::Key_Up)
            command = AppCommand::Up;
        else if (key->key() == Qt::Key_Down)
            command = AppCommand::Down;
        else if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            break;
        if (HandleKeyCommand(command))
            return true;
        break;
    }
    case QEvent::FocusIn:
        m_edits.Focused(id);
        FieldFocused(id);
        break;
    case QEvent::FocusOut: {
        auto *focus = static_cast<QFocusEvent *>(event);
        // A popup (a list opening) or another window taking the focus is not leaving the field.
        if (focus->reason() == Qt::PopupFocusReason
            || focus->reason() == Qt::ActiveWindowFocusReason)
            break;
        if (const CMeterDoc *doc = MeterDoc())
            m_edits.CheckNumberField(id, doc->Vars());
        else
            m_edits.CheckNumberField(id, nullptr);
        FieldLeft(id);
        break;
    }
    default:
        break;
    }
    return CView::eventFilter(watched, event);
}

void ZarnFormBase::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_clock.timerId())
        ClockTick();
    else
        CView::timerEvent(event);
}

void ZarnFormBase::TimerTick(int timerId)
{
    if (timerId == kClockTimer)
        ClockTick();
}

bool ZarnFormBase::IsTimerActive(int timerId) const
{
    return timerId == kClockTimer && m_clock.isActive();
}

void ZarnFormBase::StartClock()
{
    if (GetDocument())
        m_openingTitle = GetDocument()->Title();
    m_edits.NoteSavedText();
    ClockTick();
    m_clock.start(1000, this);
    // What the connected meter says of itself reaches the form as it is told, not on the clock.
    connect(&AppServices::Meter(), &MeterSession::Changed, this, &ZarnFormBase::OnMeterChanged,
        Qt::UniqueConnection);
    OnMeterChanged();
}

void ZarnFormBase::OnMeterChanged()
{
    FollowMeter();
    ShowMeterIdentity();
}

void ZarnFormBase::ShowMeterIdentity()
{
    const auto [version, revision] = MeterIdentity();
    if (auto *label = qobject_cast<QLabel *>(Control(FieldId::MeterVersion)))
        label->setText(version);
    if (auto *label = qobject_cast<QLabel *>(Control(FieldId::Revision)))
        label->setText(revision);
}

void ZarnFormBase::ShowClock(QLineEdit *time, QLineEdit *date, QLineEdit *calibrationDue)
{
    const QDateTime now = QDateTime::currentDateTime();
    time->setText(ZarnFormRules::TimeText(now.time(), m_hours24));
    date->setText(ZarnFormRules::DateText(now.date(), m_dayFirst));
    if (!m_fixedCalibration)
        calibrationDue->setText(ZarnFormRules::DateText(now.date().addDays(365), m_dayFirst));
}

void ZarnFormBase::ToggleDayFirst()
{
    m_dayFirst = !m_dayFirst;
    ClockTick();
}

void ZarnFormBase::ToggleHours24()
{
    m_hours24 = !m_hours24;
    ClockTick();
}

void ZarnFormBase::SetCalibrationFollows(bool follows)
{
    m_fixedCalibration = !follows;
    ClockTick();
}

// ---------------------------------------------------------------------------------------------
// Command lists

CQueView *ZarnFormBase::Runner() const
{
    return m_listRuns.Window();
}

int ZarnFormBase::RunningList() const
{
    return m_listRuns.Running() ? m_listRuns.Running() : m_send->List();
}

int ZarnFormBase::ListInProgress() const
{
    return m_listRuns.Running();
}

bool ZarnFormBase::StartSend(const FormSend::ListFiles &lists, std::function<void()> prepare)
{
    return m_send->Start(lists, std::move(prepare));
}

bool ZarnFormBase::StartSendList(
    const QString &fileName, int listId, int periodMs, IFieldAccess *fields)
{
    return m_listRuns.Start(fileName, listId, periodMs, {}, fields);
}

QString ZarnFormBase::FormSerial()
{
    return GetField(FieldId::SerialNumber);
}

bool ZarnFormBase::StartList(
    const QString &fileName, int listId, int periodMs, const std::function<void()> &prepare)
{
    return m_listRuns.Start(fileName, listId, periodMs, prepare, nullptr);
}

void ZarnFormBase::closeEvent(QCloseEvent *event)
{
    CView::closeEvent(event);
    if (event->isAccepted())
        m_listRuns.EndForClosing();
}

void ZarnFormBase::Audit(const QString &action, const QString &result, const QString &message)
{
    AuditRecord line;
    line.result = result;
    line.message = message;
    AppendAudit(action, line);
}

void ZarnFormBase::AuditSend(const AuditRecord &line)
{
    AppendAudit(QStringLiteral("send"), line);
}

void ZarnFormBase::AppendAudit(const QString &action, const AuditRecord &line)
{
    AuditRecord record = AuditRecord::Now(action, m_sheet ? m_sheet->OperatorName() : QString());
    record.series = MeterSeries::Name(MeterSeries::OfPath(FileExtension()));
    record.serial = GetField(FieldId::SerialNumber).trimmed();
    // The firmware as the read that filled the document told it; the connected meter's model
    // and firmware only when it is this form's meter (or, unnamed, the one a read, send or
    // range change spoke to). What none knows comes from the trail's earlier lines of the meter.
    const QString connected = AppServices::Meter().Serial().trimmed();
    const bool onLine = action != QLatin1String("save") && action != QLatin1String("convert");
    if (connected.isEmpty() ? onLine : connected == record.serial) {
        record.model = AppServices::Meter().Model().trimmed();
        record.firmware = AuditRecord::FirmwareText(AppServices::Meter().Version());
    }
    if (const CMeterDoc *doc = MeterDoc(); doc && !doc->MeterVersion().trimmed().isEmpty())
        record.firmware = AuditRecord::FirmwareText(doc->MeterVersion());
    // A form made from a template (New) or over a file that may not be written has no file.
    if (const CDocument *doc = GetDocument(); doc && !doc->PathName().isEmpty()
        && !doc->OpenedAsTemplate() && QFileInfo(doc->PathName()).isWritable()) {
        record.file = doc->PathName();
        record.sha256 = AuditLog::Sha256Of(doc->PathName());
    }
    record.changes = line.changes;
    record.asFound = line.asFound;
    record.result = line.result;
    record.message = line.message;
    const AuditLog trail(AuditSettings::TrailPath());
    trail.CompleteMeter(record);
    QString error;
    if (!trail.Append(record, &error))
        UserMessage::Show(error + QStringLiteral("\nThe %1 itself is not affected.").arg(action),
            QString::fromLatin1(kAppTitle));
}

QString ZarnFormBase::TakeReadImage(const QString &collected)
{
    return m_listRuns.TakeReadImage(collected);
}

bool ZarnFormBase::AcceptReadMeter(
    const QString &version, MeterSeries::Series own, const QString &noLayout)
{
    return m_listRuns.AcceptReadMeter(version, own, noLayout);
}

void ZarnFormBase::Retitle(const QString &title)
{
    if (CDocument *doc = GetDocument()) {
        doc->SetTitle(title);
        if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget()))
            frame->setWindowTitle(doc->FrameTitle());
    }
}

bool ZarnFormBase::Save()
{
    return m_files->Save();
}

bool ZarnFormBase::SaveAs()
{
    return m_files->SaveAs();
}

void ZarnFormBase::Convert()
{
    m_files->Convert();
}
