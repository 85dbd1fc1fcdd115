#pragma once

#include "meter/KelvaneFields.h"
#include "meter/KelvaneFormFields.h"
#include "meter/MeterSeriesModel.h"

// The Kelvane series (".mtr"): a CMeterDoc under the layouts of "vars20.dat" with the Kelvane
// form's field model (KelvaneFormFields) over it, shown and collected under the rules the file
// or the read put in force. ZarnFormView takes its list files and titles from here.
class KelvaneSeriesModel : public MeterSeriesModel
{
public:
    static constexpr const char *kReadList = "read20.que";
    static constexpr const char *kSendList = "send20.que";
    // The list a range change runs (the Kelvane series alone has ranges to change).
    static constexpr const char *kSelectList = "select20.que";
    // The pace of every list's lines.
    static constexpr int kListPeriodMs = 50;
    static QString TitleOf(const QString &serial, const QString &range);

    KelvaneSeriesModel();

    MeterSeries::Series Series() const override { return MeterSeries::Kelvane; }
    QString LayoutFile() const override;
    QString ReadList() const override { return QString::fromLatin1(kReadList); }
    QString SendList() const override { return QString::fromLatin1(kSendList); }
    int ReadPeriodMs() const override { return kListPeriodMs; }
    int SendPeriodMs() const override { return kListPeriodMs; }
    QString Title(const QString &serial, const QString &range) const override
    {
        return TitleOf(serial, range);
    }
    IFieldAccess &Fields() override { return m_fields; }
    void PrepareSend(const QString &activeRange) override;
    bool Convert(const QString &target, QString *error) override;
    std::vector<Row> Rows() override;
    SheetPage Sheet(const SheetMetrics &metrics, const QDateTime &now) override;
    QString Serial() override;
    QString Firmware() override;

protected:
    std::unique_ptr<MeterVars> MakeTable(const QString &section) const override;
    void Show() override;
    void Collect(bool forFile) override;
    QString ReadImageText() override { return m_fields.ImageText(); }
    QString TakeImage(const QString &text) override;
    int IdOf(const QString &field) const override;
    QString CaptionOf(int id) const override;
    const FieldRules &Rules() const override;
    bool Extended() const override;
    void StoreText(int id, const QString &text) override;
    QString StoreCoefficient(
        int id, int index, const QString &text, const QString &caption) override;
    QString Take(const FieldRule &rule, const QString &value, const QString &caption) override;

private:
    KelvaneFormFields m_fields;
    KelvaneFields::Rules m_rules;
};
