#include "datalog/DatalogCore.h"

#include "base/PrintfText.h"
#include "datalog/DatalogFieldRules.h"
#include "datalog/IDatalogSink.h"
#include "datalog/MeterDialogue.h"
#include "datalog/PcLogger.h"

namespace {
class NullSink : public IDatalogSink
{
public:
    void StatusChanged(const QString &, const QString &) override { }
};
} // namespace

DatalogCore::DatalogCore()
    : m_nullSink(std::make_unique<NullSink>())
    , m_sink(m_nullSink.get())
    , m_pc(std::make_unique<PcLogger>(*this))
    , m_meter(std::make_unique<MeterDialogue>(*this))
{
}

DatalogCore::~DatalogCore() = default;

void DatalogCore::SetSink(IDatalogSink *sink)
{
    m_sink = sink ? sink : m_nullSink.get();
}

void DatalogCore::OnFirstShown()
{
    fields.hour = QStringLiteral("0");
    fields.min = QStringLiteral("0");
    fields.sec = QStringLiteral("5");
    log.intervalSeconds = 5;
    fields.fileName = QString::fromLatin1(kPlaceholderFileName);
    fields.options = { false, false, true, false, false, false, false, false };
    fields.timerEnabled = false;
    state = LoggerState();
    const QDateTime now = Now();
    const QString date = PrintfText::Format(
        "%02d/%02d/%02d", now.date().month(), now.date().day(), now.date().year() % 100);
    const QString time = PrintfText::Format(
        "%02d:%02d:%02d", now.time().hour(), now.time().minute(), now.time().second());
    fields.startDate = fields.stopDate = date;
    fields.startTime = fields.stopTime = time;
    fields.serialNumber = QStringLiteral("12345678");
    fields.firmwareRev = QStringLiteral("v4.1A");
    fields.calibrationDate = QStringLiteral("1/31/07");
    fields.zeroOffset = QStringLiteral("0.000000e+00");
    fields.xSection = QStringLiteral("1 ft^2");
    fields.flowRange = QStringLiteral("80.000000");
    log.fullScaleFlow = 80.0f;
    fields.flowRate = QStringLiteral("0.00    SCFM");
    fields.totalFlow = QStringLiteral("1234.5678  SCF");
    fields.highFlow = QStringLiteral("59.1234");
    fields.lowFlow = QStringLiteral("0.00");
    ShowSnapshotCapacity();
    FieldsChanged();
    SetStatusMode(QStringLiteral("IDLE"), QString());
    m_sink->StartTimer(PcLogger::kClockTimer, 1);
}

void DatalogCore::SetStatus(const QString &status)
{
    SetStatusMode(status, fields.mode);
}

void DatalogCore::SetMode(const QString &mode)
{
    SetStatusMode(fields.status, mode);
}

void DatalogCore::SetStatusMode(const QString &status, const QString &mode)
{
    if (status == fields.status && mode == fields.mode)
        return;
    fields.status = status;
    fields.mode = mode;
    m_sink->StatusChanged(status, mode);
}

void DatalogCore::FieldsChanged()
{
    m_sink->FieldsChanged();
}

void DatalogCore::ListsReset()
{
    m_sink->ListsReset();
}

void DatalogCore::Append(LogData::List list, const QString &text)
{
    log.ListOf(list).append(text);
    m_sink->ListAppended(list);
}

void DatalogCore::ShowSnapshotCapacity()
{
    const QString text = DatalogFieldRules::CapacityText(fields.options, state.memoryFigure);
    if (text != fields.capacity) {
        fields.capacity = text;
        FieldsChanged();
    }
}

void DatalogCore::ClearDisplay()
{
    log.ClearLists();
    ListsReset();
}
