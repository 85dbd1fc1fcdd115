#include "meter/ZarnFormBase.h"

#include "audit/AsFoundStore.h"
#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "base/AppServices.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/DialogueRunner.h"
#include "base/FieldWidth.h"
#include "base/Globals.h"
#include "base/SheetPrinter.h"
#include "base/UserMessage.h"
#include "lists/CQueView.h"
#include "meter/CConvertDlg.h"
#include "meter/CMeterDoc.h"
#include "meter/MeterIdentText.h"
#include "meter/MeterSeriesModel.h"
#include "meter/MeterVars.h"
#include "meter/ZarnFormRules.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
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

ZarnFormBase::SaveAsPrompt &Prompt()
{
    static ZarnFormBase::SaveAsPrompt prompt;
    return prompt;
}

// A document title made from a meter's serial number must not lead out of the folder.
QString SafeFileName(QString name)
{
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return name;
}
} // namespace

// A send with its checks, from the first read to the last: the lists, what the meter held, what
// is sent and what changes. The globals a read's answers set for the documents are the form's
// own until the check read that changed them ends.
struct ZarnFormBase::SendCheck
{
    SendLists lists;
    std::function<void()> prepare;
    bool verify = false;
    std::unique_ptr<MeterSeriesModel> found; // the compare read's
    std::unique_ptr<MeterSeriesModel> sent;
    std::unique_ptr<MeterSeriesModel> stored; // the read back's
    std::vector<AuditRecord::Change> changes;
    QString asFound;
    QString docVersion, docMeterVersion, docRevision;
    int docKind = 0;
    int curveFit = 0;
};

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

ZarnFormBase::SaveAsPrompt ZarnFormBase::SetSaveAsPrompt(SaveAsPrompt prompt)
{
    SaveAsPrompt old = Prompt();
    Prompt() = std::move(prompt);
    return old;
}

ZarnFormBase::ZarnFormBase(CDocument *document, QWidget *parent)
    : CView(document, parent)
    , m_builder(this, m_binder, [this](int id) { FieldLeft(id); })
{
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

void ZarnFormBase::SetSheet(std::unique_ptr<SheetPrinter> sheet)
{
    m_sheet = std::move(sheet);
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
    const QString form = formSerial.trimmed();
    const QString meter = g_MeterSerial.trimmed();
    // A send that compares reads the meter first: its question names a meter that is not the
    // form's, so nothing need be asked before it.
    if (m_runner || AuditSettings::CompareBeforeSend())
        return true;
    // Neither a read nor the datalogger's identification has told which meter is connected:
    // the send would go to whatever meter is on the port.
    if (meter.isEmpty()) {
        return UserMessage::Ask(
            QStringLiteral("Which meter is on the port is not known (%1): read it first to "
                           "see its serial number.\n\nWrite the configuration%2 to it anyway?")
                .arg(MeterIdentText::NotRead(),
                    form.isEmpty() ? QString() : QStringLiteral(" of meter %1").arg(form)),
            QString::fromLatin1(kAppTitle));
    }
    if (form.isEmpty() || form == meter
        || (form.toLongLong() == meter.toLongLong() && form.toLongLong() != 0))
        return true;
    return UserMessage::Ask(
        QStringLiteral("Write the configuration of meter %1 to meter %2?").arg(form, meter),
        QString::fromLatin1(kAppTitle));
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
    const QString refusal = NumberFieldRules::Refusal(*field, edit->text());
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
    // A list still running would step into a form that no longer exists.
    if (m_runner && m_runner->IsRunning())
        m_runner->Cancel();
    // A send cut short by closing (its list's window may have closed first): the form is gone,
    // so the application says it, once the window has closed.
    if (m_listTimerId == kSendTimer)
        UserMessage::ShowLater(QString::fromLatin1(kSendCancelledText));
}

bool ZarnFormBase::CanClose()
{
    if (!m_runner || !m_runner->IsRunning() || m_listTimerId != kSendTimer)
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

void ZarnFormBase::OpenCoefficient(QTreeWidget *list, QLineEdit *edit, QLabel *label, int index,
    const QString &labelText, int editCode)
{
    if (index < 0 || index >= list->topLevelItemCount())
        return;
    list->setCurrentItem(list->topLevelItem(index));
    list->scrollToItem(list->topLevelItem(index));
    label->setText(labelText);
    edit->setText(list->topLevelItem(index)->text(1));
    edit->setFocus();
    edit->selectAll();
    // Set after the focus moved: leaving the previous field resets the code.
    editField = editCode;
}

bool ZarnFormBase::EnterCoefficient(QTreeWidget *list, QLineEdit *edit, QLabel *label, int first)
{
    const int index = list->indexOfTopLevelItem(list->currentItem());
    if (edit->text().isEmpty() || index < first || index >= list->topLevelItemCount())
        return false;
    list->topLevelItem(index)->setText(1, edit->text());
    ClearCoefficientEdit(edit, label);
    list->setFocus();
    return true;
}

void ZarnFormBase::ClearCoefficientEdit(QLineEdit *edit, QLabel *label)
{
    edit->clear();
    label->setText(QStringLiteral("="));
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
    const int code = editField;
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
    const int next = ZarnFormRules::NextRingCode(editField, step);
    QLineEdit *field = RingField(next);
    if (!field)
        return;
    field->setFocus();
    field->selectAll();
    editField = next;
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
        TimerTick(kClockTimer);
    else if (event->timerId() == m_listTimer.timerId())
        TimerTick(m_listTimerId);
    else
        CView::timerEvent(event);
}

void ZarnFormBase::TimerTick(int timerId)
{
    if (timerId == kClockTimer)
        ClockTick();
    else if (timerId == m_listTimerId && m_listTimer.isActive())
        ListTick(timerId);
}

bool ZarnFormBase::IsTimerActive(int timerId) const
{
    if (timerId == kClockTimer)
        return m_clock.isActive();
    return m_listTimer.isActive() && m_listTimerId == timerId;
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

bool ZarnFormBase::StartList(
    const QString &fileName, int timerId, int periodMs, const std::function<void()> &prepare)
{
    // Another list of this form is running: the same press again only brings its window
    // forward (below); another list waits its turn, and the user is told.
    if (m_runner && timerId != m_listTimerId) {
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
    if (!runner->Start(m_listFields ? m_listFields : this, link))
        return false; // another form runs this list
    m_tableBeforeRead.reset();
    const CMeterDoc *doc = MeterDoc();
    if (timerId == kReadTimer && doc && doc->Vars()) {
        m_tableBeforeRead = std::make_unique<MeterVars>(*doc->Vars());
        m_versionBeforeRead = g_DocVersion;
        m_identityBeforeRead = { doc->MeterVersion(), doc->MeterRevision() };
    }
    m_runner = runner;
    m_listTimerId = timerId;
    m_listTimer.start(periodMs, this);
    // A line that waited on the meter is taken up as soon as it is done, not at the next tick.
    m_stepReady = connect(runner, &CQueView::StepReady, this, [this] { TimerTick(m_listTimerId); });
    return true;
}

void ZarnFormBase::ListTick(int timerId)
{
    if (timerId == kCompareTimer || timerId == kVerifyTimer) {
        CheckListTick(timerId);
        return;
    }
    const QString action = timerId == kSendTimer ? QStringLiteral("send")
        : timerId == kReadTimer                  ? QStringLiteral("read")
                                                 : QStringLiteral("range change");
    if (!m_runner || !m_runner->IsRunning()) {
        // Cancelled, or its window closed, between two lines.
        StopListTimer();
        ListFailed(timerId);
        Audit(action, QStringLiteral("cancelled"));
        if (timerId == kSendTimer) {
            m_check.reset();
            UserMessage::Show(QString::fromLatin1(kSendCancelledText));
        }
        return;
    }
    const int result = m_runner->Step();
    if (result == CQueExecutor::kBadLabel) {
        // The list has said what went wrong (its jump target is the message) and stopped.
        StopListTimer();
        ListFailed(timerId);
        Audit(action, QStringLiteral("failed"));
        if (timerId == kSendTimer)
            m_check.reset();
        return;
    }
    if (result != CQueExecutor::kEnded)
        return;
    ListEnded(timerId);
    // A list that ran past its last line without "End" is over as well: it is closed here, so
    // the ending above runs once and the timer stops.
    if (m_runner && m_runner->IsRunning())
        m_runner->EndRun();
    StopListTimer();
    if (timerId == kSendTimer && m_check) {
        // The checks go on from the event loop, once this list's run has wound down.
        QMetaObject::invokeMethod(
            this, [this] { SendAcknowledged(); }, Qt::QueuedConnection);
        return;
    }
    // The write lists reach their end only on the meter's acknowledgement of the image; every
    // failure jumps to a message instead.
    Audit(action, QStringLiteral("ok"),
        timerId == kSendTimer ? QStringLiteral("Meter stored the configuration") : QString());
    if (timerId == kSendTimer)
        UserMessage::Inform(QStringLiteral("Meter stored the configuration"));
}

void ZarnFormBase::Audit(const QString &action, const QString &result, const QString &message)
{
    AuditRecord record = AuditRecord::Now(action, m_sheet ? m_sheet->OperatorName() : QString());
    record.series = MeterSeries::Name(MeterSeries::OfPath(FileExtension()));
    record.model = g_MeterModel.trimmed();
    record.firmware = GetField(1049).trimmed();
    record.serial = GetField(1048).trimmed();
    if (const CDocument *doc = GetDocument(); doc && !doc->PathName().isEmpty()) {
        record.file = doc->PathName();
        record.sha256 = AuditLog::Sha256Of(doc->PathName());
    }
    if (action == QLatin1String("send") && m_check)
        record.changes = m_check->changes;
    record.result = result;
    record.message = message;
    QString error;
    if (!AuditLog(AuditSettings::TrailPath()).Append(record, &error))
        UserMessage::Show(error + QStringLiteral("\nThe %1 itself is not affected.").arg(action),
            QString::fromLatin1(kAppTitle));
}

void ZarnFormBase::StopListTimer()
{
    disconnect(m_stepReady);
    m_listTimer.stop();
    m_listTimerId = 0;
    m_runner = nullptr;
    // A read that stopped without an image: the version answer may have rebuilt the table.
    if (m_tableBeforeRead) {
        if (CMeterDoc *doc = MeterDoc()) {
            doc->SetVars(std::move(m_tableBeforeRead));
            doc->SetMeterIdentity(m_identityBeforeRead.first, m_identityBeforeRead.second);
            g_DocVersion = m_versionBeforeRead;
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

void ZarnFormBase::Retitle(const QString &title)
{
    if (CDocument *doc = GetDocument()) {
        doc->SetTitle(title);
        if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget()))
            frame->setWindowTitle(doc->FrameTitle());
    }
}

// ---------------------------------------------------------------------------------------------
// Saving and converting

bool ZarnFormBase::WriteDocument(const QString &path)
{
    CDocument *doc = GetDocument();
    if (!doc)
        return false;
    if (!doc->OnSaveDocument(path)) {
        // A meter document has told the user why; anything else gets the general message.
        if (!MeterDoc())
            UserMessage::Show(QStringLiteral("Failed to save document."));
        return false;
    }
    if (path != doc->PathName()) {
        doc->SetPathName(path);
        doc->SetOpenedAsTemplate(false);
        if (AppServices *services = AppServices::Instance())
            services->AddToRecentFiles(path);
    }
    doc->SetModifiedFlag(false);
    Audit(QStringLiteral("save"), QStringLiteral("ok"));
    return true;
}

bool ZarnFormBase::Save()
{
    CDocument *doc = GetDocument();
    if (!doc || RefuseWhileListRuns() || !CheckTypedNumbers())
        return false;
    if (doc->PathName().isEmpty())
        return SaveAs();
    // A file read in a layout it does not fit would be rewritten in that layout: it is kept.
    const CMeterDoc *meter = MeterDoc();
    if (meter && meter->LayoutMismatch() && !meter->PathName().isEmpty()
        && doc->Title() == m_openingTitle) {
        UserMessage::Show(QStringLiteral("%1 was opened in a meter layout it does not fit, so "
                                         "saving would rewrite it in that layout.\nThe file is "
                                         "kept as it is; use Save As to write the form to a new "
                                         "file.")
                              .arg(QFileInfo(doc->PathName()).fileName()),
            QString::fromLatin1(kAppTitle));
        return false;
    }
    // A read renamed the document after the meter: the file takes that name, in the folder of
    // the file the form was opened from.
    QString path = doc->PathName();
    const int at = m_openingTitle.isEmpty() ? -1 : path.lastIndexOf(m_openingTitle);
    if (at >= 0) {
        path = path.left(at) + SafeFileName(doc->Title());
        if (!path.contains(FileExtension()))
            path += FileExtension();
    }
    // A form opened from a template by a New command and not renamed by a read: the template
    // stays as it is, the user names the file.
    if (doc->OpenedAsTemplate() && path == doc->PathName())
        return SaveAs();
    const QString before = doc->PathName();
    if (at >= 0) {
        doc->SetPathName(path);
        doc->SetOpenedAsTemplate(false);
        m_openingTitle = doc->Title();
    }
    CollectFields();
    doc->SetModifiedFlag(true);
    if (!WriteDocument(path))
        return false;
    // A new file named after the meter goes to the recent list, as one named by Save As does.
    if (path != before) {
        if (AppServices *services = AppServices::Instance())
            services->AddToRecentFiles(path);
    }
    return true;
}

bool ZarnFormBase::SaveAs()
{
    CDocument *doc = GetDocument();
    if (!doc || RefuseWhileListRuns() || !CheckTypedNumbers())
        return false;
    CollectFields();
    const QString oldTitle = doc->Title();
    const QString title = SafeFileName(SaveAsTitle());
    doc->SetTitle(title);
    const QString folder = doc->PathName().isEmpty() ? QDir::currentPath()
                                                     : QFileInfo(doc->PathName()).absolutePath();
    const QString proposed = QDir(folder).filePath(title);
    QString path = Prompt() ? Prompt()(this, proposed)
                            : QFileDialog::getSaveFileName(this, QStringLiteral("Save As"),
                                proposed, QLatin1Char('*') + FileExtension());
    if (path.isEmpty()) {
        doc->SetTitle(oldTitle);
        return false;
    }
    if (!path.endsWith(FileExtension(), Qt::CaseInsensitive))
        path += FileExtension();
    if (!WriteDocument(path)) {
        doc->SetTitle(oldTitle);
        return false;
    }
    m_openingTitle = doc->Title();
    Retitle(doc->Title());
    return true;
}

void ZarnFormBase::Convert()
{
    CMeterDoc *doc = MeterDoc();
    if (!doc || RefuseWhileListRuns() || !CheckTypedNumbers())
        return;
    QString target;
    {
        CPrefs prefs;
        target = prefs.GetVersion();
    }
    if (!CanConvertTo(target))
        return;
    CConvertDlg dialog(doc->ConvertPrompt(target), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    CollectFields(); // edits not yet collected move with the data
    const bool converted = ConvertDocument(*doc, target);
    if (converted)
        doc->SetModifiedFlag();
    ShowFields();
    Audit(QStringLiteral("convert"), converted ? QStringLiteral("ok") : QStringLiteral("failed"),
        QStringLiteral("to %1").arg(target));
}

// ---------------------------------------------------------------------------------------------
// Checks around a send

bool ZarnFormBase::StartSend(const SendLists &lists, const std::function<void()> &prepare)
{
    const bool compare = AuditSettings::CompareBeforeSend();
    const bool verify = AuditSettings::ReadBackAfterSend();
    if (m_check) {
        // A press while the send or a read around it runs only brings its list forward; none
        // while its question is about to be asked.
        if (m_runner && m_listTimerId == kSendTimer)
            StartList(m_check->lists.send, kSendTimer, m_check->lists.sendPeriodMs);
        else if (m_runner)
            StartList(m_check->lists.read, m_listTimerId, m_check->lists.readPeriodMs);
        return false;
    }
    // A press while another list runs is refused, as it always was.
    if ((!compare && !verify) || m_runner)
        return StartList(lists.send, kSendTimer, lists.sendPeriodMs, prepare);
    if (!MakeSeriesModel()) {
        UserMessage::Show(QStringLiteral("This form cannot read the meter around a send. Turn off "
                                         "\"Compare with the meter before sending\" and \"Read "
                                         "back after sending\" in the settings to send without "
                                         "them.\nNothing was sent."),
            QString::fromLatin1(kAppTitle));
        return false;
    }
    m_check = std::make_unique<SendCheck>();
    m_check->lists = lists;
    m_check->prepare = prepare;
    m_check->verify = verify;
    if (!compare) {
        StartCheckedSend();
        return m_runner != nullptr;
    }
    if (!StartCheckRead(kCompareTimer)) {
        m_check.reset();
        return false;
    }
    return true;
}

bool ZarnFormBase::StartCheckRead(int timerId)
{
    std::unique_ptr<MeterSeriesModel> &model
        = timerId == kCompareTimer ? m_check->found : m_check->stored;
    model = MakeSeriesModel();
    m_check->docVersion = g_DocVersion;
    m_check->docMeterVersion = g_DocMeterVersion;
    m_check->docRevision = g_DocRevision;
    m_check->docKind = g_DocKind;
    m_check->curveFit = g_CurveFit;
    m_listFields = &model->Fields();
    const bool started = StartList(m_check->lists.read, timerId, m_check->lists.readPeriodMs);
    m_listFields = nullptr;
    return started;
}

void ZarnFormBase::CheckListTick(int timerId)
{
    if (!m_runner || !m_runner->IsRunning()) {
        StopListTimer();
        CheckReadStopped(timerId, QStringLiteral("cancelled"));
        return;
    }
    const int result = m_runner->Step();
    if (result == CQueExecutor::kBadLabel) {
        StopListTimer(); // the list has said what went wrong
        CheckReadStopped(timerId, QStringLiteral("failed"));
        return;
    }
    if (result != CQueExecutor::kEnded)
        return;
    if (m_runner && m_runner->IsRunning())
        m_runner->EndRun();
    StopListTimer();
    if (!m_check)
        return;
    RestoreDocGlobals();
    if (timerId == kCompareTimer)
        CompareReadEnded();
    else
        VerifyReadEnded();
}

void ZarnFormBase::RestoreDocGlobals()
{
    // The check's read set them from the meter's answers; the form's document is what they
    // describe.
    g_DocVersion = m_check->docVersion;
    g_DocMeterVersion = m_check->docMeterVersion;
    g_DocRevision = m_check->docRevision;
    g_DocKind = m_check->docKind;
    g_CurveFit = m_check->curveFit;
}

void ZarnFormBase::CheckReadStopped(int timerId, const QString &result)
{
    if (!m_check)
        return;
    RestoreDocGlobals();
    const QString text = timerId == kCompareTimer
        ? QStringLiteral("The meter could not be read before sending.\nNothing was sent.")
        : QStringLiteral("The meter acknowledged the configuration, but it could not be read "
                         "back, so what it stored is not known.\nRead the meter to see what it "
                         "holds.");
    Audit(QStringLiteral("send"), timerId == kCompareTimer ? result : QStringLiteral("mismatch"),
        text);
    m_check.reset();
    UserMessage::Show(text, QString::fromLatin1(kAppTitle));
}

std::unique_ptr<MeterSeriesModel> ZarnFormBase::SentImage()
{
    // The document holds what the send list sends once prepare has collected the form.
    const CMeterDoc *doc = MeterDoc();
    std::unique_ptr<MeterSeriesModel> sent = MakeSeriesModel();
    if (!sent || !doc || !doc->Vars()
        || !sent->LoadImage(doc->Vars()->SectionName(), doc->ImageToText(), doc->MeterVersion(),
            doc->MeterRevision()))
        return nullptr;
    return sent;
}

void ZarnFormBase::CompareReadEnded()
{
    QString error;
    if (!m_check->found->FinishRead(&error)) {
        // The other series, or no usable image: nothing of it is sent to.
        Audit(QStringLiteral("send"), QStringLiteral("refused"), error);
        m_check.reset();
        UserMessage::Show(
            error + QStringLiteral("\nNothing was sent."), QString::fromLatin1(kAppTitle));
        return;
    }
    if (m_check->prepare)
        m_check->prepare();
    m_check->sent = SentImage();
    if (!m_check->sent) {
        m_check.reset();
        UserMessage::Show(QStringLiteral("The form's configuration fits no layout of its "
                                         "series.\nNothing was sent."),
            QString::fromLatin1(kAppTitle));
        return;
    }
    const ConfigDiff::Result diff
        = ConfigDiff::Compare(m_check->found->ComparedFields(), m_check->sent->ComparedFields());
    m_check->changes = diff.changes;
    // What the meter held cannot be had back once it is written over: no copy, no send.
    const QString meterSerial = m_check->found->Serial().trimmed();
    m_check->asFound
        = AsFoundStore::Save(AuditSettings::AsFoundFolder(), meterSerial, FileExtension(),
            m_check->found->StoredText().toLatin1(), QDateTime::currentDateTime(), &error);
    if (m_check->asFound.isEmpty()) {
        Audit(QStringLiteral("send"), QStringLiteral("failed"), error);
        m_check.reset();
        UserMessage::Show(error
                + QStringLiteral("\nNothing was sent: the meter's configuration as found could "
                                 "not be kept."),
            QString::fromLatin1(kAppTitle));
        return;
    }
    // The serial number the meter holds, not the one a terminal heard last, is checked.
    QString question;
    const QString formSerial = m_check->sent->Serial().trimmed();
    if (formSerial != meterSerial)
        question = QStringLiteral("The form holds the configuration of meter %1, but the meter "
                                  "connected is meter %2.\n\n")
                       .arg(formSerial, meterSerial);
    question += QStringLiteral("Send %1 change(s) to meter %2?\n\n%3\n\nAs found: %4")
                    .arg(diff.changes.size())
                    .arg(meterSerial, ConfigDiff::Text(diff, kChangesShown), m_check->asFound);
    // Asked from the event loop: the read's dialogue is over before the question opens.
    QMetaObject::invokeMethod(
        this, [this, question] { AskToSend(question); }, Qt::QueuedConnection);
}

void ZarnFormBase::AskToSend(const QString &question)
{
    if (!m_check)
        return;
    if (!UserMessage::Ask(question, QString::fromLatin1(kAppTitle))) {
        Audit(QStringLiteral("send"), QStringLiteral("cancelled"),
            QStringLiteral("Nothing was sent."));
        m_check.reset();
        return;
    }
    StartCheckedSend();
}

void ZarnFormBase::StartCheckedSend()
{
    if (!m_check)
        return;
    const bool started
        = StartList(m_check->lists.send, kSendTimer, m_check->lists.sendPeriodMs, [this] {
              if (m_check->prepare)
                  m_check->prepare();
              m_check->sent = SentImage();
          });
    if (!started)
        m_check.reset();
}

void ZarnFormBase::SendAcknowledged()
{
    if (!m_check)
        return;
    if (m_check->verify && m_check->sent) {
        if (StartCheckRead(kVerifyTimer))
            return;
        // The port was taken in between, or the list could not be opened (said already).
        Audit(QStringLiteral("send"), QStringLiteral("mismatch"),
            QStringLiteral("The meter acknowledged the configuration; it was not read back."));
        m_check.reset();
        return;
    }
    Audit(QStringLiteral("send"), QStringLiteral("ok"),
        QStringLiteral("Meter stored the configuration (not read back)"));
    m_check.reset();
    UserMessage::Inform(QStringLiteral("Meter stored the configuration"));
}

void ZarnFormBase::VerifyReadEnded()
{
    QString error;
    QString difference;
    if (!m_check->stored->FinishRead(&error))
        difference = QStringLiteral("The meter acknowledged the configuration, but it could not "
                                    "be read back, so what it stored is not known:\n%1")
                         .arg(error);
    else
        difference = m_check->sent->StoredDifference(*m_check->stored);
    if (difference.isEmpty()) {
        Audit(QStringLiteral("send"), QStringLiteral("ok"),
            QStringLiteral("Meter stored the configuration"));
        m_check.reset();
        UserMessage::Inform(QStringLiteral("Meter stored the configuration"));
        return;
    }
    Audit(QStringLiteral("send"), QStringLiteral("mismatch"), difference);
    m_check.reset();
    UserMessage::Show(difference, QString::fromLatin1(kAppTitle));
}
