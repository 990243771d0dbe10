// The coordinate-system text of <SRS>, model_srs and frames_crs: read,
// named and compared, with nothing fetched or opened.
#include "vector/CoordinateSystem.h"

#include <cstdint>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool offline = [] {
        vistrel::keepGdalOffline();
        return true;
    }();
    (void)offline;
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const vistrel::CoordinateSystem system = vistrel::parseCoordinateSystem(text);
        vistrel::shortName(system);
        vistrel::sameSystem(system, system);
        vistrel::strippedSystem(system, 38000000.0);
    } catch (const std::invalid_argument&) {
        // Text that names no usable system is refused with its reason.
    }
    return 0;
}
