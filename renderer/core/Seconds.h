#pragma once

#include <chrono>

namespace vistrel {

// Seconds from `from` to `to` on the monotonic clock, to the nanosecond.
inline double secondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to)
{
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count()) / 1e9;
}

}  // namespace vistrel
