#include "model/ModelPath.h"

#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace vistrel {

fs::file_status statusOrThrow(const fs::path& path, const char* operation)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec && status.type() != fs::file_type::not_found) {
        throw fs::filesystem_error(operation, path, ec);
    }
    return status;
}

fs::path withoutTrailingSeparator(const fs::path& path)
{
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return fs::path(text);
}

}  // namespace vistrel
