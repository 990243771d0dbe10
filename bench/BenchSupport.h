#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

// Small helpers shared by the benchmark programs.
namespace bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count() / 1e9;
}

inline double median(std::vector<double> values)
{
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// Peak resident set size of this process in MiB (VmHWM).
inline double peakResidentMiB()
{
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) {
        return 0.0;
    }
    char line[256];
    double kib = 0.0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmHWM: %lf kB", &kib) == 1) {
            break;
        }
    }
    std::fclose(status);
    return kib / 1024.0;
}

}  // namespace bench
