#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace vistrel {

enum class FileRead {
    Read,  // `bytes` holds the whole file
    Missing,  // nothing there, or its size cannot be had
    NotRegular,  // a folder, a device, a pipe...
    TooLarge,  // larger than the limit
    Unreadable,  // could not be opened or read to its end
};

// Reads the whole of a regular file of at most `limit` bytes into `bytes`.
// Nothing is read from anything but a regular file.
FileRead readRegularFile(const std::filesystem::path& file, std::uintmax_t limit, std::string& bytes);

}  // namespace vistrel
