#pragma once

// Multi-byte values in a stated byte order, whatever the machine's own.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

namespace vistrel {

// Reverses the `size` bytes at `value` in place.
inline void reverseBytes(void* value, std::size_t size)
{
    auto* bytes = static_cast<unsigned char*>(value);
    for (std::size_t i = 0; i < size / 2; ++i) {
        std::swap(bytes[i], bytes[size - 1 - i]);
    }
}

inline std::uint32_t reversedBytes(std::uint32_t value)
{
    reverseBytes(&value, sizeof value);
    return value;
}

// An unsigned number stored in `count` (at most 4) bytes, most significant first.
inline std::uint32_t readBigEndian(const unsigned char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

// An IEEE double stored least significant byte first.
inline double readLittleEndianDouble(const unsigned char* bytes)
{
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) {
        bits = (bits << 8) | bytes[i];
    }
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace vistrel
