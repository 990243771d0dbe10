#pragma once

// A county for measuring the renderer at scale: `columns` x `rows` tiles of
// the sample city's kind (three levels each), ten parcels per tile. It stays
// small on disk: the eight tiles of the sample city serve as designs whose
// finer levels are written once into county/shared, and every tile's root
// file places one design with a translation and pages those shared files.
//
//   county/metadata.xml
//   county/shared/D<k>_L18_0.osgb, D<k>_L19_0<q>.osgb
//   county/Data/Tile_+iii_+jjj/Tile_+iii_+jjj.osgb
//   county_parcels.shp (.dbf, .shx, .prj, .cpg): fields ZDDM, FWBH

#include "CityLayout.h"

#include <filesystem>

namespace samplecity {

struct CountySize {
    int columns = 0;
    int rows = 0;
};

// Reads "100x100"; false for anything else (each side 1..1000).
bool parseCountySize(const std::string& text, CountySize& size);

// Writes the county into `out`. Throws on a failed write.
void writeCounty(const CityLayout& city, const CountySize& size, const std::filesystem::path& out);

}  // namespace samplecity
