#pragma once

// The sample city as an export in a local east-north-up frame would deliver
// it: metadata.xml says <SRS>ENU:lat,lon</SRS>, the tangent point lies inside
// the city, and <SRSOrigin> is the tiles' offset inside that frame (not zero).
// Every vertex is moved from the projected system through WGS 84 geocentric
// coordinates into the frame, so the model is the same city, seen from a
// frame whose north is true north.

#include "CityLayout.h"
#include "TileHierarchy.h"

#include <array>
#include <filesystem>

namespace samplecity {

struct EnuFrame {
    double lat = 0;  // tangent point, degrees (as written in metadata.xml)
    double lon = 0;
    std::array<double, 3> srsOrigin{};  // the tiles' origin in the frame
};

EnuFrame chooseEnuFrame(const CityLayout& city);

// Moves every vertex of the tile's levels from the city's local projected
// coordinates into local ENU coordinates (ENU minus srsOrigin).
void moveTileToEnu(TileModel& tile, const CityLayout& city, const EnuFrame& frame);

void writeEnuMetadataXml(const EnuFrame& frame, const std::filesystem::path& path);

}  // namespace samplecity
