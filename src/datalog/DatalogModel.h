#pragma once

#include "datalog/DatalogFields.h"
#include "datalog/LogData.h"
#include "datalog/LoggerState.h"

#include <QDateTime>

#include <functional>
#include <memory>

class CSerial;
class IDatalogSink;

// What the datalogger's parts share: the form's fields, the logger state and the log lists, the
// meter link, the local time, and the one way a change reaches the form (the sink). The PC logger
// and the meter dialogue both work on it and report through it; neither knows the other or the
// core that owns them.
class DatalogModel
{
public:
    using Clock = std::function<QDateTime()>;

    DatalogModel();
    ~DatalogModel();
    DatalogModel(const DatalogModel &) = delete;
    DatalogModel &operator=(const DatalogModel &) = delete;

    DatalogFields fields;
    LoggerState state;
    LogData log;

    // Null sink: nothing is told. The link may be null (no meter link: every dialogue fails).
    void SetSink(IDatalogSink *sink);
    IDatalogSink &Sink() { return *m_sink; }
    void SetLink(CSerial *link) { m_link = link; }
    CSerial *Link() const { return m_link; }
    // Local time as the logger sees it; tests put their own clock here.
    void SetClock(Clock clock) { m_clock = std::move(clock); }
    QDateTime Now() const { return m_clock ? m_clock() : QDateTime::currentDateTime(); }

    bool IsIdle() const { return fields.status == QLatin1String("IDLE"); }
    void SetStatus(const QString &status);
    void SetMode(const QString &mode);
    void SetStatusMode(const QString &status, const QString &mode);
    // How far the running dialogue is ("attempt 2 of 5", bytes of a transfer); empty when none.
    void SetProgress(const QString &progress);
    void FieldsChanged();
    void ListsReset();
    void Append(LogData::List list, const QString &text);

    // The capacity display from the option boxes and the meter's log memory figure.
    void ShowSnapshotCapacity();
    // CLEAR E-LOG DISPLAY.
    void ClearDisplay();

private:
    std::unique_ptr<IDatalogSink> m_nullSink;
    IDatalogSink *m_sink = nullptr;
    CSerial *m_link = nullptr;
    Clock m_clock;
};
