#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

// How long the event loop could not respond while an operation ran: a 10 ms timer ticks in the
// program's own event loop, and the longest gap between two ticks (or between the start and the
// first tick) is the longest stall a user would have felt. The benchmarks of the meter dialogues
// run each operation with one of these beside it.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Tick(); });
    }
    void Start()
    {
        m_maxGapMs = 0;
        m_ticks = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start(10);
    }
    // Stops ticking; the stall still open at the end counts too.
    void Stop()
    {
        Tick();
        m_timer.stop();
    }
    qint64 MaxGapMs() const { return m_maxGapMs; }
    qint64 ElapsedMs() const { return m_clock.elapsed(); }
    int Ticks() const { return m_ticks; }

private:
    void Tick()
    {
        const qint64 now = m_clock.elapsed();
        m_maxGapMs = std::max(m_maxGapMs, now - m_last);
        m_last = now;
        ++m_ticks;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_maxGapMs = 0;
    int m_ticks = 0;
};
