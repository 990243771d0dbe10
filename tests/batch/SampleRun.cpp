#include "SampleRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace batchtest {

using testsupport::DecodedPng;

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

bool isMagenta(const unsigned char* p)
{
    return p[0] > 170 && p[1] < 80 && p[2] > 190;
}

nlohmann::json outlineConfig(const nlohmann::json& overrides)
{
    nlohmann::json config = smallConfig({{"output_top_range", true},
                                         {"range_line_color", "magenta"},
                                         {"range_line_width", 1},
                                         {"width", 480},
                                         {"height", 270}});
    for (const auto& [key, value] : overrides.items()) {
        config[key] = value;
    }
    return config;
}

double psnr(const DecodedPng& a, const DecodedPng& b)
{
    double sum = 0.0;
    for (std::size_t i = 0; i < a.rgba.size(); ++i) {
        if (i % 4 != 3) {
            const double d = static_cast<double>(a.rgba[i]) - b.rgba[i];
            sum += d * d;
        }
    }
    const double mse = sum / (a.rgba.size() / 4 * 3);
    return mse == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// The largest distance, in pixels along x or y (a diagonal neighbour is 1
// away), from an outline pixel of either image to the nearest outline pixel
// of the other (capped at 10).
double outlineOffset(const DecodedPng& a, const DecodedPng& b)
{
    double largest = 0.0;
    for (const auto& [from, to] : {std::pair{&a, &b}, std::pair{&b, &a}}) {
        for (int y = 0; y < from->height; ++y) {
            for (int x = 0; x < from->width; ++x) {
                if (!isMagenta(from->pixel(x, y))) {
                    continue;
                }
                double nearest = 10.0;
                for (int dy = -10; dy <= 10; ++dy) {
                    for (int dx = -10; dx <= 10; ++dx) {
                        const int qx = x + dx;
                        const int qy = y + dy;
                        if (qx >= 0 && qy >= 0 && qx < to->width && qy < to->height && isMagenta(to->pixel(qx, qy))) {
                            nearest = std::min(nearest, static_cast<double>(std::max(std::abs(dx), std::abs(dy))));
                        }
                    }
                }
                largest = std::max(largest, nearest);
            }
        }
    }
    return largest;
}

}  // namespace batchtest
