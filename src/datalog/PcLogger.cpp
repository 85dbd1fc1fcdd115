#include "datalog/PcLogger.h"

#include "base/DialogueRunner.h"
#include "base/PrintfText.h"
#include "base/ReadingSink.h"
#include "base/UserMessage.h"
#include "datalog/DatalogFieldRules.h"
#include "datalog/DatalogModel.h"
#include "datalog/IDatalogSink.h"
#include "datalog/ReadingLine.h"
#include "link/CSerial.h"

#include <QElapsedTimer>

#include <algorithm>
#include <climits>
#include <iterator>
#include <tuple>
#include <utility>

namespace {
const char *const kColumnHeads[8]
    = { "; Date ", "; Time ", "; Flow ", "; Total ", "; High ", "; Low ", "; Relay1 ", "; Relay2" };
} // namespace

PcLogger::PcLogger(DatalogModel &model)
    : m_model(model)
    , m_clock(std::make_unique<DialogueRunner>())
    , m_snapshots(std::make_unique<DialogueRunner>())
    , m_status(std::make_unique<DialogueRunner>())
{
}

PcLogger::~PcLogger() = default;

QByteArray PcLogger::ColumnHeaderLine(const std::array<bool, 8> &options)
{
    QByteArray line = ";Line ";
    for (int i = 0; i < 8; ++i) {
        if (options[i])
            line += kColumnHeads[i];
    }
    return line;
}

QString PcLogger::LogDate(const QDateTime &t)
{
    return PrintfText::Format(
        "%02d/%02d/20%02d", t.date().month(), t.date().day(), t.date().year() % 100);
}

QString PcLogger::LogTime(const QDateTime &t)
{
    const int h = t.time().hour();
    return PrintfText::Format("%02d:%02d:%02d %s", h % 12 == 0 ? 12 : h % 12, t.time().minute(),
        t.time().second(), h < 12 ? "AM" : "PM");
}

void PcLogger::StartPcLogging()
{
    LoggerState &st = m_model.state;
    DatalogFields &f = m_model.fields;
    if (st.loggingActive || !m_model.IsIdle())
        return;
    m_receiver.Restart();
    st.startTime = DatalogFieldRules::TimeSeconds(f.startTime);
    st.stopTime = DatalogFieldRules::TimeSeconds(f.stopTime);
    DatalogFieldRules::ParseDate(f.startDate, &st.startYear, &st.startMonth, &st.startDay);
    DatalogFieldRules::ParseDate(f.stopDate, &st.stopYear, &st.stopMonth, &st.stopDay);
    const qint64 interval = DatalogFieldRules::IntervalSeconds(f.hour, f.min, f.sec);
    if (interval < 1) {
        m_model.log.intervalSeconds = 5;
        f.hour = QStringLiteral("0");
        f.min = QStringLiteral("0");
        f.sec = QStringLiteral("5");
    } else if (interval > 86400) {
        m_model.log.intervalSeconds = 86400;
        f.hour = QStringLiteral("24");
        f.min = QStringLiteral("0");
        f.sec = QStringLiteral("0");
    } else {
        m_model.log.intervalSeconds = int(interval);
    }
    m_model.FieldsChanged();

    st.timerWindowEntered = false;
    if (!m_file.Create(f.fileName)) {
        UserMessage::Show(QString::fromLatin1(LogFileWriter::kCreateErrorText),
            QString::fromLatin1(LogFileWriter::kCreateErrorTitle));
        return;
    }
    m_model.log.ClearLists();
    m_model.ListsReset();
    // A row holds only a reading received after START, never the last one of an earlier run.
    st.lastReadingLine.clear();
    st.loggingActive = true;
    st.pcTimerMode = f.timerEnabled;
    m_status->Abort(); // an earlier run's "STOPPED" gives way now
    if (st.pcTimerMode) {
        m_model.SetStatusMode(QStringLiteral("TIMER STARTED"), QStringLiteral("PC Timer Mode"));
        m_clock->Nudge(); // the clock is watched at the shorter pace from now on
    } else {
        StartSnapshots();
        m_model.SetStatusMode(
            QStringLiteral("Datalogger Running"), QStringLiteral("PC Manual Mode"));
    }
    WriteHeader(m_model.Now());
    st.rowNumber = 1;
    m_model.log.columns.FromHeaderLine(ColumnHeaderLine(f.options));
    m_model.log.logFlowUnits = st.flowUnits;
    if (!m_file.Commit())
        WriteFailed();
}

void PcLogger::StartClock()
{
    if (!m_clock->IsRunning())
        m_clock->Start(Clock());
}

bool PcLogger::ClockRunning() const
{
    return m_clock->IsRunning();
}

Task<void> PcLogger::Clock()
{
    for (;;) {
        ClockTick();
        const LoggerState &st = m_model.state;
        co_await m_clock->Sleep(st.pcTimerMode && st.loggingActive ? kWatchMs : kClockRefreshMs);
        if (m_clock->Cancelled())
            co_return;
    }
}

int PcLogger::ReadingWaitMs(int periodMs)
{
    return std::clamp(periodMs / 2, 1, kReadingWaitMaxMs);
}

Task<void> PcLogger::Snapshots(int periodMs)
{
    // Due every period from the start, however long each snapshot took: no drift.
    for (qint64 due = periodMs;; due += periodMs) {
        m_rowDueMs = due;
        co_await m_snapshots->Sleep(
            int(std::max<qint64>(due - m_sinceSnapshotsBegan.elapsed(), 1)));
        if (m_snapshots->Cancelled() || !m_model.state.loggingActive)
            co_return;
        if (m_rowsWaitForAReading && m_model.state.lastReadingLine.isEmpty())
            continue;
        if (m_fresh.empty()) {
            // The meter's line for this row may be a moment late: the line reader takes the row
            // with it when it comes (and nudges this wait).
            m_rowWaits = true;
            co_await m_snapshots->Sleep(ReadingWaitMs(periodMs));
            if (m_snapshots->Cancelled() || !m_model.state.loggingActive)
                co_return;
            if (!m_rowWaits)
                continue;
            m_rowWaits = false;
        }
        SnapshotTick();
    }
}

void PcLogger::StatusAfter(int ms, bool stopped)
{
    m_status->Abort();
    m_status->Start(ShowStatusAfter(ms, stopped));
}

Task<void> PcLogger::ShowStatusAfter(int ms, bool stopped)
{
    co_await m_status->Sleep(ms);
    if (m_status->Cancelled())
        co_return;
    if (stopped)
        m_model.SetStatusMode(QStringLiteral("IDLE"), QString());
    else if (m_model.state.loggingActive)
        m_model.SetStatus(QStringLiteral("Z-Ozuved Running"));
}

void PcLogger::StartSnapshots()
{
    m_snapshotPeriodMs = m_model.log.intervalSeconds * 1000;
    m_snapshots->Abort(); // an earlier run's, ending at its next step
    m_sinceSnapshotsBegan.start();
    m_rowWaits = false;
    m_fresh.clear();
    m_snapshots->Start(Snapshots(m_snapshotPeriodMs));
    CSerial *link = m_model.Link();
    if (link)
        link->PurgeInput();
    m_receiver.Restart();
    m_bytesReceived = 0;
    m_reading = true;
    m_subscription = link ? link->Subscribe([this] { TakeQueued(); },
                         [this, link] { m_model.SetStatus(link->GoneText()); })
                          : SerialPort::Subscription();
}

bool PcLogger::LineReaderRunning() const
{
    return m_reading && m_model.state.loggingActive;
}

void PcLogger::Say(const QString &text, const QString &caption)
{
    if (m_inReaderStep)
        UserMessage::ShowLater(text, caption);
    else
        UserMessage::Show(text, caption);
}

void PcLogger::WriteHeader(const QDateTime &now)
{
    const DatalogFields &f = m_model.fields;
    const LoggerState &st = m_model.state;
    const QString serialLine = PrintfText::Format("Serial#  %s   Start Date: %s   Time: %s",
        qPrintable(f.serialNumber), qPrintable(LogDate(now)), qPrintable(LogTime(now)));
    const QString intervalLine
        = PrintfText::Format("Snapshot Interval = %d secs   Flow Units = %s   Total Units = %s",
            m_model.log.intervalSeconds, qPrintable(st.flowUnits), qPrintable(st.totalUnits));
    const QString optionsLine = PrintfText::Format("%cOptions Selected:\r\n", 34);
    const QByteArray columns = ColumnHeaderLine(f.options);

    QByteArray text;
    text += PrintfText::Format("%cHalvren - PC Datalog Filename %s", 34, qPrintable(f.fileName))
                .toLatin1()
        + '\n';
    text += PrintfText::Format("%cFull Scale Flow Rate = %f", 34, double(m_model.log.fullScaleFlow))
                .toLatin1()
        + '\n';
    text += '"' + serialLine.toLatin1() + '\n';
    text += '\n';
    text += '"' + intervalLine.toLatin1() + '\n';
    text += '\n';
    text += optionsLine.toLatin1();
    text += columns + '\n';
    m_file.Write(text);

    // The graph of this log starts at this header's time, whatever log was loaded before.
    m_model.log.logStartTime = LogTime(now);
    m_model.Append(LogData::Header, serialLine);
    m_model.Append(LogData::Header, intervalLine);
    m_model.Append(LogData::Header, optionsLine);
    m_model.Append(LogData::Header, QString::fromLatin1(columns));
}

void PcLogger::StopPcLogging()
{
    LoggerState &st = m_model.state;
    if (!st.loggingActive)
        return;
    // Stopped from inside a snapshot too (a row that cannot be written): the dialogue ends at
    // its next step.
    m_snapshots->Cancel();
    m_snapshotPeriodMs = 0;
    m_rowWaits = false;
    m_fresh.clear();
    m_subscription.Cancel();
    m_reading = false;
    st.timerWindowEntered = false;
    st.loggingActive = false;
    const QDateTime now = m_model.Now();
    const QString stopLine = PrintfText::Format(
        "%cStop Ocurred %s %s", 34, qPrintable(LogDate(now)), qPrintable(LogTime(now)));
    m_file.Write("\n" + stopLine.toLatin1() + "\n");
    m_model.Append(LogData::Stop, stopLine);
    m_model.Append(LogData::Snapshot, QString());
    m_file.Close();
    m_model.SetStatus(QStringLiteral("STOPPED"));
    StatusAfter(kStoppedShownMs, true);
    m_model.Sink().FocusStopButton();
}

void PcLogger::WriteFailed()
{
    StopPcLogging();
    Say(QString::fromLatin1(LogFileWriter::kWriteErrorText),
        QString::fromLatin1(LogFileWriter::kDatalogErrorTitle));
}

bool PcLogger::Reached(int year, int month, int day, int seconds, const QDateTime &now) const
{
    const auto current = std::make_tuple(now.date().year() % 100 + 2000, now.date().month(),
        now.date().day(), m_model.state.nowTime);
    return current >= std::make_tuple(2000 + year, month, day, seconds);
}

void PcLogger::ClockTick()
{
    LoggerState &st = m_model.state;
    DatalogFields &f = m_model.fields;
    const QDateTime now = m_model.Now();
    const QDate d = now.date();
    const QTime t = now.time();
    st.nowTime = t.hour() * 3600 + t.minute() * 60 + t.second();
    const QString date = PrintfText::Format("%d/%02d/%02d", d.month(), d.day(), d.year() % 100);
    const QString time = PrintfText::Format("%d:%02d:%02d", t.hour(), t.minute(), t.second());
    if (date != f.clockDate || time != f.clockTime) {
        f.clockDate = date;
        f.clockTime = time;
        m_model.FieldsChanged();
    }
    if (!st.pcTimerMode || !st.loggingActive)
        return;
    if (!st.timerWindowEntered
        && Reached(st.startYear, st.startMonth, st.startDay, st.startTime, now)) {
        st.timerWindowEntered = true;
        StartSnapshots();
        m_model.SetStatus(QStringLiteral("Z-Ozuved Running"));
    }
    if (st.timerWindowEntered && Reached(st.stopYear, st.stopMonth, st.stopDay, st.stopTime, now))
        StopPcLogging();
}

void PcLogger::SnapshotTick()
{
    LoggerState &st = m_model.state;
    if (!st.loggingActive)
        return;
    st.displayOnly = 0;
    TakeSnapshot();
    if (!st.loggingActive)
        return; // the row could not be written
    m_model.SetStatus(QStringLiteral("SNAPSHOT"));
    StatusAfter(kSnapshotShownMs, false);
}

void PcLogger::ReadPending()
{
    CSerial *link = m_model.Link();
    if (m_model.state.loggingActive && link && m_subscription.Active())
        link->DeliverPending(kMaxBytesPerStep); // queued for every subscriber, this one included
    TakeQueued();
}

void PcLogger::TakeQueued()
{
    const bool outer = !m_inReaderStep;
    m_inReaderStep = true;
    while (m_model.state.loggingActive && m_subscription.Queued() > 0) {
        const QByteArray bytes = m_subscription.Take(kMaxBytesPerStep);
        m_bytesReceived += bytes.size();
        for (const char byte : bytes) {
            if (!OnReceivedByte(static_cast<unsigned char>(byte)))
                break;
        }
    }
    if (outer)
        m_inReaderStep = false;
}

bool PcLogger::OnReceivedByte(unsigned char byte)
{
    LoggerState &st = m_model.state;
    if (!st.loggingActive)
        return false;
    switch (m_receiver.Feed(byte)) {
    case ReadingReceiver::Result::Line:
        st.lastReadingLine = m_receiver.Line();
        st.displayOnly = 1;
        TakeSnapshot();
        if (m_reading) {
            m_fresh.push_back({ m_sinceSnapshotsBegan.elapsed(), st.lastReadingLine });
            if (m_fresh.size() > size_t(kFreshReadingsKept))
                m_fresh.pop_front();
        }
        if (m_rowWaits && st.loggingActive) {
            m_rowWaits = false;
            SnapshotTick();
            m_snapshots->Nudge();
        }
        break;
    case ReadingReceiver::Result::Overflow:
        StopPcLogging();
        Say(QStringLiteral("Data Not Available From Meter\n  Press the Stop Button"),
            QString::fromLatin1(LogFileWriter::kDatalogErrorTitle));
        return false;
    case ReadingReceiver::Result::None:
        break;
    }
    return st.loggingActive;
}

void PcLogger::TakeSnapshot()
{
    LoggerState &st = m_model.state;
    DatalogFields &f = m_model.fields;
    const ReadingLine r = ReadingLine::Parse(st.lastReadingLine);
    f.flowRate = r.flowDisplay;
    f.totalFlow = r.totalDisplay;
    f.highFlow = r.high;
    f.lowFlow = r.low;
    f.relay1On = r.Relay1On();
    f.relay2On = r.Relay2On();
    m_model.FieldsChanged();
    if (st.displayOnly == 0 && st.loggingActive)
        WriteRow(TakeRowLine());
}

QByteArray PcLogger::TakeRowLine()
{
    if (m_fresh.empty())
        return m_model.state.lastReadingLine;
    // The last one received by the due time; else the first after it (the event loop turned
    // late, or the row waited for it).
    auto taken = m_fresh.begin();
    for (auto it = m_fresh.begin(); it != m_fresh.end() && it->atMs <= m_rowDueMs; ++it)
        taken = it;
    QByteArray line = std::move(taken->line);
    m_fresh.erase(m_fresh.begin(), std::next(taken));
    return line;
}

void PcLogger::WriteRow(const QByteArray &line)
{
    LoggerState &st = m_model.state;
    const DatalogFields &f = m_model.fields;
    const ReadingLine r = ReadingLine::Parse(line);
    const QDateTime now = m_model.Now();
    const QString values[8] = { LogDate(now), LogTime(now), r.flowValue, r.totalValue, r.high,
        r.low, r.relay1, r.relay2 };
    QString fileRow = QStringLiteral("; ") + QString::number(st.rowNumber);
    QString displayRow = fileRow;
    for (int i = 0; i < 8; ++i) {
        if (!f.options[i])
            continue;
        fileRow += QStringLiteral("; ") + values[i] + QLatin1Char(' ');
        displayRow += QStringLiteral("; ") + values[i] + QStringLiteral("    ");
    }
    m_model.Append(LogData::Snapshot, displayRow);
    m_file.Write(fileRow.toLatin1() + '\n');
    if (ReadingSink *sink = ReadingSink::Instance()) {
        const auto unitOf = [](const QString &display, const QString &value) {
            return display.mid(value.size()).trimmed();
        };
        const auto relay
            = [](bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); };
        sink->MeterReading(now, f.serialNumber,
            { { QStringLiteral("flow"), r.flowValue, unitOf(r.flowDisplay, r.flowValue) },
                { QStringLiteral("total"), r.totalValue, unitOf(r.totalDisplay, r.totalValue) },
                { QStringLiteral("high"), r.high, {} }, { QStringLiteral("low"), r.low, {} },
                { QStringLiteral("relay1"), relay(r.Relay1On()), {} },
                { QStringLiteral("relay2"), relay(r.Relay2On()), {} } });
    }
    if (st.rowNumber < INT_MAX)
        ++st.rowNumber;
    if (!m_file.Commit())
        WriteFailed();
}

void PcLogger::OptionClicked(int option, bool checked)
{
    if (option < 0 || option >= 8)
        return;
    if (!m_model.state.loggingActive) {
        m_model.fields.options[option] = checked;
        m_model.ShowSnapshotCapacity();
    }
    m_model.FieldsChanged(); // while logging, the boxes go back to the options in use
}

void PcLogger::TimerEnableClicked(bool checked)
{
    m_model.fields.timerEnabled = checked;
    m_model.ShowSnapshotCapacity();
}

void PcLogger::LeaveField(Edit edit)
{
    DatalogFields &f = m_model.fields;
    switch (edit) {
    case Edit::StartDate:
        f.startDate = DatalogFieldRules::NormalizeDate(f.startDate);
        break;
    case Edit::StopDate:
        f.stopDate = DatalogFieldRules::NormalizeDate(f.stopDate);
        break;
    case Edit::StartTime:
        f.startTime = DatalogFieldRules::NormalizeTime(f.startTime);
        break;
    case Edit::StopTime:
        f.stopTime = DatalogFieldRules::NormalizeTime(f.stopTime);
        break;
    case Edit::Hour:
        DatalogFieldRules::LeaveHour(f.hour, f.min, f.sec);
        break;
    case Edit::Min:
        DatalogFieldRules::LeaveMin(f.hour, f.min, f.sec);
        break;
    case Edit::Sec:
        DatalogFieldRules::LeaveSec(f.hour, f.min, f.sec);
        break;
    }
    m_model.FieldsChanged();
}
