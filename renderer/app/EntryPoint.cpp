#include "app/EntryPoint.h"

#include "app/RenderTask.h"
#include "app/RunPlan.h"
#include "app/StopSignal.h"
#include "core/RunProtocol.h"
#include "core/Logger.h"
#include "core/RenderConfig.h"
#include "vector/CoordinateSystem.h"

#include <filesystem>
#include <iostream>
#include <system_error>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

fs::path programFile(const std::string& programPath)
{
    const fs::path given(programPath);
    if (!given.has_parent_path()) {
        std::error_code ec;
        fs::path self = fs::read_symlink("/proc/self/exe", ec);
        if (!ec && !self.empty()) {
            return self;
        }
    }
    std::error_code ec;
    fs::path absolute = fs::absolute(given, ec);
    if (ec) {
        throw fs::filesystem_error("absolute", given, ec);
    }
    return absolute;
}

}  // namespace

std::string defaultConfigPath(const std::string& programPath)
{
    const fs::path candidate = programFile(programPath).parent_path() / "config" / "render.json";
    std::error_code ec;
    const fs::file_status status = fs::status(candidate, ec);
    if (ec && status.type() != fs::file_type::not_found) {
        throw fs::filesystem_error("exists", candidate, ec);
    }
    if (fs::exists(status)) {
        return candidate.string();
    }
    return "config/render.json";
}

namespace {

// The configuration's path from the arguments: <config>, --plan <config> or
// none (the default configuration). False for arguments of another form.
bool readArguments(int argc, char** argv, std::string& configPath, bool& plan)
{
    const std::string first = argc >= 2 ? argv[1] : "";
    plan = first == "--plan";
    if (plan) {
        if (argc < 3) {
            return false;
        }
        configPath = argv[2];
        return true;
    }
    if (first.rfind("--", 0) == 0) {
        return false;
    }
    configPath = argc >= 2 ? first : defaultConfigPath(argc >= 1 && argv[0] ? argv[0] : "Vistrel");
    return true;
}

}  // namespace

int runVistrel(int argc, char** argv)
{
    installSignalHandlers();
    keepGdalOffline();
    // Arguments arrive as UTF-8 and the console takes UTF-8 as it is.
    std::string configPath;
    bool plan = false;
    try {
        if (!readArguments(argc, argv, configPath, plan)) {
            std::cerr << kUsageLine << '\n';
            return 1;
        }
    } catch (const std::exception& e) {
        std::cerr << runMessage(RunMessage::NoDefaultConfig, {e.what()}) << '\n';
        std::cerr << kUsageLine << '\n';
        return 1;
    }

    // A plan writes nothing: its log goes to standard output only.
    try {
        if (!plan) {
            Logger::instance().init("logs", "render");
        }
    } catch (const std::exception& e) {
        std::cerr << runMessage(RunMessage::CannotCreateLogFolder, {e.what()}) << '\n';
        return 1;
    }

    Logger& log = Logger::instance();
    log.info("Using config: " + configPath);

    RenderConfig config;
    if (!loadRenderConfig(config, configPath)) {
        log.error(runMessage(RunMessage::InvalidConfig));
        std::cerr << kUsageLine << '\n';
        return 1;
    }
    printConfigSummary(config);
    return plan ? runPlan(config) : runRenderTask(std::move(config));
}

}  // namespace vistrel
