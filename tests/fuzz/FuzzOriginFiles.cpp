// The metadata.xml origin and SRS scan and the .dsm origin scan.
#include "model/SceneOrigin.h"

#include <cstdint>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        vistrel::parseMetadataText(text);
    } catch (const std::invalid_argument&) {
        // A malformed number ends the task with its message, as documented.
    } catch (const std::out_of_range&) {
    }
    vistrel::scanDsmBytes(data, size);
    return 0;
}
