#include "SampleRun.h"

#include <gtest/gtest.h>

#include <fstream>

namespace batchtest {

fs::path sampleDir()
{
    return fs::path(VISTREL_SAMPLE_DIR);
}

const nlohmann::json& truth()
{
    static const nlohmann::json manifest = [] {
        std::ifstream in(sampleDir() / "truth.json");
        if (!in) {
            return nlohmann::json();
        }
        return nlohmann::json::parse(in);
    }();
    return manifest;
}

const nlohmann::json& frameByRole(const std::string& role)
{
    for (const auto& frame : truth().at("frames")) {
        if (frame.at("role") == role) {
            return frame;
        }
    }
    throw std::runtime_error("no frame with role " + role);
}

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

}  // namespace batchtest
