#pragma once

#include "meter/MeterSeriesModel.h"
#include "meterqx/QXFormFields.h"

class QXMeterDoc;

// The Quixal series (".qxm"): a QXMeterDoc under the layouts of "varsQX.dat" with the Quixal
// form's field model (QXFormFields) over it. Its meters have one range, so a read always titles
// the document "serial_1". ZarnQXFormView takes its list files and titles from here.
class QuixalSeriesModel : public MeterSeriesModel
{
public:
    static constexpr const char *kReadList = "qxread.que";
    static constexpr const char *kSendList = "qxsend.que";
    // The pace of the read's and the send's lines.
    static constexpr int kReadPeriodMs = 500;
    static constexpr int kSendPeriodMs = 50;
    static QString TitleOf(const QString &serial);

    QuixalSeriesModel();

    MeterSeries::Series Series() const override { return MeterSeries::Quixal; }
    QString LayoutFile() const override;
    QString ReadList() const override { return QString::fromLatin1(kReadList); }
    QString SendList() const override { return QString::fromLatin1(kSendList); }
    int ReadPeriodMs() const override { return kReadPeriodMs; }
    int SendPeriodMs() const override { return kSendPeriodMs; }
    QString Title(const QString &serial, const QString &) const override { return TitleOf(serial); }
    IFieldAccess &Fields() override { return m_fields; }
    void PrepareSend(const QString &activeRange) override;
    bool Convert(const QString &target, QString *error) override;
    std::vector<Row> Rows() override;
    SheetPage Sheet(const SheetMetrics &metrics, const QDateTime &now) override;
    QString Serial() override { return m_fields.Text(QXFieldId::SerialNumber); }
    QString Firmware() override { return m_fields.Text(QXFieldId::MeterVersion).trimmed(); }

protected:
    std::unique_ptr<MeterVars> MakeTable(const QString &section) const override;
    void Show() override;
    void Collect(bool forFile) override;
    QString ReadImageText() override { return m_fields.ImageText(); }
    QString TakeImage(const QString &text) override;
    int IdOf(const QString &field) const override;
    QString CaptionOf(int id) const override;
    const FieldRules &Rules() const override;
    void StoreText(int id, const QString &text) override;
    QString StoreCoefficient(
        int id, int index, const QString &text, const QString &caption) override;
    QString Take(const FieldRule &rule, const QString &value, const QString &caption) override;

private:
    QXMeterDoc &Doc() const;

    QXFormFields m_fields;
};
