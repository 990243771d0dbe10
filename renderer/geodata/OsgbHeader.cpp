#include "geodata/OsgbHeader.h"

#include "core/ByteOrder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace vistrel {

namespace {

constexpr std::uint32_t kHeaderLow = 0x6C910EA1;
constexpr std::uint32_t kHeaderHigh = 0x1AFB4545;
constexpr std::uint32_t kSceneType = 1;
constexpr std::uint32_t kMaxClassName = 256;

// Reads the header fields of a .osgb in the file's byte order.
class HeaderReader {
public:
    explicit HeaderReader(const std::string& bytes) : bytes_(bytes) {}

    void setSwapped(bool swapped) { swapped_ = swapped; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return bytes_.size() - pos_; }

    bool readUInt(std::uint32_t& value)
    {
        if (remaining() < 4) {
            return false;
        }
        std::memcpy(&value, bytes_.data() + pos_, 4);
        pos_ += 4;
        if (swapped_) {
            value = reversedBytes(value);
        }
        return true;
    }

    // A length-prefixed string of at most `limit` bytes.
    bool readString(std::string& text, std::uint32_t limit)
    {
        std::uint32_t size = 0;
        if (!readUInt(size) || size > limit || size > remaining()) {
            return false;
        }
        text.assign(bytes_, pos_, size);
        pos_ += size;
        return true;
    }

private:
    const std::string& bytes_;
    std::size_t pos_ = 0;
    bool swapped_ = false;
};

}  // namespace

OsgbLayout readOsgbLayout(const std::string& bytes)
{
    OsgbLayout layout;
    HeaderReader in(bytes);
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    if (!in.readUInt(low) || !in.readUInt(high)) {
        layout.problem = "too short for a .osgb header";
        return layout;
    }
    if (low == reversedBytes(kHeaderHigh) && high == reversedBytes(kHeaderLow)) {
        layout.swapped = true;
        in.setSwapped(true);
    } else if (low != kHeaderLow || high != kHeaderHigh) {
        layout.problem = "not an OpenSceneGraph binary file";
        return layout;
    }
    std::uint32_t type = 0;
    std::uint32_t version = 0;
    std::uint32_t attributes = 0;
    if (!in.readUInt(type) || !in.readUInt(version) || !in.readUInt(attributes)) {
        layout.problem = "ends inside its header";
        return layout;
    }
    if (type != kSceneType) {
        layout.problem = "holds no scene";
        return layout;
    }
    if (attributes & 0x2) {
        // A schema in the file would rearrange the reader's tables for
        // every file read after it.
        layout.problem = "carries its own schema";
        return layout;
    }
    if (attributes & 0x1) {
        std::uint32_t domains = 0;
        if (!in.readUInt(domains) || domains > in.remaining() / 8) {
            layout.problem = "declares more domains than it holds";
            return layout;
        }
        for (std::uint32_t i = 0; i < domains; ++i) {
            std::string name;
            std::uint32_t domainVersion = 0;
            if (!in.readString(name, kMaxClassName) || !in.readUInt(domainVersion)) {
                layout.problem = "ends inside its domain list";
                return layout;
            }
        }
    }
    layout.compressorAt = in.position();
    if (!in.readString(layout.compressor, 64)) {
        layout.problem = "ends inside its compressor name";
        return layout;
    }
    layout.bodyAt = in.position();
    if (layout.compressor != "0" && layout.compressor != "zlib") {
        layout.problem = "unknown compressor \"" + layout.compressor + "\"";
        return layout;
    }
    if (layout.compressor == "0") {
        // The root object starts with its class name.
        std::string className;
        if (!in.readString(className, kMaxClassName) || className.empty()) {
            layout.problem = "holds no readable root object";
            return layout;
        }
    }
    return layout;
}

bool inflateOsgbBody(const char* data, std::size_t size, std::string& out, std::string& problem)
{
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 32) != Z_OK) {
        problem = "cannot start decompression";
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream.avail_in = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
    unsigned char chunk[1 << 16];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = chunk;
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        out.append(reinterpret_cast<const char*>(chunk), sizeof chunk - stream.avail_out);
        if (out.size() > kMaxTileBytes) {
            inflateEnd(&stream);
            problem = "decompresses to more than 512 MB";
            return false;
        }
        if (status == Z_BUF_ERROR && stream.avail_in == 0) {
            break;
        }
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END) {
        problem = "compressed data is damaged or truncated";
        return false;
    }
    return true;
}

std::string checkOsgbHeader(const std::string& bytes)
{
    if (bytes.size() > kMaxTileBytes) {
        return "larger than 512 MB";
    }
    return readOsgbLayout(bytes).problem;
}

}  // namespace vistrel
