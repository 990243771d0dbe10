#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace vistrel {

// The model origin that the tiles' local coordinates are relative to.
struct SceneOrigin {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    std::string sourcePath;  // the file the origin came from
    std::string srs;  // SRS text of metadata.xml; empty for .dsm origins
    bool valid = false;
    std::string problem;  // why a metadata.xml gave no origin (no usable SRSOrigin element)
};

// The origin of the model at `path` (a project folder, a Data folder, a tile
// folder or one .osgb file): from metadata.xml in its folder or the one
// above, else from a .dsm file there. The origin found is logged; a candidate
// that is not a regular file is skipped with a warning. Invalid when none is
// found.
SceneOrigin readSceneOrigin(const std::filesystem::path& path);
// Searches the SRSOrigin (and SRS) elements of metadata.xml, a regular file
// of at most 16 MB (a larger one is skipped with a warning). A malformed
// number, or one beyond 1e8 in magnitude, throws std::invalid_argument naming
// the file, the element and the number. Without an SRSOrigin element of three
// numbers the origin is invalid and `problem` says why (readSceneOrigin logs
// it as a WARN, naming the SRS that is then not used).
SceneOrigin parseMetadataOrigin(const std::filesystem::path& file);
// The same search over the file's text; `sourcePath` stays empty.
SceneOrigin parseMetadataText(const std::string& text);
// The last window of two little-endian doubles that looks like a projected
// origin (100 000 <= |x| <= 10 000 000, 1 000 000 <= |y| <= 10 000 000).
SceneOrigin scanDsmOrigin(const std::filesystem::path& file);
// The same scan over bytes in memory; `sourcePath` stays empty.
SceneOrigin scanDsmBytes(const unsigned char* bytes, std::size_t size);

}  // namespace vistrel
