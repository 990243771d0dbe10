#include "core/PathBelow.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

// `path` relative to the output folder, or empty when it lies elsewhere.
fs::path partBelow(const fs::path& path, const std::string& outputDir)
{
    if (outputDir.empty()) {
        return {};
    }
    const fs::path root = fs::path(outputDir).lexically_normal();
    const fs::path below = path.lexically_normal().lexically_relative(root);
    if (!root.is_absolute() || below.empty() || *below.begin() == ".." || !below.is_relative()) {
        return {};
    }
    return below;
}

}  // namespace

std::string makeFolderBelow(const fs::path& folder, const std::string& outputDir)
{
    const fs::path below = partBelow(folder, outputDir);
    std::error_code ec;
    if (below.empty() || below == ".") {
        fs::create_directories(below.empty() ? folder : fs::path(outputDir), ec);
        if (ec) {
            throw fs::filesystem_error("create_directories", folder, ec);
        }
        return std::string();
    }
    const fs::path root = fs::path(outputDir).lexically_normal();
    fs::create_directories(root, ec);
    if (ec) {
        throw fs::filesystem_error("create_directories", root, ec);
    }
    fs::path current = root;
    for (const fs::path& part : below) {
        if (part == "." || part.empty()) {
            continue;
        }
        current /= part;
        const fs::file_status status = fs::symlink_status(current, ec);
        if (fs::is_symlink(status)) {
            return current.string();
        }
        if (!fs::exists(status)) {
            fs::create_directory(current, ec);
            const fs::file_status made = fs::symlink_status(current);
            if (fs::is_symlink(made)) {
                return current.string();
            }
            if (ec && !fs::is_directory(made)) {
                throw fs::filesystem_error("create_directories", current, ec);
            }
        } else if (!fs::is_directory(status)) {
            throw fs::filesystem_error("create_directories", current, std::make_error_code(std::errc::not_a_directory));
        }
    }
    return std::string();
}

int openRegularBelow(const std::string& outputDir, const std::string& path, std::string& why)
{
    const fs::path below = partBelow(path, outputDir);
    if (below.empty() || below == ".") {
        why = path + " is not below the output folder";
        return -1;
    }
    int folder = ::open(fs::path(outputDir).lexically_normal().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    fs::path reached = fs::path(outputDir).lexically_normal();
    if (folder < 0) {
        why = reached.string() + ": " + std::strerror(errno);
        return -1;
    }
    std::vector<fs::path> parts(below.begin(), below.end());
    for (std::size_t i = 0; folder >= 0 && i < parts.size(); ++i) {
        reached /= parts[i];
        const bool last = i + 1 == parts.size();
        const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (last ? O_NONBLOCK : O_DIRECTORY);
        const int next = ::openat(folder, parts[i].c_str(), flags);
        const int error = errno;
        struct stat entry {};
        const bool link =
            next < 0 && ::fstatat(folder, parts[i].c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(entry.st_mode);
        ::close(folder);
        folder = next;
        if (next < 0) {
            why = link               ? reached.string() + " is a symbolic link"
                  : error == ENOTDIR ? reached.string() + " is not a folder"
                                     : reached.string() + ": " + std::strerror(error);
            return -1;
        }
    }
    struct stat info {};
    if (folder >= 0 && (::fstat(folder, &info) != 0 || !S_ISREG(info.st_mode))) {
        why = path + " is not a regular file";
        ::close(folder);
        return -1;
    }
    return folder;
}

}  // namespace vistrel
