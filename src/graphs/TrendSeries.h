#pragma once

#include <QtGlobal>

#include <algorithm>
#include <vector>

// One trace of a live trend: a ring of (time, value) points, oldest first, that holds at most
// Capacity() points and drops the oldest when full, so a trend left running for days keeps its
// memory. A value that is not a number marks a gap (a reading that failed). Times are
// milliseconds since the epoch and are expected not to go backwards; a point older than the
// newest is stored at the newest's time, so the ring stays sorted for the plot's search.
class TrendSeries
{
public:
    struct Point
    {
        qint64 ms = 0;
        double value = 0;
    };

    // 24 hours of a 2 s sweep: 16 bytes a point, 691,200 bytes a trace.
    static constexpr int kDefaultCapacity = 43200;

    explicit TrendSeries(int capacity = kDefaultCapacity);

    void Append(qint64 ms, double value);
    void Clear();
    int Size() const { return m_size; }
    int Capacity() const { return int(m_points.size()); }
    // The i-th point, 0 the oldest held.
    const Point &At(int i) const;
    const Point &Newest() const { return At(m_size - 1); }
    // The index of the first point at or after ms (Size() when none).
    int FirstAtOrAfter(qint64 ms) const;
    // Calls f(index, point) for the points from index from on, oldest first, until f returns
    // false: a walk over the ring without a division per point.
    template <typename F> void Visit(int from, F &&f) const
    {
        const int capacity = Capacity();
        int at = (m_start + std::max(0, from)) % capacity;
        for (int i = std::max(0, from); i < m_size; ++i) {
            if (!f(i, m_points[size_t(at)]))
                return;
            if (++at == capacity)
                at = 0;
        }
    }

private:
    std::vector<Point> m_points;
    int m_start = 0;
    int m_size = 0;
};
