#include "support/SampleData.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>

namespace testsupport {

std::filesystem::path sampleDir()
{
    return std::filesystem::path(VISTREL_SAMPLE_DIR);
}

const nlohmann::json& truth()
{
    static const nlohmann::json manifest = [] {
        std::ifstream in(sampleDir() / "truth.json");
        if (!in) {
            throw std::runtime_error("no truth.json in " + sampleDir().string() + " (build the sample_city target)");
        }
        return nlohmann::json::parse(in);
    }();
    return manifest;
}

const nlohmann::json& frameByRole(const std::string& role)
{
    for (const nlohmann::json& frame : truth().at("frames")) {
        if (frame.at("role") == role) {
            return frame;
        }
    }
    throw std::runtime_error("no frame with role " + role);
}

std::vector<std::string> uniqueFrameNames()
{
    std::vector<std::string> names;
    std::map<std::string, int> counts;
    for (const auto& frame : truth().at("frames")) {
        const std::string name = frame.at("name");
        const int count = ++counts[name];
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "_%04d", count);
        names.push_back(count > 1 ? name + suffix : name);
    }
    return names;
}

vistrel::FrameReadOptions sampleParcels()
{
    vistrel::FrameReadOptions options;
    options.path = (sampleDir() / "parcels.shp").string();
    options.fieldNames = {"ZDDM", "FWBH"};
    return options;
}

}  // namespace testsupport
