#include "graphs/TrendSeries.h"

#include <algorithm>

TrendSeries::TrendSeries(int capacity)
    : m_points(size_t(std::max(2, capacity)))
{
}

void TrendSeries::Append(qint64 ms, double value)
{
    if (m_size > 0)
        ms = std::max(ms, Newest().ms);
    const int capacity = Capacity();
    if (m_size < capacity) {
        m_points[size_t((m_start + m_size) % capacity)] = Point { ms, value };
        ++m_size;
        return;
    }
    m_points[size_t(m_start)] = Point { ms, value };
    m_start = (m_start + 1) % capacity;
}

void TrendSeries::Clear()
{
    m_start = 0;
    m_size = 0;
}

const TrendSeries::Point &TrendSeries::At(int i) const
{
    return m_points[size_t((m_start + i) % Capacity())];
}

int TrendSeries::FirstAtOrAfter(qint64 ms) const
{
    int lo = 0, hi = m_size;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (At(mid).ms < ms)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}
