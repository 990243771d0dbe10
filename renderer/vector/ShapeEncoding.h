#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <string>

namespace vistrel {

// The text encoding to open a shapefile with. Empty (no value) when the
// shapefile declares its encoding, through a non-empty .cpg or the DBF's
// language driver byte: GDAL then maps and decodes it itself. Otherwise ""
// (no recoding) when every field name and text value of the .dbf is valid
// UTF-8 (core/DbfText.h), and kUndeclaredLegacyEncoding when not.
std::optional<std::string> undeclaredShapefileEncoding(const std::string& shpPath);

// Records of the shapefile's .dbf marked deleted ("*"), which GDAL counts in
// a layer's feature count but does not deliver; 0 without a readable .dbf.
long long deletedDbfRecords(const std::string& shpPath);

}  // namespace vistrel
