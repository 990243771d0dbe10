#pragma once

// Cross-check of the written meshes against the layout the ground truth is
// computed from: along every vertical sample line, each level of detail must
// have exactly the surfaces the layout predicts, and no line may run along a
// triangle edge (where a ray test could count a surface twice or not at all).

#include "CityLayout.h"
#include "TileHierarchy.h"

#include <vector>

namespace samplecity {

// Throws std::runtime_error naming the first disagreement.
void checkMeshesAgree(const CityLayout& city, const std::vector<TileModel>& tiles, const std::vector<Point2>& lines);

}  // namespace samplecity
