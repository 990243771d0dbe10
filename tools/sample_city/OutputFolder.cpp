#include "OutputFolder.h"

#include <fstream>
#include <stdexcept>

namespace samplecity {

namespace fs = std::filesystem;

namespace {

// Marks a staging folder as ours, so a stale one may be removed.
constexpr const char* kStagingMarker = ".make_sample_city-staging";

bool isEmptyFolder(const fs::path& path) { return fs::is_directory(path) && fs::is_empty(path); }

bool isSampleCity(const fs::path& path)
{
    return fs::is_directory(path) && fs::is_regular_file(path / "truth.json") && fs::is_directory(path / "city");
}

}  // namespace

OutputFolder prepareOutputFolder(const fs::path& target)
{
    OutputFolder folder;
    folder.target = fs::absolute(target).lexically_normal();
    if (!folder.target.has_filename()) {
        folder.target = folder.target.parent_path();  // "out/" names the folder "out"
    }
    if (folder.target == folder.target.root_path()) {
        throw std::runtime_error("refusing to write the sample city over " + folder.target.string());
    }
    folder.staging = folder.target;
    folder.staging += ".tmp";

    if (fs::exists(folder.target) && !isEmptyFolder(folder.target) && !isSampleCity(folder.target)) {
        throw std::runtime_error(folder.target.string() +
                                 " exists and is not a sample city; remove it or choose another folder");
    }
    if (fs::exists(folder.staging)) {
        if (!isEmptyFolder(folder.staging) && !fs::exists(folder.staging / kStagingMarker)) {
            throw std::runtime_error(folder.staging.string() + " exists and was not left by this tool; remove it first");
        }
        fs::remove_all(folder.staging);
    }
    fs::create_directories(folder.staging);
    std::ofstream marker(folder.staging / kStagingMarker);
    marker << "staging folder of make_sample_city\n";
    if (!marker) {
        throw std::runtime_error("cannot write into " + folder.staging.string());
    }
    return folder;
}

void publishOutputFolder(const OutputFolder& folder)
{
    fs::remove(folder.staging / kStagingMarker);
    if (fs::exists(folder.target)) {
        fs::remove_all(folder.target);
    }
    fs::rename(folder.staging, folder.target);
}

void discardOutputFolder(const OutputFolder& folder) noexcept
{
    std::error_code ignored;
    if (!folder.staging.empty()) {
        fs::remove_all(folder.staging, ignored);
    }
}

}  // namespace samplecity
