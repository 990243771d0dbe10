#include "core/ContentHash.h"

#include <xxhash.h>

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>
#include <vector>

namespace vistrel {

namespace {

constexpr std::size_t kReadChunkBytes = 1 << 20;

}  // namespace

ContentHasher::ContentHasher() : state_(XXH3_createState())
{
    if (!state_) {
        throw std::bad_alloc();
    }
    reset();
}

ContentHasher::~ContentHasher()
{
    XXH3_freeState(state_);
}

void ContentHasher::reset()
{
    XXH3_64bits_reset(state_);
    size_ = 0;
}

void ContentHasher::add(const void* data, std::size_t size)
{
    if (size > 0) {
        XXH3_64bits_update(state_, data, size);
        size_ += size;
    }
}

FileDigest ContentHasher::digest() const
{
    return FileDigest{size_, XXH3_64bits_digest(state_)};
}

bool hashOpenFile(int fd, FileDigest& digest, std::string* reason)
{
    ContentHasher hasher;
    std::vector<unsigned char> buffer(kReadChunkBytes);
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), offset);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (reason) {
                *reason = std::strerror(errno);
            }
            return false;
        }
        if (n == 0) {
            break;
        }
        hasher.add(buffer.data(), static_cast<std::size_t>(n));
        offset += n;
    }
    digest = hasher.digest();
    return true;
}

std::string formatContentHash(std::uint64_t hash)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, hash);
    return text;
}

bool parseContentHash(const std::string& text, std::uint64_t& hash)
{
    if (text.size() != 16 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    const char* end = text.data() + text.size();
    return std::from_chars(text.data(), end, hash, 16).ptr == end;
}

std::uint64_t textFingerprint(const std::string& text)
{
    std::uint64_t hash = 1469598103934665603ULL;
    for (const unsigned char byte : text) {
        hash = (hash ^ byte) * 1099511628211ULL;
    }
    return hash;
}

}  // namespace vistrel
