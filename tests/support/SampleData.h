#pragma once

#include "vector/PolygonFrameReader.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

// The sample city the build generates into build/sample, and its manifest.
namespace testsupport {

std::filesystem::path sampleDir();

// truth.json of sampleDir(), parsed once. Throws when the city is missing.
const nlohmann::json& truth();

// The first manifest frame with `role`; throws when there is none.
const nlohmann::json& frameByRole(const std::string& role);

// The frames' names made unique the way the frame reader does it
// (_0002 from the second occurrence on), in manifest order.
std::vector<std::string> uniqueFrameNames();

// The sample's parcels.shp, its frames named by ZDDM and FWBH.
vistrel::FrameReadOptions sampleParcels();

}  // namespace testsupport
