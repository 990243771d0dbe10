#pragma once

// The generator writes into a staging folder beside the target and renames
// it into place at the end, so an interrupted run never leaves a city that
// looks complete. An existing target is replaced only when it is empty or
// an earlier sample city (it has truth.json and city/); anything else is
// left alone and the run fails.

#include <filesystem>

namespace samplecity {

struct OutputFolder {
    std::filesystem::path target;
    std::filesystem::path staging;
};

// Creates an empty staging folder. Throws when the target or a stale
// staging folder holds something that is not ours.
OutputFolder prepareOutputFolder(const std::filesystem::path& target);

// Replaces the target with the staging folder.
void publishOutputFolder(const OutputFolder& folder);

// Removes the staging folder; never throws.
void discardOutputFolder(const OutputFolder& folder) noexcept;

}  // namespace samplecity
