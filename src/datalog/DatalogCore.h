#pragma once

#include "base/Task.h"
#include "datalog/DatalogModel.h"

#include <memory>

class DialogueRunner;
class LogTransferDialogue;
class LoggerConfigDialogue;
class MeterDialogue;
class PcLogger;

// The datalogger without its window: the model (fields, logger state, log lists), the PC logger
// and the meter dialogue that work on it, and the runner on which the meter dialogues wait
// without holding the event loop. The form (Datalog) owns one, feeds it its button clicks and
// timer ticks, and is told of changes through IDatalogSink; tests drive it the same way.
// One dialogue runs at a time; a button pressed meanwhile does nothing. Destroying the core
// ends a running dialogue where it waits (the partial log file keeps what arrived).
class DatalogCore
{
public:
    using Clock = DatalogModel::Clock;
    // The file name the form offers until the user gives one; never taken as a file to load.
    static constexpr const char *kPlaceholderFileName = "enterafilename.log";
    // How long the line must be quiet before a window closed mid-dialogue sends the meter back to
    // run mode (a meter sends its log without pauses; this is some 300 characters at 9600 baud).
    static constexpr int kQuietBeforeRunModeMs = 300;

    DatalogCore();
    ~DatalogCore();
    DatalogCore(const DatalogCore &) = delete;
    DatalogCore &operator=(const DatalogCore &) = delete;

    DatalogFields &fields;
    LoggerState &state;
    LogData &log;

    PcLogger &Pc() { return *m_pc; }
    MeterDialogue &Meter() { return *m_meter; }
    DatalogModel &Model() { return m_model; }
    DialogueRunner &Runner() { return *m_runner; }

    void SetSink(IDatalogSink *sink) { m_model.SetSink(sink); }
    IDatalogSink &Sink() { return m_model.Sink(); }
    void SetLink(CSerial *link) { m_model.SetLink(link); }
    CSerial *Link() const { return m_model.Link(); }
    void SetClock(Clock clock) { m_model.SetClock(std::move(clock)); }
    QDateTime Now() const { return m_model.Now(); }

    // The form's defaults and placeholders, the status "IDLE", the capacity display; starts the
    // clock tick.
    void OnFirstShown();

    bool IsIdle() const { return m_model.IsIdle(); }
    // Whether E-LOG FILENAME names no file yet (empty, or the placeholder): the form asks for
    // one before a log is written.
    bool NeedsFileName() const;
    // Whether a meter dialogue runs (or the meter is being sent back to run mode after Cancel).
    bool IsBusy() const;
    // Whether a transfer of the meter's log runs.
    bool IsTransferring() const;
    void ShowSnapshotCapacity() { m_model.ShowSnapshotCapacity(); }
    // CLEAR E-LOG DISPLAY.
    void ClearDisplay() { m_model.ClearDisplay(); }
    // GRAPH E-LOG opens the graph only with more than two entries in the snapshot list.
    bool CanGraph() const { return log.snapshotList.size() > 2; }

    // The form's buttons. The meter dialogues start here and go on from the event loop.
    // START (PC) does something only when CanStartPc.
    bool CanStartPc() const;
    void StartPcLogging();
    void StopPcLogging();
    void Update();
    void SendConfiguration();
    void ReadConfiguration();
    void StartMeter();
    void StopMeter();
    void TransferMeterLog();
    // LOAD: reads the log named in E-LOG FILENAME into the lists; a long log loads in slices on
    // the runner (Cancel stops it and keeps the log shown before).
    void LoadLog();
    // Cancel: the running dialogue stops at its wait, the status shows "IDLE", and a meter left
    // in command mode is sent back to run mode.
    void Cancel();

    // Runs dialogue on the runner; false (nothing run) while another runs.
    bool Run(Task<void> dialogue);

private:
    Task<void> CheckThenStartPc();
    Task<void> TransferThenLoad();
    Task<void> LoadFrom(QString path);
    void DialogueEnded();

    DatalogModel m_model;
    std::unique_ptr<PcLogger> m_pc;
    std::unique_ptr<MeterDialogue> m_meter;
    std::unique_ptr<LoggerConfigDialogue> m_config;
    std::unique_ptr<LogTransferDialogue> m_transfer;
    bool m_windingUp = false;
    // Expires with this core: tells a message shown from DialogueEnded whether it still exists.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    // Last: destroyed first, so a suspended dialogue goes before what it works on.
    std::unique_ptr<DialogueRunner> m_runner;
};
