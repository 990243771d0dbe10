#pragma once

// truth.json: what the sample contains and what a correct renderer must
// measure on it. End-to-end tests read their expectations from here.

#include "CityLayout.h"
#include "GroundTruth.h"
#include "OriginFiles.h"

#include <nlohmann/json.hpp>

#include <array>
#include <string>
#include <vector>

namespace samplecity {

struct TileEntry {
    std::string name;
    std::vector<std::string> files;  // relative to the output folder, root first
};

struct SphereEntry {
    std::array<double, 3> center{};
    double radius = 0;
};

struct FrameTruth {
    int index = 0;
    const FrameSpec* spec = nullptr;
    Rect bounds;  // local
    FrameHeights heights;
    std::vector<SideOcclusion> occlusion;
};

struct ManifestInput {
    const CityLayout* city = nullptr;
    CameraSettings camera;
    std::vector<TileEntry> tiles;
    SphereEntry sceneBound;       // roots placed at the origin
    SphereEntry sceneBoundLocal;  // roots as they are
    std::vector<FrameTruth> frames;
    DsmLayout dsm;
};

nlohmann::ordered_json makeTruthManifest(const ManifestInput& input);

}  // namespace samplecity
