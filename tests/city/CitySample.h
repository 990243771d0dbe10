#pragma once

// Access to the generated sample city for its tests: the manifest, the
// model loaded the way the renderer loads it, and ray tests against it.

#include "support/SampleData.h"

#include <nlohmann/json.hpp>
#include <osg/Node>
#include <osg/ref_ptr>

#include <filesystem>
#include <string>
#include <vector>

namespace citytest {

namespace fs = std::filesystem;

using testsupport::frameByRole;
using testsupport::sampleDir;
using testsupport::truth;

struct Bounds {
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
};
Bounds frameBounds(const nlohmann::json& frame);

// The root file of every tile of `modelDir` (a folder with Data/), read
// with the origin translation from the manifest above them. With
// `pageEverything`, every PagedLOD child file is read in as well, as if a
// renderer had come close to every tile.
osg::ref_ptr<osg::Node> loadScene(const fs::path& modelDir, bool pageEverything);

// Reads every PagedLOD child file below `node` from the PagedLOD's database
// path, recursively. Returns the paths it read.
std::vector<std::string> pageInChildren(osg::Node& node);

// z of every surface a vertical line at (x, y) crosses, lowest first.
std::vector<double> verticalHits(osg::Node& scene, double x, double y);

// The renderer's occlusion test of one frame: how many of the five sight
// segments towards the frame hit the model, for a side key and view angle.
// `step` is the tested share of each line; 0 takes the manifest's.
int blockedSightLines(osg::Node& scene, const nlohmann::json& frame, const std::string& side, double angle,
                      double step = 0.0);

}  // namespace citytest
