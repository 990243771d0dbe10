#include "output/StagedFile.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

// Keeps "." + name + unique part + ".tmp" within the usual 255-byte name limit.
constexpr std::size_t kMaxNameStemBytes = 200;

// A hidden name beside the final one: ".<name>.<pid>-<serial>.tmp".
std::string temporaryName(const std::string& fileName, unsigned serial)
{
    return "." + fileName.substr(0, kMaxNameStemBytes) + "." + std::to_string(::getpid()) + "-" +
           std::to_string(serial) + ".tmp";
}

}  // namespace

StagedFile::StagedFile(std::string finalPath) : finalPath_(std::move(finalPath))
{
}

StagedFile::~StagedFile()
{
    discard();
}

bool StagedFile::open()
{
    discard();
    static std::atomic<unsigned> serial{0};
    const fs::path target(finalPath_);
    const fs::path folder = target.parent_path();
    const std::string fileName = target.filename().string();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = folder / temporaryName(fileName, serial++);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        tempPath_ = candidate.string();
        pending_ = true;
        stream_ = ::fdopen(fd, "wb");
        if (!stream_) {
            ::close(fd);
            discard();
            return false;
        }
        return true;
    }
    return false;
}

bool StagedFile::commit()
{
    if (!pending_ || !stream_) {
        return false;
    }
    const bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_);
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!flushed || !closed || std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
        discard();
        return false;
    }
    pending_ = false;
    return true;
}

void StagedFile::discard()
{
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (pending_) {
        ::unlink(tempPath_.c_str());
        pending_ = false;
    }
}

}  // namespace vistrel
