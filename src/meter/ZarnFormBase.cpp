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
#include "meter/FormSendCheck.h"
#include "meter/MeterSeriesModel.h"
#include "meter/MeterVars.h"
#include "meter/SendWithChecks.h"
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

namespace {
CQueView *OpenListDocument(const QString &fileName)
{
    return CQueView::OpenList(AppServices::Instance(), fileName);
}

ZarnFormBase::ListOpener &Opener()
{
    static ZarnFormBase::ListOpener opener = OpenListDocument;
    return opener;
}

IMeterLink *&LinkOverride()
{
    static IMeterLink *link = nullptr;
    return link;
}

} // namespace

ZarnFormBase::SaveAsPrompt ZarnFormBase::SetSaveAsPrompt(SaveAsPrompt prompt)
{
    return FormFileCommands::SetSaveAsPrompt(std::move(prompt));
}

ZarnFormBase::ListOpener ZarnFormBase::SetListOpener(ListOpener opener)
{
    ListOpener old = Opener();
    Opener() = std::move(opener);
    return old;
}

void ZarnFormBase::SetMeterLink(IMeterLink *link)
{
    LinkOverride() = link;
}

ZarnFormBase::ZarnFormBase(CDocument *document, QWidget *parent)
    : CView(document, parent)
    , m_builder(this, m_binder, [this](int id) { FieldLeft(id); })
    , m_sendCheck(std::make_unique<FormSendCheck>(*this))
    , m_files(std::make_unique<FormFileCommands>(static_cast<FormFileCommands::Host &>(*this)))
{
    m_listRunner = new DialogueRunner(this);
    // A compact 8 pt face with Arial's metrics, as the forms' captions were laid out for it.
    QFont small = font();
    small.setFamilies({ QStringLiteral("Arial"), QStringLiteral("Liberation Sans") });
    small.setPointSize(8);
    setFont(small);
    // The document saved (or put back to its saved text): the fields' texts are the saved
    // ones. Marked modified by anything but typing: Undo no longer brings it back.
    if (CDocument *doc = GetDocument()) {
        connect(doc, &CDocument::ModifiedChanged, this, [this](bool modified) {
            if (!modified)
                NoteSavedText();
            else if (!m_typing)
                m_editedBeyondText = true;
        });
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
    IMeterLink *link = Link();
    if (!link || (link->Port() && !link->Port()->FreeFor(this)))
        return;
    if (!m_sender)
        m_sender = new DialogueRunner(this);
    // A lambda without captures: its parameters live in the coroutine's frame.
    m_sender->Start([](ZarnFormBase *form, IMeterLink *meter, QByteArray text) -> Task<void> {
        const SerialPort::Claim claim(meter->Port(), form);
        co_await meter->SendCommandAsync(*form->m_sender, text, {});
    }(this, link, command));
}

void ZarnFormBase::MarkEdited()
{
    if (!m_typing)
        m_editedBeyondText = true;
    if (CDocument *doc = GetDocument())
        doc->SetModifiedFlag(true);
}

void ZarnFormBase::NoteSavedText()
{
    const CDocument *doc = GetDocument();
    m_savedText.clear();
    m_typedSince.clear();
    m_editedBeyondText = false;
    m_savedTextKnown = doc && !doc->IsModified();
    if (!m_savedTextKnown)
        return;
    const auto &controls = m_binder.Controls();
    for (auto it = controls.cbegin(); it != controls.cend(); ++it) {
        if (const auto *edit = qobject_cast<const QLineEdit *>(it.value()))
            m_savedText.insert(it.key(), edit->text());
    }
}

void ZarnFormBase::FollowSavedText()
{
    CDocument *doc = GetDocument();
    if (!doc || !m_savedTextKnown || m_editedBeyondText)
        return;
    // Only the fields typed into count: the clock's fields change every second on their own.
    bool saved = true;
    for (const int id : std::as_const(m_typedSince)) {
        const QLineEdit *edit = EditOf(id);
        if (edit && edit->text() != m_savedText.value(id))
            saved = false;
    }
    doc->SetModifiedFlag(!saved);
}

bool ZarnFormBase::RefuseWhileListRuns()
{
    if (!m_runner)
        return false;
    UserMessage::Show(QStringLiteral("A command list is exchanging data with the meter on this "
                                     "form.\nWait until it has finished, then try again."),
        QString::fromLatin1(kAppTitle));
    return true;
}

bool ZarnFormBase::ConfirmReadOverEdits()
{
    const CDocument *doc = GetDocument();
    if (m_runner || !doc || !doc->IsModified())
        return true; // a running list is only brought forward
    return UserMessage::Ask(QStringLiteral("%1 has changes that are not saved.\nReading the "
                                           "meter replaces them. Read anyway?")
                                .arg(doc->Title()),
        QString::fromLatin1(kAppTitle));
}

bool ZarnFormBase::ConfirmSendToMeter(const QString &formSerial)
{
    return m_runner || m_sendCheck->ConfirmMeter(formSerial);
}

bool ZarnFormBase::CheckNumberField(int id)
{
    const auto typed = m_textBeforeTyping.constFind(id);
    if (typed == m_textBeforeTyping.cend())
        return true;
    const QString before = typed.value();
    m_textBeforeTyping.remove(id);
    const NumberFieldRules::Field *field
        = m_numberFields ? NumberFieldRules::Find(*m_numberFields, id) : nullptr;
    QLineEdit *edit = EditOf(id);
    if (!field || !edit)
        return true;
    const CMeterDoc *doc = MeterDoc();
    const QString refusal
        = NumberFieldRules::Refusal(*field, edit->text(), doc ? doc->Vars() : nullptr);
    if (refusal.isEmpty())
        return true;
    // The text goes back before the message, so nothing (a list's tick, a repaint) sees it.
    edit->setText(before);
    if (id == m_focusId)
        m_focusText = before;
    FollowTyping([] {});
    UserMessage::Show(refusal, QString::fromLatin1(kAppTitle));
    return false;
}

bool ZarnFormBase::CheckTypedNumbers()
{
    bool accepted = true;
    const QList<int> typed = m_textBeforeTyping.keys();
    for (int id : typed)
        accepted = CheckNumberField(id) && accepted;
    return accepted && CheckTextLengths();
}

bool ZarnFormBase::CheckTextLengths()
{
    // Collecting leaves such a text out without a word (a list may be collecting): the
    // commands the user starts say it.
    const int id = m_binder.OverLimit();
    if (id == 0)
        return true;
    UserMessage::Show(
        QStringLiteral("Enter no more than %1 characters.").arg(m_binder.MaxLength(id)),
        QString::fromLatin1(kAppTitle));
    if (QLineEdit *edit = EditOf(id)) {
        edit->setFocus();
        edit->selectAll();
    }
    return false;
}

ZarnFormBase::~ZarnFormBase()
{
    // A list still running would run into a form that no longer exists: it ends where it
    // waits, and the meter is wound up.
    if (m_runner && m_runner->IsRunning())
        m_runner->Abandon();
    // A send cut short by closing without a close of this window (its list's window may have
    // closed first): the form is gone, so the application says it, once the window has closed.
    if (m_listId == kSendTimer)
        UserMessage::ShowLater(QString::fromLatin1(kSendCancelledText));
}

bool ZarnFormBase::CanClose()
{
    if (!m_runner || !m_runner->IsRunning() || m_listId != kSendTimer)
        return true;
    return UserMessage::Ask(
        QString::fromLatin1(kCloseWhileSendingText), QString::fromLatin1(kAppTitle));
}

IMeterLink *ZarnFormBase::Link()
{
    if (LinkOverride())
        return LinkOverride();
    AppServices *services = AppServices::Instance();
    m_link.SetSerial(services ? services->MeterLink() : nullptr);
    return &m_link;
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
            connect(edit, &QLineEdit::textEdited, this, [this, typed, id] {
                if (!m_textBeforeTyping.contains(id))
                    m_textBeforeTyping.insert(id, id == m_focusId ? m_focusText : QString());
                m_typedSince.insert(id);
                FollowTyping([&typed, id] { typed(id); });
            });
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
        m_focusId = id;
        if (QLineEdit *edit = EditOf(id))
            m_focusText = edit->text();
        FieldFocused(id);
        break;
    case QEvent::FocusOut: {
        auto *focus = static_cast<QFocusEvent *>(event);
        // A popup (a list opening) or another window taking the focus is not leaving the field.
        if (focus->reason() == Qt::PopupFocusReason
            || focus->reason() == Qt::ActiveWindowFocusReason)
            break;
        CheckNumberField(id);
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

void ZarnFormBase::FollowTyping(const std::function<void()> &react)
{
    // Typing (Undo and Redo included) marks the document only while the typed fields differ
    // from their saved text.
    m_typing = true;
    react();
    FollowSavedText();
    m_typing = false;
}

void ZarnFormBase::StartClock()
{
    if (GetDocument())
        m_openingTitle = GetDocument()->Title();
    NoteSavedText();
    ClockTick();
    m_clock.start(1000, this);
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
    return m_runner.data();
}

int ZarnFormBase::RunningList() const
{
    return m_runner ? m_listId : 0;
}

bool ZarnFormBase::StartSend(const SendLists &lists, const std::function<void()> &prepare)
{
    return m_sendCheck->Start(lists, prepare);
}

bool ZarnFormBase::StartList(
    const QString &fileName, int listId, int periodMs, const std::function<void()> &prepare)
{
    // Another list of this form is running: the same press again only brings its window
    // forward (below); another list waits its turn, and the user is told.
    if (m_runner && listId != m_listId) {
        RefuseWhileListRuns();
        return false;
    }
    // A port that is not open, or that another window's dialogue holds, is said at once, before
    // any list window opens (a list would only run into its time-outs).
    IMeterLink *link = Link();
    if (!m_runner && link && !link->Reachable()) {
        UserMessage::Show(link->Unreachable(), QString::fromLatin1(kAppTitle));
        return false;
    }
    if (!m_runner && link && link->Port() && link->Port()->IsClaimed()) {
        UserMessage::Show(QStringLiteral("The meter port is in use by another window's exchange "
                                         "with the meter.\nWait until it has finished, then "
                                         "try again."),
            QString::fromLatin1(kAppTitle));
        return false;
    }
    // Opening an open list only brings its window forward, so a second press reaches the list
    // already running and starts nothing.
    CQueView *runner = Opener() ? Opener()(fileName) : nullptr;
    if (!runner || m_runner)
        return false;
    if (prepare)
        prepare();
    IFieldAccess *fields = m_sendCheck->ReadFields();
    const QPointer<ZarnFormBase> self(this);
    const auto stopped = [self, listId](const ListRun::Outcome &outcome) {
        if (self)
            self->ListStopped(listId, outcome);
    };
    if (!runner->Start(fields ? fields : this, link, periodMs, stopped,
            listId == kSendTimer ? QString::fromLatin1(kPartlySentText) : QString(), m_listRunner))
        return false; // another form runs this list
    m_tableBeforeRead.reset();
    const CMeterDoc *doc = MeterDoc();
    if (listId == kReadTimer && doc && doc->Vars()) {
        m_tableBeforeRead = std::make_unique<MeterVars>(*doc->Vars());
        m_versionBeforeRead = doc->Context().version;
        m_identityBeforeRead = { doc->MeterVersion(), doc->MeterRevision() };
    }
    if (listId == kReadTimer)
        m_identityAtRead = IdentityShown();
    m_runner = runner;
    m_listId = listId;
    return true;
}

void ZarnFormBase::ListStopped(int listId, const ListRun::Outcome &outcome)
{
    if (listId != m_listId)
        return; // a run this form no longer follows
    const bool checkRead = listId == kCompareTimer || listId == kVerifyTimer;
    const QString action = ActionOf(listId);
    if (outcome.end != ListRun::End::Ended) {
        // Cancelled (or its window closed), or the list has said what went wrong (its jump
        // target is the message).
        const bool cancelled = outcome.end == ListRun::End::Cancelled;
        const QString result = cancelled ? QStringLiteral("cancelled") : QStringLiteral("failed");
        StopList();
        if (checkRead) {
            m_sendCheck->ReadEnded(listId, false, result);
            return;
        }
        ListFailed(listId);
        const QString said = listId != kSendTimer || !cancelled
            ? QString()
            : QString::fromLatin1(outcome.fieldCut ? kSendCutText : kSendCancelledText);
        Audit(action, result,
            said.isEmpty() && outcome.fieldCut && listId == kSendTimer
                ? QString::fromLatin1(kPartlySentText)
                : said);
        if (listId == kSendTimer) {
            m_sendCheck->Drop();
            if (!said.isEmpty())
                UserMessage::Show(said);
        }
        return;
    }
    if (checkRead) {
        StopList();
        m_sendCheck->ReadEnded(listId, true, QString());
        return;
    }
    ListEnded(listId);
    StopList();
    if (listId == kSendTimer && m_sendCheck->Active()) {
        // The checks go on from the event loop, once this list's window has closed.
        QMetaObject::invokeMethod(
            this, [this] { m_sendCheck->SendAcknowledged(); }, Qt::QueuedConnection);
        return;
    }
    // The write lists reach their end only on the meter's acknowledgement of the image; every
    // failure jumps to a message instead. A send without its checks is not read back.
    Audit(action, QStringLiteral("ok"),
        listId == kSendTimer ? QString::fromLatin1(SendWithChecks::kAcknowledgedText) : QString());
    if (listId == kSendTimer)
        UserMessage::Inform(QString::fromLatin1(SendWithChecks::kAcknowledgedText));
}

QString ZarnFormBase::ActionOf(int listId)
{
    if (listId == kSendTimer || listId == kCompareTimer || listId == kVerifyTimer)
        return QStringLiteral("send");
    return listId == kReadTimer ? QStringLiteral("read") : QStringLiteral("range change");
}

void ZarnFormBase::closeEvent(QCloseEvent *event)
{
    CView::closeEvent(event);
    if (event->isAccepted())
        EndListForClosing();
}

void ZarnFormBase::EndListForClosing()
{
    if (!m_runner || !m_runner->IsRunning())
        return;
    const int listId = m_listId;
    const bool fieldCut = m_runner->Executor().FieldCut();
    m_runner->Abandon();
    StopList();
    if (listId == kCompareTimer || listId == kVerifyTimer) {
        m_sendCheck->ReadCut(listId);
        return;
    }
    const QString said = listId != kSendTimer
        ? QString()
        : QString::fromLatin1(fieldCut ? kSendCutText : kSendCancelledText);
    Audit(ActionOf(listId), QStringLiteral("cancelled"), said);
    if (listId == kSendTimer) {
        m_sendCheck->Drop();
        UserMessage::ShowLater(said);
    }
}

void ZarnFormBase::Audit(const QString &action, const QString &result, const QString &message)
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
    if (action == QLatin1String("send")) {
        record.changes = m_sendCheck->Changes();
        record.asFound = m_sendCheck->AsFound();
    }
    record.result = result;
    record.message = message;
    const AuditLog trail(AuditSettings::TrailPath());
    trail.CompleteMeter(record);
    QString error;
    if (!trail.Append(record, &error))
        UserMessage::Show(error + QStringLiteral("\nThe %1 itself is not affected.").arg(action),
            QString::fromLatin1(kAppTitle));
}

void ZarnFormBase::StopList()
{
    m_listId = 0;
    m_runner = nullptr;
    // A read that stopped without an image: the version answer may have rebuilt the table.
    if (m_tableBeforeRead) {
        if (CMeterDoc *doc = MeterDoc()) {
            doc->SetVars(std::move(m_tableBeforeRead));
            doc->SetMeterIdentity(m_identityBeforeRead.first, m_identityBeforeRead.second);
            doc->Context().version = m_versionBeforeRead;
        }
        m_tableBeforeRead.reset();
    }
}

QString ZarnFormBase::TakeReadImage(const QString &collected)
{
    QString text = collected;
    while (!text.isEmpty() && text.back().isSpace())
        text.chop(1);
    // The check tarvik-cli makes on a read: the same words, and the form's own ending.
    const CMeterDoc *doc = MeterDoc();
    const QString fault = doc ? MeterSeriesModel::ReadImageFault(*doc, text)
        : text.isEmpty()      ? QStringLiteral("The meter sent no configuration image.")
                              : QString();
    if (!fault.isEmpty()) {
        // Nothing of the answer is used: the form and the document stay as they were.
        UserMessage::Show(fault
                + (text.isEmpty() ? QStringLiteral("\nThe form is left as it was.")
                                  : QStringLiteral("\nThe form is left as it was; read the meter "
                                                   "again.")),
            QString::fromLatin1(kAppTitle));
        return QString();
    }
    m_tableBeforeRead.reset(); // the read brought an image: the table is the meter's now
    return text;
}

bool ZarnFormBase::AcceptReadMeter(
    const QString &version, MeterSeries::Series own, const QString &noLayout)
{
    const MeterSeries::Series other
        = own == MeterSeries::Kelvane ? MeterSeries::Quixal : MeterSeries::Kelvane;
    const bool otherSeries = MeterSeries::OfVersion(version) == other;
    if (!otherSeries && noLayout.isEmpty())
        return true;
    // The document's meter identity goes back when the list stops (ListStopped).
    if (m_identityAtRead)
        ShowIdentity(*m_identityAtRead);
    UserMessage::Show(
        otherSeries ? MeterSeries::WrongMeterText(version, MeterSeries::Name(own)) : noLayout,
        QString::fromLatin1(kAppTitle));
    return false;
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
