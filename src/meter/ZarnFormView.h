#pragma once

#include "base/CView.h"
#include "graphs/CurveSource.h"
#include "lists/CSerialMeterLink.h"
#include "lists/IFieldAccess.h"
#include "meter/KelvaneFields.h"
#include "meter/ZarnFormRules.h"

#include <QBasicTimer>
#include <QHash>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>

class CMeterDoc;
class MeterVars;
class CQueView;
class SheetPrinter;
class IMeterLink;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTreeWidget;

// The Kelvane meter form: shows and edits one meter document's variables, guards edits with the
// meter's limits, edits the three coefficient lists in place, keeps a one-second clock and runs
// the command lists that read, write and switch ranges of the meter. Created by the document
// manager as the view of a ".mtr" document inside a ZarnFormFrame. Command lists, the variable
// transfers and tests reach its fields only through SetField/GetField by control id.
class ZarnFormView : public CView, public IFieldAccess
{
    Q_OBJECT
public:
    // The form's window timers.
    static constexpr int kClockTimer = 1000;
    static constexpr int kSendTimer = 1001;
    static constexpr int kReadTimer = 1002;
    static constexpr int kSelectTimer = 1003;
    static constexpr int kListPeriodMs = 50;

    // Opens a command list by file name as a document and gives its runner (its first view),
    // or null when it could not be opened. The application installs the document manager's;
    // tests install their own.
    using ListOpener = std::function<CQueView *(const QString &fileName)>;
    static ListOpener SetListOpener(ListOpener opener);
    // The meter link the forms use instead of the application's (tests); null restores it.
    static void SetMeterLink(IMeterLink *link);
    // Asks for the file name of Save As, proposing a name; empty when cancelled. The default
    // shows the Save As prompt; tests install their own.
    using SaveAsPrompt = std::function<QString(QWidget *parent, const QString &proposed)>;
    static SaveAsPrompt SetSaveAsPrompt(SaveAsPrompt prompt);

    explicit ZarnFormView(CDocument *document, QWidget *parent = nullptr);
    ~ZarnFormView() override;

    void OnInitialUpdate() override;
    bool HandlesCommand(AppCommand command) const override;
    bool OnCommand(AppCommand command) override;

    void SetField(int id, const QString &text) override;
    QString GetField(int id) override;

    // The window of control id (null for ids without one); for tests and screenshots.
    QWidget *Control(int id) const { return m_byId.value(id); }
    // One tick of a form timer, as the timer would run it.
    void TimerTick(int timerId);
    bool IsTimerActive(int timerId) const;
    CQueView *Runner() const;
    // The button handlers of "Read Active", "Send Active" and "Change".
    void OnReadActive();
    void OnSendActive();
    void OnChange();
    // "Display Curve" and "Display Linear": collect the form and open the graph modally.
    void OnDisplayCurve();
    void OnDisplayLinear();
    // What the curve graphs take from the form: its flow parameters, lists and curve-fit code.
    CurveSource GraphSource() const;
    // Title the document had when the form opened (the Save rule rebuilds the path from it).
    QString OpeningTitle() const { return m_openingTitle; }
    // File > Save, Save As and Convert... of the meter document.
    bool Save();
    bool SaveAs();
    void Convert();
    // The rules the form's values are shown under, and collected under.
    const KelvaneFields::Rules &ShownRules() const { return m_shownRules; }
    // The rules in force for the form's document now (its layout, the meter identified).
    KelvaneFields::Rules RulesInForce() const;
    // When the rules in force differ from those the form shows under: collects the fields
    // under the rules they were shown with, then shows them again under the new ones. Nothing
    // while a command list runs (a read rebuilds the table before its image arrives).
    void FollowRules();
    // The firmware family the form's field rules follow (the shown one once it has shown).
    QString Family() const;
    // File > Print, Print Preview and "Export Datasheet as PDF..." of this form's datasheet.
    SheetPrinter *Sheet() const { return m_sheet.get(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    enum class ListKind { Send, Read, Select };

    void BuildControls();
    QWidget *BuildVersionGroup();
    QWidget *BuildRangeGroup();
    QWidget *BuildAdcDacGroups();
    QWidget *BuildAlarmGroup();
    QWidget *BuildParameterGroup();
    QWidget *BuildCurveFitGroup();
    QWidget *BuildLcdGroup();
    QWidget *BuildOptionsGroup();
    QWidget *BuildMiscGroup();
    QLineEdit *MakeEdit(int id, int width = 0);
    QWidget *MakeSpinEdit(int editId, int spinId);
    void Register(int id, QWidget *widget);
    void WatchAll();

    void LoadUnitsList(const QString &family);
    void LoadAlarmLists();
    static QStringList ReadListFile(const QString &fileName);

    // Field helpers.
    QLineEdit *EditOf(int id) const;
    void SelectAlarm(QComboBox *box, const QString &code);
    void OnFieldLeft(int id);
    // A typed "Calibration Due" that is no date: says so and puts the last date back.
    bool CheckCalibrationDate();
    // The user changed something: the document has unsaved edits.
    void MarkEdited();
    void OnFieldEdited(int id);
    void OnCurveFitPicked(int index);
    void OnUnitsPicked(int index);
    void OnDesiredPicked(int index);

    // Coefficient lists.
    QTreeWidget *ListOf(ZarnFormRules::CoeffList list) const;
    QLineEdit *ListEditOf(ZarnFormRules::CoeffList list) const;
    QLabel *ListLabelOf(ZarnFormRules::CoeffList list) const;
    void AppendItem(ZarnFormRules::CoeffList list, const QString &text);
    void SelectItem(ZarnFormRules::CoeffList list, int index, bool load = true);
    void EnterCoefficient(int code);
    void WalkList(int code, int step);
    void ShowNotSupported();
    void ClearListEdit(ZarnFormRules::CoeffList list);

    // Keys Enter, Up and Down: the coefficient walk and the parameter ring.
    bool HandleKeyCommand(AppCommand command);
    void MoveInRing(int step);
    QLineEdit *RingField(int code) const;

    // Clock and version rules.
    void ClockTick();
    void ApplyVersionRule();
    // A meter-changing or file-writing command while a list runs: says so; true when refused.
    bool RefuseWhileListRuns();
    // The version and revision answers of a read: the document keeps them.
    void SetReadIdentity(const QString *version, const QString *revision);

    // Command lists.
    void StartList(ListKind kind);
    void ListTick(int timerId);
    void FinishRead();
    void StopListTimer(int timerId);

    // The document side (meter variables).
    CMeterDoc *MeterDoc() const;
    bool WriteDocument(const QString &path);
    IMeterLink *Link();
    void DocVarsToForm();
    // Collects the fields into the document under the rules they were shown with; forMeter
    // for a send (the range bits then take the meter's active range).
    void DocFormToVars(bool forMeter = false);
    void DocSetVersion(const QString &version);
    QString DocSection() const;
    bool DocImageFromText(const QString &text);
    QString DocImageToSendText();

    QHash<int, QWidget *> m_byId;
    QHash<QObject *, int> m_idOf;

    QLabel *m_flowMeterVersion = nullptr;
    QLabel *m_templateVersion = nullptr;
    QLabel *m_revision = nullptr;
    QLineEdit *m_active = nullptr;
    QComboBox *m_desired = nullptr;
    QLineEdit *m_hiddenDesired = nullptr;
    QPushButton *m_readButton = nullptr;
    QPushButton *m_sendButton = nullptr;
    QPushButton *m_changeButton = nullptr;
    std::array<QComboBox *, 4> m_alarmFunction {};
    QCheckBox *m_holdFlow1 = nullptr;
    QCheckBox *m_holdFlow2 = nullptr;
    QComboBox *m_units = nullptr;
    QComboBox *m_curveFit = nullptr;
    QTreeWidget *m_primary = nullptr;
    QTreeWidget *m_secondary = nullptr;
    QTreeWidget *m_pointWise = nullptr;
    QLineEdit *m_primaryEdit = nullptr;
    QLineEdit *m_secondaryEdit = nullptr;
    QLineEdit *m_pointWiseEdit = nullptr;
    QLabel *m_primaryLabel = nullptr;
    QLabel *m_secondaryLabel = nullptr;
    QLabel *m_pointWiseLabel = nullptr;
    QSlider *m_contrast = nullptr;
    QSlider *m_refresh = nullptr;
    QCheckBox *m_tracking = nullptr;
    QCheckBox *m_protocol = nullptr;
    QCheckBox *m_calBox = nullptr;

    // Member state besides the fields.
    QString m_imageText;
    int m_walkPos = 0;
    bool m_hours24 = false;
    bool m_dayFirst = false;
    bool m_fixedCalibration = true;
    bool m_lcdBlank = false;
    QString m_calDateGiven; // the last date shown or accepted in "Calibration Due"
    QString m_openingTitle;
    // The rules the fields were last shown under (and are collected under).
    KelvaneFields::Rules m_shownRules;
    bool m_shown = false;
    QString m_unitsFile; // the list file the Engineering Units list was filled from
    // The meter a read filled the form from, when there is no meter document to keep it.
    QString m_readVersion;
    QString m_readRevision;
    // While the fields are collected for a file rather than sent to the meter: the range bits
    // stay as the image has them instead of taking the connected meter's active range.
    bool m_collectingForFile = false;
    // The sliders give back the value they were given until the user moves them (their range
    // would clip a value the meter or a file holds).
    QString m_contrastGiven;
    QString m_refreshGiven;
    bool m_contrastMoved = false;
    bool m_refreshMoved = false;

    QBasicTimer m_clock;
    QBasicTimer m_listTimer;
    int m_listTimerId = 0; // the program's id (1001..1003) of the running list timer
    QPointer<CQueView> m_runner;
    ListKind m_listKind = ListKind::Read;
    // The document's table as it was when a read started: a read that brings a version answer
    // but no image gives it back, so the failed read changes neither form nor document.
    std::unique_ptr<MeterVars> m_tableBeforeRead;
    QString m_versionBeforeRead;
    std::pair<QString, QString> m_identityBeforeRead;
    CSerialMeterLink m_link;
    std::unique_ptr<SheetPrinter> m_sheet;
};
