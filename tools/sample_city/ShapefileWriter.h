#pragma once

// The sample's shapefiles, written through GDAL/OGR as a survey office
// would deliver them: UTF-8 attributes with a .cpg, CGCS2000 3-degree
// Gauss-Kruger zone 38 coordinates whose x carries the zone number.

#include "CityLayout.h"

#include <filesystem>

namespace samplecity {

// parcels.shp: one polygon or multipolygon feature per frame, attributes
// ZDDM, FWBH, NAME, CS.
void writeParcelShapefile(const CityLayout& city, const std::filesystem::path& path);

// lines.shp: road centre lines, line features only.
void writeLineShapefile(const CityLayout& city, const std::filesystem::path& path);

}  // namespace samplecity
