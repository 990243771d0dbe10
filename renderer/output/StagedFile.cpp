#include "output/StagedFile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

// Keeps "." + name + marker + ".tmp" within the usual 255-byte name limit.
constexpr std::size_t kMaxNameStemBytes = 160;
constexpr const char* kMarker = ".vistrel-";
constexpr const char* kSuffix = ".tmp";

// This machine's name as it goes into temporary names: letters, digits, "."
// and "_" only, so the name parses back unambiguously.
const std::string& hostTag()
{
    static const std::string tag = [] {
        char name[256] = {};
        if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
            return std::string("localhost");
        }
        std::string text(name);
        for (char& c : text) {
            const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.';
            if (!plain) {
                c = '_';
            }
        }
        return text.substr(0, 48);
    }();
    return tag;
}

std::string temporaryName(const std::string& fileName, unsigned serial)
{
    return "." + fileName.substr(0, kMaxNameStemBytes) + kMarker + hostTag() + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(serial) + kSuffix;
}

bool allDigits(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

struct TemporaryOwner {
    std::string host;
    long pid = 0;
};

// The owner named by a temporary file name, or false for any other name.
bool parseTemporaryName(const std::string& name, TemporaryOwner& owner)
{
    const std::size_t suffixLength = std::strlen(kSuffix);
    if (name.size() < 2 + suffixLength || name[0] != '.' ||
        name.compare(name.size() - suffixLength, suffixLength, kSuffix) != 0) {
        return false;
    }
    const std::string body = name.substr(0, name.size() - suffixLength);
    const std::size_t marker = body.rfind(kMarker);
    if (marker == std::string::npos || marker == 0) {
        return false;
    }
    const std::string tail = body.substr(marker + std::strlen(kMarker));  // host-pid-serial
    const std::size_t serialDash = tail.rfind('-');
    if (serialDash == std::string::npos || !allDigits(tail.substr(serialDash + 1))) {
        return false;
    }
    const std::size_t pidDash = tail.rfind('-', serialDash - 1);
    if (pidDash == std::string::npos || pidDash == 0 || serialDash == 0) {
        return false;
    }
    const std::string pid = tail.substr(pidDash + 1, serialDash - pidDash - 1);
    if (!allDigits(pid) || pid.size() > 9) {
        return false;
    }
    owner.host = tail.substr(0, pidDash);
    owner.pid = std::stol(pid);
    return true;
}

bool processAlive(long pid)
{
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

std::string reasonOf(int errorNumber)
{
    return std::strerror(errorNumber);
}

}  // namespace

StagedFile::StagedFile(std::string finalPath) : finalPath_(std::move(finalPath))
{
}

StagedFile::~StagedFile()
{
    discard();
}

void StagedFile::fail(int errorNumber)
{
    if (error_.empty()) {
        error_ = reasonOf(errorNumber);
    }
}

long StagedFile::writeToFile(void* cookie, const char* data, unsigned long size)
{
    auto* self = static_cast<StagedFile*>(cookie);
    unsigned long done = 0;
    while (done < size) {
        const ssize_t n = ::write(self->fd_, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            // A stream's write function reports an error by writing less,
            // 0 at worst: the C library would take -1 for a byte count.
            const int error = errno;
            self->fail(error);
            errno = error;
            return static_cast<long>(done);
        }
        self->hasher_.add(data + done, static_cast<std::size_t>(n));
        done += static_cast<unsigned long>(n);
    }
    return static_cast<long>(done);
}

bool StagedFile::open()
{
    discard();
    error_.clear();
    hasher_.reset();
    static std::atomic<unsigned> serial{0};
    const fs::path target(finalPath_);
    const fs::path folder = target.parent_path();
    const std::string fileName = target.filename().string();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = folder / temporaryName(fileName, serial++);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            fail(errno);
            return false;
        }
        tempPath_ = candidate.string();
        pending_ = true;
        fd_ = fd;
        // The stream writes through writeToFile, which keeps the system's
        // reason when a write fails (a full disk, a file size limit).
        cookie_io_functions_t functions{};
        functions.write = [](void* cookie, const char* data, size_t size) -> ssize_t {
            return static_cast<ssize_t>(writeToFile(cookie, data, size));
        };
        stream_ = ::fopencookie(this, "wb", functions);
        if (!stream_) {
            fail(errno);
            discard();
            return false;
        }
        return true;
    }
    fail(EEXIST);
    return false;
}

bool StagedFile::commit()
{
    if (!pending_ || !stream_) {
        return false;
    }
    bool ok = std::fflush(stream_) == 0 && !std::ferror(stream_);
    std::fclose(stream_);
    stream_ = nullptr;
    if (ok && ::fsync(fd_) != 0) {
        fail(errno);
        ok = false;
    }
    if (::close(fd_) != 0 && ok) {
        fail(errno);
        ok = false;
    }
    fd_ = -1;
    if (ok && std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
        fail(errno);
        ok = false;
    }
    if (!ok) {
        if (error_.empty()) {
            error_ = "write error";
        }
        discard();
        return false;
    }
    pending_ = false;
    // The rename itself reaches the disk with the folder.
    const std::string folder = fs::path(finalPath_).parent_path().string();
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void StagedFile::discard()
{
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (pending_) {
        ::unlink(tempPath_.c_str());
        pending_ = false;
    }
}

int removeStaleTemporaryFiles(const std::string& root, double foreignAgeHours)
{
    int removed = 0;
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
    const auto now = fs::file_time_type::clock::now();
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        TemporaryOwner owner;
        std::error_code statusError;
        if (!it->is_regular_file(statusError) || it->is_symlink(statusError) ||
            !parseTemporaryName(it->path().filename().string(), owner)) {
            continue;
        }
        bool stale = false;
        if (owner.host == hostTag()) {
            stale = owner.pid != ::getpid() && !processAlive(owner.pid);
        } else {
            const auto written = fs::last_write_time(it->path(), statusError);
            stale = !statusError &&
                    std::chrono::duration<double, std::ratio<3600>>(now - written).count() > foreignAgeHours;
        }
        if (stale && fs::remove(it->path(), statusError)) {
            ++removed;
        }
    }
    return removed;
}

}  // namespace vistrel
