#include "core/DsmOrigin.h"

#include "core/ByteOrder.h"

#include <cmath>

namespace vistrel {

namespace {

bool looksProjected(double x, double y)
{
    if (!std::isfinite(x) || !std::isfinite(y)) {
        return false;
    }
    const double ax = std::fabs(x);
    const double ay = std::fabs(y);
    return ax >= 100000.0 && ax <= 10000000.0 && ay >= 1000000.0 && ay <= 10000000.0;
}

}  // namespace

std::vector<DsmOriginWindow> dsmOriginWindows(const unsigned char* bytes, std::size_t size)
{
    std::vector<DsmOriginWindow> windows;
    for (std::size_t i = 0; i + 16 <= size; ++i) {
        const double x = readLittleEndianDouble(&bytes[i]);
        const double y = readLittleEndianDouble(&bytes[i + 8]);
        if (looksProjected(x, y)) {
            windows.push_back({i, x, y});
        }
    }
    return windows;
}

std::optional<DsmOriginWindow> dsmOrigin(const unsigned char* bytes, std::size_t size)
{
    std::optional<DsmOriginWindow> last;
    for (std::size_t i = 0; i + 16 <= size; ++i) {
        const double x = readLittleEndianDouble(&bytes[i]);
        const double y = readLittleEndianDouble(&bytes[i + 8]);
        if (looksProjected(x, y)) {
            last = DsmOriginWindow{i, x, y};
        }
    }
    return last;
}

}  // namespace vistrel
