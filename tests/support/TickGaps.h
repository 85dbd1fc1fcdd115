#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

// Whether the event loop kept turning while a test's operation ran: a 10 ms timer ticks from its
// construction, and LongestMs is the longest gap between two ticks (or since the last one). A
// wait that blocked the loop shows as a gap as long as the wait.
class TickGaps
{
public:
    TickGaps()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
        m_clock.start();
        m_timer.start(10);
    }
    qint64 LongestMs()
    {
        Tick();
        return m_longest;
    }

private:
    void Tick()
    {
        m_longest = std::max(m_longest, m_clock.elapsed() - m_last);
        m_last = m_clock.elapsed();
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};
