#pragma once

// The text of a dBASE table (a shapefile's .dbf) and the encoding it has when
// it declares none: read by the renderer's frame reader and by Tavrin's field
// list alike, so that both name the fields the same way.

#include <cstddef>
#include <istream>

namespace vistrel {

// The encoding of shapefile text that declares none and is not UTF-8: that of
// Chinese GIS data (GB18030, a superset of GBK).
inline constexpr const char* kUndeclaredLegacyEncoding = "GB18030";

// True when `bytes` is valid UTF-8, allowing a sequence cut off at the very
// end (fixed-width DBF fields cut multi-byte text at a byte count).
bool isUtf8AllowingCutEnd(const char* bytes, std::size_t size);

// The same test over the field names and text fields of a .dbf held in
// memory or streamed from a file (reads at most what the header declares).
bool dbfTextIsUtf8(std::istream& dbf);

}  // namespace vistrel
