#pragma once

// The parcels as a GeoPackage in WGS 84 longitude/latitude, as an office
// working in GIS might deliver them beside a projected model.

#include "CityLayout.h"

#include <filesystem>

namespace samplecity {

// One layer "parcels" (EPSG:4326) with the frames of parcels.shp, moved
// from the shapefile's system, and the attributes ZDDM, FWBH, NAME, CS.
void writeParcelGeoPackage(const CityLayout& city, const std::filesystem::path& path);

}  // namespace samplecity
