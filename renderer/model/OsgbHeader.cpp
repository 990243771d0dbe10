#include "model/OsgbHeader.h"

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

namespace {

// The magic numbers, which also tell the byte order, and the scene header;
// the problem, or empty.
std::string readMagicAndHeader(HeaderReader& in, OsgbLayout& layout)
{
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    if (!in.readUInt(low) || !in.readUInt(high)) {
        return "too short for a .osgb header";
    }
    if (low == reversedBytes(kHeaderHigh) && high == reversedBytes(kHeaderLow)) {
        layout.swapped = true;
        in.setSwapped(true);
    } else if (low != kHeaderLow || high != kHeaderHigh) {
        return "not an OpenSceneGraph binary file";
    }
    std::uint32_t type = 0;
    std::uint32_t version = 0;
    std::uint32_t attributes = 0;
    if (!in.readUInt(type) || !in.readUInt(version) || !in.readUInt(attributes)) {
        return "ends inside its header";
    }
    if (type != kSceneType) {
        return "holds no scene";
    }
    if (attributes & 0x2) {
        // A schema in the file would rearrange the reader's tables for
        // every file read after it.
        return "carries its own schema";
    }
    if (attributes & 0x1) {
        std::uint32_t domains = 0;
        if (!in.readUInt(domains) || domains > in.remaining() / 8) {
            return "declares more domains than it holds";
        }
        for (std::uint32_t i = 0; i < domains; ++i) {
            std::string name;
            std::uint32_t domainVersion = 0;
            if (!in.readString(name, kMaxClassName) || !in.readUInt(domainVersion)) {
                return "ends inside its domain list";
            }
        }
    }
    return {};
}

// The compressor name and, for a plain body, the root object's class name.
std::string readCompressor(HeaderReader& in, OsgbLayout& layout)
{
    layout.compressorAt = in.position();
    if (!in.readString(layout.compressor, 64)) {
        return "ends inside its compressor name";
    }
    layout.bodyAt = in.position();
    if (layout.compressor != "0" && layout.compressor != "zlib") {
        return "unknown compressor \"" + layout.compressor + "\"";
    }
    if (layout.compressor == "0") {
        // The root object starts with its class name.
        std::string className;
        if (!in.readString(className, kMaxClassName) || className.empty()) {
            return "holds no readable root object";
        }
    }
    return {};
}

}  // namespace

OsgbLayout readOsgbLayout(const std::string& bytes)
{
    OsgbLayout layout;
    HeaderReader in(bytes);
    layout.problem = readMagicAndHeader(in, layout);
    if (layout.problem.empty()) {
        layout.problem = readCompressor(in, layout);
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

bool checkOsgbHeader(const std::string& bytes, std::string& reason)
{
    reason = bytes.size() > kMaxTileBytes ? "larger than 512 MB" : readOsgbLayout(bytes).problem;
    return reason.empty();
}

}  // namespace vistrel
