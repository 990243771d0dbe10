// The configuration loader with validation, over any file content.
#include "FuzzTempFile.h"

#include "core/RenderConfig.h"

#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::filesystem::path file = writeFuzzFile("render.json", data, size);
    vistrel::RenderConfig config;
    std::ostringstream messages;
    if (vistrel::loadRenderConfig(config, file.string(), messages)) {
        vistrel::printConfigSummary(config, messages);
    }
    return 0;
}
