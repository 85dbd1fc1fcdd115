#include "modbus/ModbusPoller.h"

#include "base/DialogueRunner.h"
#include "modbus/ModbusMaster.h"

#include <algorithm>
#include <climits>
#include <utility>

// Marks the poller running for as long as the dialogue's frame lives, so that a runner
// destroyed with the dialogue suspended leaves it idle too.
struct ModbusPoller::RunningMark
{
    ModbusPoller &poller;
    RunningMark(ModbusPoller &p, DialogueRunner &runner)
        : poller(p)
    {
        poller.m_runner = &runner;
    }
    ~RunningMark()
    {
        poller.m_runner = nullptr;
        poller.m_inSweep = false;
    }
};

ModbusPoller::ModbusPoller(ModbusMaster &master, int slots)
    : m_master(master)
    , m_slots(std::max(slots, 1))
    , m_failures(size_t(m_slots) + 1, 0)
{
}

void ModbusPoller::SetSettings(const Settings &settings)
{
    m_settings = settings;
    // Settings given while running start the count afresh, the sweep under way included.
    if (Running()) {
        m_finish = false;
        m_stop = false;
        m_sweep = m_inSweep ? 1 : 0;
        std::fill(m_failures.begin(), m_failures.end(), 0);
    }
}

void ModbusPoller::SetNext(int slot)
{
    m_next = std::clamp(slot, 1, m_slots);
}

int ModbusPoller::FailureCount(int slot) const
{
    return slot >= 1 && slot <= m_slots ? m_failures[size_t(slot)] : 0;
}

void ModbusPoller::Finish()
{
    if (!Running())
        return;
    m_finish = true;
    if (!m_inSweep)
        m_runner->Cancel();
}

Task<bool> ModbusPoller::PauseUntil(DialogueRunner &runner, qint64 atMs)
{
    const qint64 ms = atMs - m_clock.elapsed();
    if (ms > 0)
        co_await runner.Sleep(int(std::min<qint64>(ms, INT_MAX)));
    co_return !runner.Cancelled();
}

Task<void> ModbusPoller::Run(DialogueRunner &runner)
{
    RunningMark mark(*this, runner);
    m_clock.start();
    m_nextStepMs = 0;
    m_sweep = 0;
    m_stop = false;
    m_finish = false;
    std::fill(m_failures.begin(), m_failures.end(), 0);
    qint64 sweepAt = m_settings.firstAfterPeriod ? m_settings.periodMs : 0;
    for (;;) {
        if (!co_await PauseUntil(runner, sweepAt))
            co_return;
        const bool once = m_settings.sweeps == 1;
        if (m_hooks.sweepBegins && !m_hooks.sweepBegins()) {
            sweepAt = m_clock.elapsed() + (once ? kPortRetryMs : std::max(m_settings.periodMs, 10));
            continue;
        }
        sweepAt = m_clock.elapsed() + m_settings.periodMs;
        co_await SweepOnce(runner);
        if (runner.Cancelled() || m_stop || m_finish
            || (m_settings.sweeps > 0 && m_sweep >= m_settings.sweeps))
            co_return;
    }
}

bool ModbusPoller::SlotAhead() const
{
    for (int slot = m_next; slot <= m_slots; ++slot)
        if (m_hooks.address && ModbusMaster::AddressValue(m_hooks.address(slot)) > 0)
            return true;
    return false;
}

Task<void> ModbusPoller::SweepOnce(DialogueRunner &runner)
{
    ++m_sweep;
    m_inSweep = true;
    // The dynamic reads come a step apart, on a grid from the sweep's first read as a repeating
    // timer's ticks are: a read that ran past its step is followed at once, and a late resume is
    // not carried into the later steps. The static reads follow one another at once.
    const int step = m_settings.dynamic ? kStepMs : 0;
    bool first = true;
    // From where the last sweep left off to the last slot; the slots without an address are
    // passed over, and the sweep ends with its last read.
    for (bool wrapped = false; !wrapped && !m_stop;) {
        if (!SlotAhead()) {
            m_next = 1;
            break;
        }
        if (!co_await PauseUntil(runner, m_nextStepMs))
            break;
        int slot = 0;
        QString address;
        while (!wrapped) {
            const int candidate = m_next;
            if (++m_next > m_slots) {
                m_next = 1;
                wrapped = true;
            }
            address = m_hooks.address ? m_hooks.address(candidate) : QString();
            if (ModbusMaster::AddressValue(address) > 0) {
                slot = candidate;
                break;
            }
        }
        if (slot == 0)
            break;
        const qint64 now = m_clock.elapsed();
        if (step == 0)
            m_nextStepMs = 0;
        else if (std::exchange(first, false))
            m_nextStepMs = now + step;
        else
            while (m_nextStepMs <= now)
                m_nextStepMs += step;
        if (m_hooks.readBegins)
            m_hooks.readBegins(slot, address);
        const int ok = m_settings.dynamic ? co_await m_master.ReadDynamicAsync(runner, address)
                                          : co_await m_master.ReadStaticAsync(runner, address);
        if (runner.Cancelled())
            break;
        Result result { slot, address, m_sweep, ok != 0, m_failures[size_t(slot)], false };
        if (!ok) {
            result.failures = ++m_failures[size_t(slot)];
            result.ending = !m_settings.keepPolling;
            m_stop = m_stop || result.ending;
        }
        if (m_hooks.result)
            m_hooks.result(result);
    }
    m_inSweep = false;
    if (m_hooks.sweepEnded)
        m_hooks.sweepEnded();
}
