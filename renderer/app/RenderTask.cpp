#include "app/RenderTask.h"

#include "app/Logger.h"

#include <exception>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace vistrel {

int runRenderTask(RenderConfig config)
{
    Logger& log = Logger::instance();
    try {
        const fs::path outputDir(config.output_dir);
        std::error_code ec;
        fs::create_directories(outputDir, ec);
        if (ec) {
            throw fs::filesystem_error("create_directories", outputDir, ec);
        }
        log.info("Starting Vistrel.");
        return ExitSuccess;
    } catch (const std::exception& e) {
        log.error(std::string("Task failed: ") + e.what());
        return ExitConfigOrTaskFailure;
    }
}

}  // namespace vistrel
