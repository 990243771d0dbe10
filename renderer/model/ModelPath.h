#pragma once

#include <filesystem>

namespace vistrel {

// The status of `path`; a missing path gives not_found, any other failure
// throws filesystem_error naming `operation`.
std::filesystem::file_status statusOrThrow(const std::filesystem::path& path, const char* operation);

// A folder given with a trailing separator still has a name.
std::filesystem::path withoutTrailingSeparator(const std::filesystem::path& path);

}  // namespace vistrel
