#pragma once

#include "base/Task.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <vector>

class DialogueRunner;
class ModbusMaster;

// Polls a Modbus network through a ModbusMaster as one dialogue on a DialogueRunner: sweeps over
// numbered slots (the window's panels, the command line's addresses), one sweep per period,
// once, a number of times or until stopped. Dynamic reads come on a grid of kStepMs steps from
// the sweep's first read, as the ticks of a repeating timer (a read that ran past its step is
// followed at once); static reads follow one another at once. It shows nothing: its owner hears
// of each sweep and each slot's result through the hooks and shows its messages after the
// dialogue ended. The Modbus window and tarvik-cli modbus own one each.
//
// It ends in one of these ways, each with a defined state afterwards (Running() false):
// the sweeps asked for are done; Finish (after the sweep under way); a failed read without
// keep-polling (after that read); Stop (after the read under way); Cancel on the runner (at
// once: the open sweep's end is still reported); or the runner destroyed with the dialogue
// suspended (nothing more is reported).
class ModbusPoller
{
public:
    // The step between two dynamic reads: the pace of the Modbus window.
    static constexpr int kStepMs = 80;
    // How soon a single sweep tries again for a port another window's exchange holds.
    static constexpr int kPortRetryMs = 10;

    struct Settings
    {
        bool dynamic = true; // the dynamic block (flow, totalizer, temperature), else the static
        int sweeps = 1; // 0: until stopped
        int periodMs = 0; // from one sweep's start to the next
        bool firstAfterPeriod = false; // the first sweep, too, waits a period
        bool keepPolling = false; // a failed read ends the polling unless set
    };

    struct Result
    {
        int slot = 0;
        QString address;
        int sweep = 0; // counted from 1 since Run
        bool ok = false; // the master's texts hold the reading, else its FailureText
        int failures = 0; // the slot's failures since Run
        bool ending = false; // this failure ends the polling
    };

    struct Hooks
    {
        // The slot's address text now; a slot whose address value is not above 0 is skipped.
        std::function<QString(int slot)> address;
        // A sweep is about to begin: false when it cannot now (the port is held elsewhere); it
        // is tried again after the period (a single sweep after kPortRetryMs).
        std::function<bool()> sweepBegins;
        std::function<void(int slot, const QString &address)> readBegins;
        std::function<void(const Result &result)> result;
        std::function<void()> sweepEnded;
    };

    ModbusPoller(ModbusMaster &master, int slots);

    void SetHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    void SetSettings(const Settings &settings);
    const Settings &GetSettings() const { return m_settings; }
    void SetKeepPolling(bool on) { m_settings.keepPolling = on; }
    // The sweep count in force while running: sweeps up to count (0: no end).
    void SetSweeps(int count) { m_settings.sweeps = count; }

    // The slot a sweep begins with (a sweep ended early goes on there), 1..slots.
    int Next() const { return m_next; }
    void SetNext(int slot);

    // The polling dialogue, to start on runner or await within another dialogue. Counts
    // failures and sweeps afresh.
    Task<void> Run(DialogueRunner &runner);

    bool Running() const { return m_runner != nullptr; }
    bool InSweep() const { return m_inSweep; }
    int Sweep() const { return m_sweep; }
    int FailureCount(int slot) const;

    // Ends the polling after the sweep under way; between sweeps, at once (a Cancel of the
    // pause).
    void Finish();
    // Ends the polling after the read under way.
    void Stop() { m_stop = true; }

private:
    struct RunningMark;
    // Waits until the clock reaches atMs; false when the runner was cancelled.
    Task<bool> PauseUntil(DialogueRunner &runner, qint64 atMs);
    Task<void> SweepOnce(DialogueRunner &runner);
    // Whether a slot from Next() on has an address now.
    bool SlotAhead() const;

    ModbusMaster &m_master;
    int m_slots;
    Hooks m_hooks;
    Settings m_settings;
    int m_next = 1;
    DialogueRunner *m_runner = nullptr;
    bool m_inSweep = false;
    bool m_stop = false;
    bool m_finish = false;
    int m_sweep = 0;
    std::vector<int> m_failures;
    QElapsedTimer m_clock;
    qint64 m_nextStepMs = 0; // the earliest start of the next read
};
