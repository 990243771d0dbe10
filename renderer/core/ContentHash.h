#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct XXH3_state_s;

namespace vistrel {

// What identifies the bytes of a finished file: its length and a fast 64-bit
// XXH3 hash of its contents (not a cryptographic one: it tells a changed or
// truncated file from the one written, nothing more).
struct FileDigest {
    std::uint64_t size = 0;
    std::uint64_t hash = 0;
};

// Hashes bytes handed over piece by piece; the result does not depend on how
// the bytes are split.
class ContentHasher {
public:
    ContentHasher();
    ~ContentHasher();
    ContentHasher(const ContentHasher&) = delete;
    ContentHasher& operator=(const ContentHasher&) = delete;

    // Starts over, as if nothing had been added.
    void reset();
    void add(const void* data, std::size_t size);
    // Length and hash of everything added since the start.
    FileDigest digest() const;

private:
    XXH3_state_s* state_;
    std::uint64_t size_ = 0;
};

// Digest of the file open for reading at `fd`, read from its first byte to
// its end through the descriptor (its file position is left alone), the same
// way the writers hash the bytes they write. False, with the system's reason
// in `reason` when given, when it cannot be read.
bool hashOpenFile(int fd, FileDigest& digest, std::string* reason = nullptr);

// The hash as 16 lower-case hexadecimal digits.
std::string formatContentHash(std::uint64_t hash);

// The 64-bit FNV-1a hash of `text`: the batch fingerprint journals store
// (their lines name a batch by it, so it stays this hash, not XXH3).
std::uint64_t textFingerprint(const std::string& text);
// Reads a hash of exactly 16 hexadecimal digits (either case); false for any
// other text.
bool parseContentHash(const std::string& text, std::uint64_t& hash);

}  // namespace vistrel
