#pragma once

#include "base/SheetPage.h"
#include "meter/MeterSeries.h"
#include "meter/MeterSeriesModel.h"

#include <QString>

#include <memory>
#include <vector>

class QDateTime;
class IFieldAccess;

// One meter file of either series as the command-line program handles it: a holder of the
// series' model (SeriesModels), whose document, field model and rules are the forms', so that
// what is opened, checked, shown and written is what the form would do.
class CliMeterFile
{
public:
    using Series = MeterSeries::Series;
    using Row = MeterSeriesModel::Row;

    explicit CliMeterFile(Series series);
    ~CliMeterFile();
    // ".qxm" is Quixal, anything else Kelvane.
    static Series SeriesOfPath(const QString &path) { return MeterSeries::OfPath(path); }
    static QString Extension(Series series) { return MeterSeries::Extension(series); }
    static QString SeriesName(Series series) { return MeterSeries::Name(series); }
    Series Kind() const { return m_model->Series(); }
    // The series' model: its names (lists, extension, titles) and every rule of its files.
    MeterSeriesModel &Model() { return *m_model; }

    bool Open(const QString &path, QString *error) { return m_model->Open(path, error); }
    IFieldAccess &Fields() { return m_model->Fields(); }
    bool FinishRead(QString *error) { return m_model->FinishRead(error); }
    // The file name the form proposes after a read: serial number, "_", active range (Quixal
    // "_1") and the extension.
    QString ProposedName() const { return m_model->FileName(m_model->Serial(), ActiveRange()); }
    bool Save(const QString &path, QString *error) { return m_model->Save(path, error); }
    void PrepareSend(const QString &activeRange) { m_model->PrepareSend(activeRange); }
    bool Convert(const QString &target, QString *error) { return m_model->Convert(target, error); }
    QString Serial() { return m_model->Serial(); }
    std::vector<Row> Rows() { return m_model->Rows(); }
    SheetPage Sheet(const SheetMetrics &metrics, const QDateTime &now)
    {
        return m_model->Sheet(metrics, now);
    }
    QString Set(const QString &name, const QString &value) { return m_model->Set(name, value); }
    QString StoredText() const { return m_model->StoredText(); }
    QByteArray ImageBytes() const { return m_model->ImageBytes(); }
    QString VariableAt(int offset) const { return m_model->VariableAt(offset); }
    QString Firmware() { return m_model->Firmware(); }
    QString Layout() const { return m_model->Layout(); }
    QString ActiveRange() const { return m_model->ActiveRange(); }

private:
    std::unique_ptr<MeterSeriesModel> m_model;
};
