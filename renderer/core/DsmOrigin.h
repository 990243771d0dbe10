#pragma once

// The rule that finds a model origin in a .dsm file, which has no documented
// layout: every window of two little-endian doubles whose values look like
// projected coordinates (|x| from 100 km to 10,000 km, |y| from 1,000 km to
// 10,000 km) is a candidate, and the last one in the file is the origin.

#include <cstddef>
#include <optional>
#include <vector>

namespace vistrel {

struct DsmOriginWindow {
    std::size_t offset = 0;  // of x in the file
    double x = 0.0;
    double y = 0.0;
};

// Every candidate window, in file order.
std::vector<DsmOriginWindow> dsmOriginWindows(const unsigned char* bytes, std::size_t size);

// The origin the rule gives: the last candidate; none when there is none.
std::optional<DsmOriginWindow> dsmOrigin(const unsigned char* bytes, std::size_t size);

}  // namespace vistrel
