#pragma once

#include "graphs/CurveSource.h"
#include "meter/MeterSeries.h"
#include "meter/ZarnFormBase.h"
#include "meterqx/QXFormFields.h"
#include "meterqx/QuixalFormLayout.h"
#include "meterqx/QuixalSeriesModel.h"
#include "meterqx/QuixalSheet.h"

class QXMeterDoc;
class SheetPrinter;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// The Quixal meter form: shows and edits one Quixal meter document, reads it from and writes it
// to the meter with the command lists "qxread.que" and "qxsend.que", and keeps a one-second
// clock. Its values live in QXFormFields, the form's members: GetField first moves the
// controls into them (without a message: a text past its limit stays out), SetField shows them
// again. Created by the document manager as the view
// of a ".qxm" document inside a ZarnQXFormFrame.
class ZarnQXFormView : public ZarnFormBase, private QuixalFormLayout::Controls
{
    Q_OBJECT
public:
    static constexpr int kReadPeriodMs = QuixalSeriesModel::kReadPeriodMs;
    static constexpr int kSendPeriodMs = QuixalSeriesModel::kSendPeriodMs;

    explicit ZarnQXFormView(CDocument *document, QWidget *parent = nullptr);
    ~ZarnQXFormView() override;

    void OnInitialUpdate() override;
    void SetField(int id, const QString &text) override;
    QString GetField(int id) override;

    // The buttons "Read" and "Send".
    void OnRead();
    void OnSend();
    // The buttons "Curve" and "Linear": collect the form and open the sensor curve or linear
    // output graph modally.
    void OnCurve();
    void OnLinear();
    // What the graphs take from the form, after moving its controls into the members.
    CurveSource GraphSource();
    QPushButton *CurveButton() const { return m_curve; }
    QPushButton *LinearButton() const { return m_linear; }
    // The members behind the controls (moved in from the controls first).
    QXFormFields &Members();
    // The coefficient edit box and its label.
    QLineEdit *CoefficientEdit() const { return m_coeffEdit; }
    QLabel *CoefficientLabel() const { return m_coeffLabel; }
    // What the form's datasheet prints: its fields as they show now.
    QuixalSheet::Fields SheetFields();

protected:
    // Keys and focus: the coefficient walk and the column of number fields.
    QLineEdit *RingField(int code) const override;
    void FieldFocused(int id) override;
    void FieldLeft(int id) override;
    // A read's end: the image into the document and the form, the title serial_1.
    void ListEnded(int timerId) override;
    ShownIdentity IdentityShown() const override;
    void ShowIdentity(const ShownIdentity &identity) override;
    void ClockTick() override;
    // What a read put into the identity labels, with "?" for what it did not tell.
    std::pair<QString, QString> MeterIdentity() const override;
    // Puts the identity of the connected Quixal meter into the labels.
    void FollowMeter() override;
    // The document side, always by the Quixal vocabulary.
    void ShowFields() override;
    void CollectFields() override;
    int ConvertDocument(CMeterDoc &doc, const QString &target) override;
    QString SaveAsTitle() override;
    std::unique_ptr<MeterSeriesModel> MakeSeriesModel() const override;
    QString FileExtension() const override { return MeterSeries::Extension(MeterSeries::Quixal); }
    bool CanConvertTo(const QString &target) override;

private:
    // Connects the controls the layout built.
    void Connect();

    QXMeterDoc *Document() const;
    void OnTyped(int id);
    void OnUnitsPicked(int index);

    QXFormFields m_fields;
    // The units code the fields show now: a units change converts from it.
    int m_shownUnits = 0;
};
