#include "core/RegularFile.h"

#include <fstream>

namespace fs = std::filesystem;

namespace vistrel {

FileRead readRegularFile(const fs::path& file, std::uintmax_t limit, std::string& bytes)
{
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (!fs::exists(status)) {
        return FileRead::Missing;
    }
    if (!fs::is_regular_file(status)) {
        return FileRead::NotRegular;
    }
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec) {
        return FileRead::Missing;
    }
    if (size > limit) {
        return FileRead::TooLarge;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        return FileRead::Unreadable;
    }
    bytes.assign(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    if (static_cast<std::uintmax_t>(in.gcount()) != size) {
        return FileRead::Unreadable;
    }
    return FileRead::Read;
}

}  // namespace vistrel
