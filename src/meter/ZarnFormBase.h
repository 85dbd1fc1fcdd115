#pragma once

#include "base/CView.h"
#include "base/SheetPage.h"
#include "lists/IFieldAccess.h"
#include "lists/ListRun.h"
#include "meter/CoefficientEdit.h"
#include "meter/FormBuilder.h"
#include "meter/FormEdits.h"
#include "meter/FormFieldBinder.h"
#include "meter/FormFileCommands.h"
#include "meter/FormLists.h"
#include "meter/FormSend.h"
#include "meter/MeterContext.h"
#include "meter/MeterSeries.h"
#include "meter/MeterSeriesModel.h"
#include "meter/NumberFieldRules.h"

#include <QBasicTimer>
#include <QHash>
#include <QSet>

#include <functional>
#include <memory>
#include <optional>

class CMeterDoc;
class CQueView;
class DialogueRunner;
class SheetPrinter;
class IMeterLink;
class MeterVars;
class QLabel;
class QLineEdit;
class QTreeWidget;

// What the Kelvane and Quixal meter forms share: the running of their command lists (on the
// form's own run, each shown in its window, CQueView) and the one-runner rule, Send with its checks
// (FormSend), the one-second clock and its date and time texts, the controls by field id
// (FormFieldBinder, built by FormBuilder), a coefficient list's walk, and File > Save, Save As and
// Convert... of the meter document. Each form adds its own controls, field rules, vocabulary and
// what it does when a list ends.
class ZarnFormBase : public CView,
                     public IFieldAccess,
                     private FormFileCommands::Host,
                     private FormSend::Host,
                     private FormLists::Host
{
    Q_OBJECT
public:
    // The clock's window timer, and the names of the forms' lists (which list ran).
    static constexpr int kClockTimer = 1000;
    static constexpr int kSendTimer = FormSend::kSendList;
    static constexpr int kReadTimer = FormLists::kReadList;
    // The reads around a send: the meter as found before it, and what it stored after.
    static constexpr int kCompareTimer = FormSend::kCompareList;
    static constexpr int kVerifyTimer = FormSend::kVerifyList;
    static constexpr const char *kSendCancelledText = FormSend::kSendCancelledText;
    static constexpr const char *kSendCutText = FormSend::kSendCutText;
    static constexpr const char *kCloseWhileSendingText
        = "The meter is being written. Closing now stops sending and may leave it half "
          "written.\n\nClose anyway?";

    // What the form works with: its meter document's context, or the form's own while it shows
    // no meter document.
    MeterContext &Context();
    const MeterContext &Context() const { return const_cast<ZarnFormBase *>(this)->Context(); }

    // Opens a command list by file name as a document and gives its runner (its first view),
    // or null when it could not be opened. The default opens it through the application's
    // services; tests install their own.
    using ListOpener = FormLists::ListOpener;
    static ListOpener SetListOpener(ListOpener opener);
    // The meter link the forms use instead of the application's (tests); null restores it.
    static void SetMeterLink(IMeterLink *link);
    // Asks for the file name of Save As, proposing a name and giving the file filter; empty
    // when cancelled. The default shows the Save As prompt; tests install their own.
    using SaveAsPrompt = std::function<QString(QWidget *parent, const QString &proposed)>;
    static SaveAsPrompt SetSaveAsPrompt(SaveAsPrompt prompt);

    ~ZarnFormBase() override;

    // Closing (the window, Close All, Exit) while the form sends asks first, default No.
    bool CanClose() override;

    bool HandlesCommand(AppCommand command) const override;
    bool OnCommand(AppCommand command) override;

    // The window of field id (null for ids without one); for tests and screenshots.
    QWidget *Control(int id) const { return m_binder.Control(id); }
    // One tick of the clock (kClockTimer), as its timer would run it, and whether it runs.
    void TimerTick(int timerId);
    bool IsTimerActive(int timerId) const;
    // The window showing the list that runs, null when none.
    CQueView *Runner() const;
    // Which list (kSendTimer, kReadTimer, ...) runs on this form; 0 when none. A send's last
    // list counts until the send has said how it ended.
    int RunningList() const;
    // Title the document had when the form opened (Save rebuilds the path from it).
    QString OpeningTitle() const override { return m_openingTitle; }
    // File > Save, Save As and Convert... of the meter document.
    bool Save();
    bool SaveAs();
    void Convert();
    // File > Print, Print Preview and "Export Datasheet as PDF..." of the form's datasheet.
    SheetPrinter *Sheet() const { return m_sheet.get(); }
    // The code of the field being edited on this form (list, ring or other field), 0 for none:
    // what Enter, Up and Down act on.
    int EditField() const { return m_editField; }
    void SetEditField(int code) { m_editField = code; }

protected:
    ZarnFormBase(CDocument *document, QWidget *parent);

    // The series' own parts.
    QString FileExtension() const override = 0; // ".mtr", ".qxm"
    virtual void ClockTick() = 0;
    void CollectFields() override = 0; // the fields into the document's variables
    void ShowFields() override = 0; // the document's variables into the fields
    // Converts the document to the firmware version of the settings; 1 when it did.
    int ConvertDocument(CMeterDoc &doc, const QString &target) override = 0;
    // Whether Convert can offer target at all; a form that cannot says why (false).
    bool CanConvertTo(const QString &) override { return true; }
    // A configuration of the form's series away from the window, which the reads around a send
    // fill; null when the form has none (a send then cannot check).
    std::unique_ptr<MeterSeriesModel> MakeSeriesModel() const override { return nullptr; }
    // The title Save As proposes: the serial number and the form's suffix.
    QString SaveAsTitle() override = 0;
    // The list timerId (kReadTimer, kSendTimer, ...) has run to its end.
    void ListEnded(int timerId) override = 0;
    // The list timerId stopped before its end: it jumped to its failure message, or was
    // cancelled.
    void ListFailed(int) override { }
    // The meter identity the form shows (version, revision and template labels): taken when a
    // read starts, and put back when the meter that answered cannot be taken.
    using ShownIdentity = FormLists::ShownIdentity;
    ShownIdentity IdentityShown() const override = 0;
    void ShowIdentity(const ShownIdentity &identity) override = 0;
    // The meter's version and revision the "Version" group is to show now, with "?" for what
    // nothing has told: the series says whence.
    virtual std::pair<QString, QString> MeterIdentity() const = 0;
    // What the connected meter says of itself has changed (MeterSession): the series' own
    // following of it; the identity labels are set after it.
    virtual void FollowMeter() { }
    // Sets the "Version" group's meter version and revision labels to MeterIdentity(): when the
    // meter session changes, a list stops, or a read answers.
    void ShowMeterIdentity() override;
    // Whether Enter may put the text of a coefficient list's edit into the list; a form that
    // refuses says why.
    virtual bool MayEnterInList(CoefficientEdit &) { return true; }
    // The field of the column that Enter and the arrows walk, by edit code 5..10.
    virtual QLineEdit *RingField(int code) const = 0;
    // Enter while no list or column field is being edited.
    virtual void EnterElsewhere(int) { }
    // Focus arrived in or left the control of field id.
    virtual void FieldFocused(int) { }
    virtual void FieldLeft(int) { }

    // Opens the list fileName and, unless a list already runs (the open only brought its window
    // forward), runs prepare and starts it as the list listId, its lines periodMs apart; its
    // end comes to ListEnded or ListFailed. A read keeps the document's table, so a read that
    // brings no image can give it back. False when nothing started.
    bool StartList(const QString &fileName, int listId, int periodMs,
        const std::function<void()> &prepare = {});
    // The image text a read collected, without trailing white space, when it holds the bytes of
    // the table in force; else empty, and the user is told what arrived (the read then changes
    // nothing). A usable image makes the table the read built the document's.
    QString TakeReadImage(const QString &collected);
    // Whether the meter a read list heard (its firmware version) can fill a form of series own:
    // false for a meter of the other series, or when noLayout gives the reason its firmware has
    // no layout; the identity shown before the read then comes back, and the reason is said.
    bool AcceptReadMeter(
        const QString &version, MeterSeries::Series own, const QString &noLayout = QString());
    // Send with the checks the settings ask for (FormSend): the reads around it and the send
    // itself, each a list on this form. prepare collects the form into the document and the
    // send field. False when nothing started. lists: the lists and paces of the send and of the
    // reads around it.
    bool StartSend(const FormSend::ListFiles &lists, std::function<void()> prepare);
    // Gives the document the title and shows it as the window's caption.
    void Retitle(const QString &title) override;
    // A meter-changing or file-writing command while a list runs: says so; true when refused.
    bool RefuseWhileListRuns() override;
    // Before a read replaces the form: with unsaved edits the user is asked; false to stay.
    bool ConfirmReadOverEdits();
    // A command list is running on this form: it owns the document until it ends, so leaving a
    // field does not collect the form into it.
    bool ListRuns() const { return m_listRuns.Running() != 0; }
    // The form's number fields (NumberFieldRules): a text typed into one is checked when the
    // field is left, and a refused text is replaced by the one the field held before the typing.
    void SetNumberFields(const std::vector<NumberFieldRules::Field> &fields)
    {
        m_edits.SetNumberFields(fields);
    }
    // Checks every number field typed into and not yet left (the menu and its shortcuts do not
    // take the focus), as leaving it would, and the texts' length limits; false when one was
    // refused. Save, Send and Convert call it before they collect.
    bool CheckTypedNumbers() override;
    // The user changed something: the document has unsaved edits.
    void MarkEdited();
    // Sends a short command after a list has ended (at the command pacing), without holding the
    // event loop; nothing when another dialogue holds the port.
    void SendWhenFree(const QByteArray &command);
    // Appends what the form just did to the audit trail (action "read", "send", "range change",
    // "save", "convert") with the form's meter and file; a trail that cannot be written is said
    // once the dialogue is over, and nothing else changes.
    void Audit(
        const QString &action, const QString &result, const QString &message = QString()) override;
    // The datasheet the print commands serve (the form owns it).
    // Its title names the document and a proposed PDF goes to the document's folder.
    void SetSheet(const std::function<SheetPage(const SheetMetrics &)> &build);

    IMeterLink *Link();
    CMeterDoc *MeterDoc() const override;
    QString DocSection() const;
    // Remembers the title, shows the clock once and starts its timer, and follows the meter
    // session from now on (the form has opened).
    void StartClock();
    // The clock texts: time, date, and "Calibration Due" a year ahead unless it is fixed.
    void ShowClock(QLineEdit *time, QLineEdit *date, QLineEdit *calibrationDue);
    // Toggles behind the "Date" and "Time" buttons and the calibration box.
    void ToggleDayFirst();
    void ToggleHours24();
    void SetCalibrationFollows(bool follows);

    // The controls by field id, and how their fields move to and from the form's model.
    FormFieldBinder &Binder() { return m_binder; }
    QLineEdit *EditOf(int id) const { return m_binder.EditOf(id); }
    // The page's builder: its controls go into the binder.
    FormBuilder &Builder() { return m_builder; }
    // Watches focus, keys and typing of every registered control.
    void WatchAll(const std::function<void(int id)> &typed);

    // The form's coefficient lists, each with its edit box and label; a list's edit code
    // (editField) is its CoeffList value. A click on a line opens it for editing.
    void AddCoefficientList(const CoefficientEdit &list);
    CoefficientEdit &CoefficientList(ZarnFormRules::CoeffList kind)
    {
        return m_coefficientLists[int(kind)];
    }
    // Opens line index of the list in its edit; the list's edit code becomes the edit code.
    void OpenCoefficient(ZarnFormRules::CoeffList kind, int index);
    // Enter in a list's edit: the line takes the text and the next line opens; Up/Down (step
    // -1/+1) walk the list.
    bool IsListCode(int code) const { return m_coefficientLists.contains(code); }
    void EnterInList(int code);
    void WalkInList(int code, int step);

    // Enter, Up and Down: the coefficient lists, then the column of number fields; true when
    // the key was used.
    bool HandleKeyCommand(AppCommand command);
    void MoveInRing(int step);

    bool eventFilter(QObject *watched, QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    // The window closes (its frame, Close All, Exit): a list still running ends here.
    void closeEvent(QCloseEvent *event) override;

    bool m_hours24 = false;
    bool m_dayFirst = false;
    bool m_fixedCalibration = true;
    QString m_openingTitle;
    int m_editField = 0;

private:
    // FormSend::Host
    bool StartSendList(
        const QString &fileName, int listId, int periodMs, IFieldAccess *fields) override;
    QString FormSerial() override;
    int ListInProgress() const override;
    void AuditSend(const AuditRecord &line) override;
    // The line of action with its result and message, and the changes and copy of a send's.
    void AppendAudit(const QString &action, const AuditRecord &line);
    // FormFileCommands::Host
    QWidget *FileWindow() override { return this; }
    CDocument *FileDocument() const override { return GetDocument(); }
    void SetOpeningTitle(const QString &title) override { m_openingTitle = title; }
    // FormLists::Host
    IFieldAccess &ListFields() override { return *this; }
    void OnMeterChanged();

    FormFieldBinder m_binder;
    QHash<int, CoefficientEdit> m_coefficientLists; // by edit code
    FormBuilder m_builder;
    QBasicTimer m_clock;
    MeterContext m_ownContext; // without a meter document
    std::unique_ptr<SheetPrinter> m_sheet;
    // The send under way with its checks.
    std::unique_ptr<FormSend> m_send;
    std::unique_ptr<FormFileCommands> m_files; // Save, Save As, Convert
    // Typing, the number fields' checks and the modified marker.
    FormEdits m_edits;
    FormLists m_listRuns; // after the send: a list's end may go to it
};
