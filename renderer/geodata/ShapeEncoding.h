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
// UTF-8, and "GB18030" when not, the encoding of Chinese GIS data.
std::optional<std::string> undeclaredShapefileEncoding(const std::string& shpPath);

// True when `bytes` is valid UTF-8, allowing a sequence cut off at the very
// end (fixed-width DBF fields cut multi-byte text at a byte count).
bool isUtf8AllowingCutEnd(const char* bytes, std::size_t size);

// The same test over the field names and text fields of a .dbf held in
// memory or streamed from a file (reads at most what the header declares).
bool dbfTextIsUtf8(std::istream& dbf);

// Records of the shapefile's .dbf marked deleted ("*"), which GDAL counts in
// a layer's feature count but does not deliver; 0 without a readable .dbf.
long long deletedDbfRecords(const std::string& shpPath);

}  // namespace vistrel
