#pragma once

#include "datalog/DatalogFields.h"
#include "datalog/LogData.h"
#include "datalog/LoggerState.h"

#include <QDateTime>

#include <functional>
#include <memory>

class CSerial;
class IDatalogSink;
class MeterDialogue;
class PcLogger;

// The datalogger without its window: the form's fields, the logger state and the log lists,
// with the PC logger and the meter dialogue that work on them. The form (Datalog) owns one,
// mirrors its fields and lists, feeds it its button clicks and timer ticks, and is told of
// changes through IDatalogSink; tests drive it the same way.
class DatalogCore
{
public:
    using Clock = std::function<QDateTime()>;
    // The file name the form offers until the user gives one; never taken as a file to load.
    static constexpr const char *kPlaceholderFileName = "enterafilename.log";

    DatalogCore();
    ~DatalogCore();
    DatalogCore(const DatalogCore &) = delete;
    DatalogCore &operator=(const DatalogCore &) = delete;

    DatalogFields fields;
    LoggerState state;
    LogData log;

    PcLogger &Pc() { return *m_pc; }
    MeterDialogue &Meter() { return *m_meter; }

    // Null sink: nothing is told. The link may be null (no meter link: every dialogue fails).
    void SetSink(IDatalogSink *sink);
    IDatalogSink &Sink() { return *m_sink; }
    void SetLink(CSerial *link) { m_link = link; }
    CSerial *Link() const { return m_link; }
    // Local time as the logger sees it; tests put their own clock here.
    void SetClock(Clock clock) { m_clock = std::move(clock); }
    QDateTime Now() const { return m_clock ? m_clock() : QDateTime::currentDateTime(); }

    // The form's defaults and placeholders, the status "IDLE", the capacity display; starts the
    // clock tick.
    void OnFirstShown();

    bool IsIdle() const { return fields.status == QLatin1String("IDLE"); }
    void SetStatus(const QString &status);
    void SetMode(const QString &mode);
    void SetStatusMode(const QString &status, const QString &mode);
    void FieldsChanged();
    void ListsReset();
    void Append(LogData::List list, const QString &text);

    // The capacity display from the option boxes and the meter's log memory figure.
    void ShowSnapshotCapacity();
    // CLEAR E-LOG DISPLAY.
    void ClearDisplay();
    // GRAPH E-LOG opens the graph only with more than two entries in the snapshot list.
    bool CanGraph() const { return log.snapshotList.size() > 2; }

private:
    std::unique_ptr<IDatalogSink> m_nullSink;
    IDatalogSink *m_sink = nullptr;
    CSerial *m_link = nullptr;
    Clock m_clock;
    std::unique_ptr<PcLogger> m_pc;
    std::unique_ptr<MeterDialogue> m_meter;
};
