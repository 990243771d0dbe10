#include "SampleRun.h"

#include <gtest/gtest.h>


namespace batchtest {

nlohmann::json smallConfig(const nlohmann::json& overrides)
{
    nlohmann::json config = {
        {"osgb_path", (sampleDir() / "city").string()},
        {"shp_path", (sampleDir() / "parcels.shp").string()},
        {"output_dir", "out"},
        {"width", 320},
        {"height", 180},
        {"warmup_frames", 0},
        {"field_names", truth().at("shapefiles").at("field_names")},
        {"field_separator", truth().at("shapefiles").at("field_separator")},
        {"distance", truth().at("camera").at("distance")},
        {"angles", {"top"}},
    };
    for (const auto& [key, value] : overrides.items()) {
        config[key] = value;
    }
    return config;
}

SampleRun runVistrel(const testsupport::TempDir& dir, const nlohmann::json& config)
{
    testsupport::writeFile(dir / "render.json", config.dump(2));
    SampleRun run;
    run.process = testsupport::runProcess(testsupport::vistrelExecutable(), {(dir / "render.json").string()},
                                          dir.path(), {{"DISPLAY", ""}});
    run.outputDir = dir / config.value("output_dir", std::string("out"));
    return run;
}

SampleRun runVistrelWith(const testsupport::TempDir& dir, const std::string& name, const nlohmann::json& config,
                         const std::map<std::string, std::string>& env,
                         const std::function<void(const std::string&, int)>& watch)
{
    testsupport::writeFile(dir / name, config.dump(2));
    std::map<std::string, std::string> environment = env;
    environment["DISPLAY"] = "";
    SampleRun run;
    run.process = testsupport::runProcess(testsupport::vistrelExecutable(), {(dir / name).string()}, dir.path(),
                                          environment, 600, watch);
    run.outputDir = dir / config.value("output_dir", std::string("out"));
    return run;
}

std::map<std::string, std::string> pngFilesBelow(const fs::path& root)
{
    std::map<std::string, std::string> images;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && entry.path().extension() == ".png") {
            images[fs::relative(entry.path(), root).string()] = testsupport::readFile(entry.path());
        }
    }
    return images;
}

}  // namespace batchtest
