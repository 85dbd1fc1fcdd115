#include "datalog/DatalogModel.h"

#include "datalog/DatalogFieldRules.h"
#include "datalog/IDatalogSink.h"

namespace {
class NullSink : public IDatalogSink
{
public:
    void StatusChanged(const QString &, const QString &) override { }
};
} // namespace

DatalogModel::DatalogModel()
    : m_nullSink(std::make_unique<NullSink>())
    , m_sink(m_nullSink.get())
{
}

DatalogModel::~DatalogModel() = default;

void DatalogModel::SetSink(IDatalogSink *sink)
{
    m_sink = sink ? sink : m_nullSink.get();
}

void DatalogModel::SetStatus(const QString &status)
{
    SetStatusMode(status, fields.mode);
}

void DatalogModel::SetMode(const QString &mode)
{
    SetStatusMode(fields.status, mode);
}

void DatalogModel::SetStatusMode(const QString &status, const QString &mode)
{
    if (status == fields.status && mode == fields.mode)
        return;
    fields.status = status;
    fields.mode = mode;
    m_sink->StatusChanged(status, mode);
}

void DatalogModel::SetProgress(const QString &progress)
{
    if (progress == fields.progress)
        return;
    fields.progress = progress;
    m_sink->ProgressChanged(progress);
}

void DatalogModel::FieldsChanged()
{
    m_sink->FieldsChanged();
}

void DatalogModel::ListsReset()
{
    m_sink->ListsReset();
}

void DatalogModel::Append(LogData::List list, const QString &text)
{
    log.ListOf(list).append(text);
    m_sink->ListAppended(list);
}

void DatalogModel::ShowSnapshotCapacity()
{
    const QString text = DatalogFieldRules::CapacityText(fields.options, state.memoryFigure);
    if (text != fields.capacity) {
        fields.capacity = text;
        FieldsChanged();
    }
}

void DatalogModel::ClearDisplay()
{
    log.ClearLists();
    ListsReset();
}
