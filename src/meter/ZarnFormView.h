#pragma once

#include "graphs/CurveSource.h"
#include "meter/KelvaneFields.h"
#include "meter/KelvaneFormFields.h"
#include "meter/KelvaneFormLayout.h"
#include "meter/KelvaneSeriesModel.h"
#include "meter/KelvaneSheet.h"
#include "meter/MeterSeries.h"
#include "meter/ZarnFormBase.h"
#include "meter/ZarnFormRules.h"

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
// transfers and tests reach its fields only through SetField/GetField by control id. Its
// controls are those KelvaneFormLayout builds.
class ZarnFormView : public ZarnFormBase, private KelvaneFormLayout::Controls
{
    Q_OBJECT
public:
    // The range-change list; every list of this form runs its lines at kListPeriodMs.
    static constexpr int kSelectTimer = 1003;
    static constexpr int kListPeriodMs = KelvaneSeriesModel::kListPeriodMs;

    explicit ZarnFormView(CDocument *document, QWidget *parent = nullptr);

    void OnInitialUpdate() override;
    void SetField(int id, const QString &text) override;
    QString GetField(int id) override;

    // The button handlers of "Read Active", "Send Active" and "Change".
    void OnReadActive();
    void OnSendActive();
    void OnChange();
    // "Display Curve" and "Display Linear": collect the form and open the graph modally.
    void OnDisplayCurve();
    void OnDisplayLinear();
    // What the curve graphs take from the form: its flow parameters, lists and curve-fit code,
    // read from the field model once every control is moved into it.
    CurveSource GraphSource();
    // The field model, with what every control shows moved into it first.
    KelvaneFormFields &Members();
    // What the form's datasheet prints: its fields as they show now.
    KelvaneSheet::Fields SheetFields();
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

protected:
    QString FileExtension() const override { return MeterSeries::Extension(MeterSeries::Kelvane); }
    void ClockTick() override;
    void CollectFields() override { DocFormToVars(); }
    void ShowFields() override { DocVarsToForm(); }
    int ConvertDocument(CMeterDoc &doc, const QString &target) override;
    QString SaveAsTitle() override;
    std::unique_ptr<MeterSeriesModel> MakeSeriesModel() const override;
    void ListEnded(int timerId) override;
    void ListFailed(int timerId) override;
    ShownIdentity IdentityShown() const override;
    void ShowIdentity(const ShownIdentity &identity) override;
    std::pair<QString, QString> MeterIdentity() const override;
    // Shows the values under the rules of the meter told, and the active range it told or the
    // one a change or read of this form left.
    void FollowMeter() override;
    bool MayEnterInList(CoefficientEdit &list) override;
    QLineEdit *RingField(int code) const override;
    void EnterElsewhere(int code) override;
    void FieldFocused(int id) override;
    void FieldLeft(int id) override;

private:
    enum class ListKind { Send, Read, Select };

    // Connects the controls the layout built.
    void Connect();
    void WatchAll();

    // Field helpers.
    void OnFieldLeft(int id);
    // A typed "Calibration Due" that is no date: says so and puts the last date back.
    bool CheckCalibrationDate();
    void OnFieldEdited(int id);
    void OnCurveFitPicked(int index);
    void OnUnitsPicked(int index);
    void OnDesiredPicked(int index);

    // Coefficient lists.
    QTreeWidget *ListOf(ZarnFormRules::CoeffList list) const { return m_lists[size_t(list) - 1]; }
    QLineEdit *ListEditOf(ZarnFormRules::CoeffList list) const
    {
        return m_listEdits[size_t(list) - 1];
    }
    QLabel *ListLabelOf(ZarnFormRules::CoeffList list) const
    {
        return m_listLabels[size_t(list) - 1];
    }
    void ShowNotSupported();

    // Version rules.
    void ApplyVersionRule();
    // Shows the active range the connected meter told, or the one a change or read of this form
    // left (the meter session, and whenever the form shows its document).
    void ShowActiveRange();
    // The version and revision answers of a read: the document keeps them.
    void SetReadIdentity(const QString *version, const QString *revision);

    // Command lists.
    void StartList(ListKind kind);
    void FinishRead();
    // The meter confirmed the change to the Desired range: it becomes the active one, and the
    // meter goes back to its run mode on it.
    void FinishRangeChange();

    // The document side (meter variables).
    void DocVarsToForm();
    // Collects the fields into the document under the rules they were shown with; forMeter
    // for a send (the range bits then take the meter's active range).
    void DocFormToVars(bool forMeter = false);

    // The field rules and the values no control shows (image text, LCD blank, list walk).
    KelvaneFormFields m_fields;
    QString m_calDateGiven; // the last date shown or accepted in "Calibration Due"
    // The rules the fields were last shown under (and are collected under).
    KelvaneFields::Rules m_shownRules;
    int m_shownUnits = 0; // the units code the fields show: a units change converts from it
    bool m_shown = false;
    // The meter a read filled the form from, when there is no meter document to keep it.
    QString m_readVersion;
    QString m_readRevision;
    // The sliders give back the value they were given until the user moves them (their range
    // would clip a value the meter or a file holds).
    bool m_contrastMoved = false;
    bool m_refreshMoved = false;

    ListKind m_listKind = ListKind::Read;
    // The range the last confirmed change made active, and the one it replaced (an old
    // identification in the terminal still names that one).
    QString m_changedRange;
    QString m_rangeBeforeChange;
    // The range of a change the meter did not confirm (empty: none), and the range the meter
    // had last told of then; until it tells of a range again or is read, Active shows "?".
    QString m_failedRange;
    QString m_rangeAtFailure;
};
