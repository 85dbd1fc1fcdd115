#pragma once

#include <algorithm>
#include <chrono>

// Milliseconds from now until `end`, rounded up so a wait never ends just short of a deadline
// (which would make the caller loop with a zero time-out); 0 once it has passed. The device
// halves, local and network, wait with it.
inline int MsUntil(std::chrono::steady_clock::time_point end)
{
    const auto left = end - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return int(std::min<long long>(ms, 1 << 30));
}
