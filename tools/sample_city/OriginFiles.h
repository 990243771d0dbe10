#pragma once

// The two files that tell where the model's local coordinates sit in the
// projected system: metadata.xml (the usual export) and a binary Data.dsm
// (what some exports carry instead), where the origin is the last pair of
// little-endian doubles that looks like a projected position.

#include "CityLayout.h"

#include <filesystem>
#include <optional>
#include <string>

namespace samplecity {

void writeMetadataXml(const CityLayout& city, const std::filesystem::path& path);

struct DsmLayout {
    double decoyX = 0;  // an earlier pair that also looks like a position
    double decoyY = 0;
};

// Writes the file and checks that a scan of it finds the origin. Throws on
// failure.
DsmLayout writeDsmOrigin(const CityLayout& city, const std::filesystem::path& path);

struct ScannedPosition {
    double x = 0;
    double y = 0;
};

// The last byte window (x at i, y at i + 8, little-endian doubles) with both
// values finite, 100 000 <= |x| <= 10 000 000 and 1 000 000 <= |y| <= 10 000 000.
std::optional<ScannedPosition> lastPositionWindow(const std::string& bytes);

}  // namespace samplecity
