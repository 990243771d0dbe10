#pragma once

// The sample city as 3D Tiles 1.1, the same city as the ENU model: its
// tiles' meshes (already moved into the ENU frame) as glb content, one tile
// per level node of the OSGB tiles, under a root whose transform takes the
// ENU frame at the tangent point to WGS 84 geocentric coordinates.
//
//   root (no content)                    every tile of the city
//     Tile_+000_+000.glb                 L17, whole tile
//       Tile_+000_+000_L18_0<q>.glb      L18, quadrant q (0 SW, 1 SE, 2 NW, 3 NE)
//         Tile_+000_+000_L19_0<q>.glb    L19, quadrant q
//
// Refinement is REPLACE and every bounding volume a box. A tile's
// geometricError is the picture scale (metres per pixel) at which the OSGB
// PagedLOD of its level pages in the finer file, so that with a maximum
// screen-space error of 1 pixel both models switch levels at the same scale.

#include "EnuModel.h"
#include "GltfContent.h"
#include "TileHierarchy.h"

#include <array>
#include <filesystem>
#include <vector>

namespace samplecity {

// ENU at (lat, lon, height 0) to WGS 84 geocentric, column-major as a
// tileset's transform.
std::array<double, 16> enuToEcef(double latDegrees, double lonDegrees);

// Writes tileset.json and Data/<tile>/*.glb into `folder`. Throws on a
// failed write.
void writeTileset(const std::vector<TileModel>& tiles, const EnuFrame& frame, const std::filesystem::path& folder,
                  const GlbOptions& options, TextureCoder& textures);

}  // namespace samplecity
