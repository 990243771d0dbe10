#include "geodata/TileReadCallback.h"

#include "geodata/BoundedOsgbReader.h"

#include "core/Logger.h"

#include <osg/Geometry>
#include <osg/Image>
#include <osg/MatrixTransform>
#include <osg/StateSet>
#include <osg/Texture>
#include <osgDB/Callbacks>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/Registry>

#include <zlib.h>

#include <malloc.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <unordered_set>
#include <vector>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

constexpr std::uint32_t kHeaderLow = 0x6C910EA1;
constexpr std::uint32_t kHeaderHigh = 0x1AFB4545;
constexpr std::uint32_t kSceneType = 1;
// Tiles are a few MB; a larger file or inflated body is not one.
constexpr std::size_t kMaxTileBytes = std::size_t(512) << 20;
constexpr std::size_t kMaxDepth = 256;
constexpr std::uint32_t kMaxClassName = 256;

std::uint32_t swapBytes(std::uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

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
            value = swapBytes(value);
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

struct OsgbLayout {
    std::string problem;
    bool swapped = false;
    std::string compressor;
    std::size_t compressorAt = 0;  // offset of the compressor name's length
    std::size_t bodyAt = 0;        // offset of what follows the name
};

OsgbLayout readLayout(const std::string& bytes)
{
    OsgbLayout layout;
    HeaderReader in(bytes);
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    if (!in.readUInt(low) || !in.readUInt(high)) {
        layout.problem = "too short for a .osgb header";
        return layout;
    }
    if (low == swapBytes(kHeaderHigh) && high == swapBytes(kHeaderLow)) {
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

// Inflates a zlib or gzip body; false when it is damaged, truncated or too large.
bool inflateBody(const char* data, std::size_t size, std::string& out, std::string& problem)
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

bool isFinite(const osg::Array& array)
{
    const GLenum type = array.getDataType();
    if (type != GL_FLOAT && type != GL_DOUBLE) {
        return true;
    }
    const std::size_t bytes = array.getTotalDataSize();
    if (type == GL_FLOAT) {
        const auto* values = static_cast<const float*>(array.getDataPointer());
        for (std::size_t i = 0; values && i < bytes / sizeof(float); ++i) {
            if (!std::isfinite(values[i])) {
                return false;
            }
        }
    } else {
        const auto* values = static_cast<const double*>(array.getDataPointer());
        for (std::size_t i = 0; values && i < bytes / sizeof(double); ++i) {
            if (!std::isfinite(values[i])) {
                return false;
            }
        }
    }
    return true;
}

// Vertices the primitive sets use (largest index + 1); false on a set this
// reader does not check or a negative range.
bool verticesUsed(const osg::Geometry& geometry, std::uint64_t& used, std::string& problem)
{
    used = 0;
    for (unsigned int i = 0; i < geometry.getNumPrimitiveSets(); ++i) {
        const osg::PrimitiveSet* set = geometry.getPrimitiveSet(i);
        if (!set) {
            continue;
        }
        switch (set->getType()) {
        case osg::PrimitiveSet::DrawArraysPrimitiveType: {
            const auto* arrays = static_cast<const osg::DrawArrays*>(set);
            if (arrays->getFirst() < 0 || arrays->getCount() < 0) {
                problem = "a negative vertex range";
                return false;
            }
            if (arrays->getCount() > 0) {
                used = std::max<std::uint64_t>(used, std::uint64_t(arrays->getFirst()) + arrays->getCount());
            }
            break;
        }
        case osg::PrimitiveSet::DrawArrayLengthsPrimitiveType: {
            const auto* lengths = static_cast<const osg::DrawArrayLengths*>(set);
            if (lengths->getFirst() < 0) {
                problem = "a negative vertex range";
                return false;
            }
            std::uint64_t end = std::uint64_t(lengths->getFirst());
            for (const GLsizei length : *lengths) {
                if (length < 0) {
                    problem = "a negative vertex range";
                    return false;
                }
                end += std::uint64_t(length);
            }
            used = std::max(used, end);
            break;
        }
        case osg::PrimitiveSet::DrawElementsUBytePrimitiveType:
        case osg::PrimitiveSet::DrawElementsUShortPrimitiveType:
        case osg::PrimitiveSet::DrawElementsUIntPrimitiveType: {
            const auto* elements = static_cast<const osg::DrawElements*>(set);
            const unsigned int count = elements->getNumIndices();
            for (unsigned int k = 0; k < count; ++k) {
                used = std::max<std::uint64_t>(used, std::uint64_t(elements->index(k)) + 1);
            }
            break;
        }
        default:
            problem = std::string("an unsupported primitive set ") + set->className();
            return false;
        }
    }
    return true;
}

// Elements a per-vertex style array needs under its binding.
bool arrayCovers(const osg::Array* array, std::uint64_t vertices, std::uint64_t primitiveSets)
{
    if (!array) {
        return true;
    }
    const std::uint64_t have = array->getNumElements();
    switch (array->getBinding()) {
    case osg::Array::BIND_OFF:
        return true;
    case osg::Array::BIND_OVERALL:
        return have >= 1;
    case osg::Array::BIND_PER_PRIMITIVE_SET:
        return have >= primitiveSets;
    default:
        return have >= vertices;
    }
}

std::string checkGeometry(const osg::Geometry& geometry)
{
    std::uint64_t used = 0;
    std::string problem;
    if (!verticesUsed(geometry, used, problem)) {
        return problem;
    }
    const osg::Array* vertices = geometry.getVertexArray();
    const std::uint64_t have = vertices ? vertices->getNumElements() : 0;
    if (used > have) {
        return "an index beyond its " + std::to_string(have) + " vertices";
    }
    if (vertices) {
        if (vertices->getDataType() != GL_FLOAT && vertices->getDataType() != GL_DOUBLE) {
            return "vertices that are not floating-point numbers";
        }
        if (!isFinite(*vertices)) {
            return "a vertex that is not a finite number";
        }
    }
    const std::uint64_t sets = geometry.getNumPrimitiveSets();
    bool covered = arrayCovers(geometry.getNormalArray(), used, sets) &&
                   arrayCovers(geometry.getColorArray(), used, sets) &&
                   arrayCovers(geometry.getSecondaryColorArray(), used, sets) &&
                   arrayCovers(geometry.getFogCoordArray(), used, sets);
    for (const auto& array : geometry.getTexCoordArrayList()) {
        covered = covered && arrayCovers(array.get(), used, sets);
    }
    for (const auto& array : geometry.getVertexAttribArrayList()) {
        covered = covered && arrayCovers(array.get(), used, sets);
    }
    return covered ? std::string() : "a per-vertex array shorter than its vertices";
}

// The image's pixels must lie inside the memory block that holds them.
std::string checkImage(const osg::Image& image)
{
    if (!image.data()) {
        return std::string();
    }
    if (image.s() <= 0 || image.t() <= 0 || image.r() <= 0) {
        return "a texture image without size";
    }
    const std::uint64_t needed = image.getTotalSizeInBytesIncludingMipmaps();
    for (const unsigned int offset : image.getMipmapLevels()) {
        if (offset >= needed) {
            return "a texture level outside its image";
        }
    }
    const osg::Image::AllocationMode mode = image.getAllocationMode();
    if (mode == osg::Image::USE_NEW_DELETE || mode == osg::Image::USE_MALLOC_FREE) {
        const std::uint64_t block = malloc_usable_size(const_cast<unsigned char*>(image.data()));
        if (needed > block) {
            return "a texture image larger than its data";
        }
    }
    return std::string();
}

std::string checkStateSet(const osg::StateSet* stateSet, std::unordered_set<const osg::Object*>& seen)
{
    if (!stateSet || !seen.insert(stateSet).second) {
        return std::string();
    }
    for (const auto& attributes : stateSet->getTextureAttributeList()) {
        for (const auto& entry : attributes) {
            const auto* texture = dynamic_cast<const osg::Texture*>(entry.second.first.get());
            for (unsigned int i = 0; texture && i < texture->getNumImages(); ++i) {
                const osg::Image* image = texture->getImage(i);
                if (image && seen.insert(image).second) {
                    const std::string problem = checkImage(*image);
                    if (!problem.empty()) {
                        return problem;
                    }
                }
            }
        }
    }
    return std::string();
}

bool finiteMatrix(const osg::Matrixd& matrix)
{
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            if (!std::isfinite(matrix(r, c))) {
                return false;
            }
        }
    }
    return true;
}

std::string checkNode(const osg::Node& node, std::unordered_set<const osg::Object*>& seen)
{
    if (const osg::Drawable* drawable = node.asDrawable()) {
        const osg::Geometry* geometry = drawable->asGeometry();
        if (!geometry || std::strcmp(drawable->className(), "Geometry") != 0) {
            return std::string("an unsupported drawable ") + drawable->className();
        }
        const std::string problem = checkGeometry(*geometry);
        if (!problem.empty()) {
            return problem;
        }
    }
    if (const auto* transform = dynamic_cast<const osg::MatrixTransform*>(&node)) {
        if (!finiteMatrix(transform->getMatrix())) {
            return "a transform that is not finite";
        }
    }
    return checkStateSet(node.getStateSet(), seen);
}

osg::ref_ptr<osg::Node> parseBody(const std::string& bytes, bool swapped, const std::string& fileName,
                                  const osgDB::Options* options, std::string& reason)
{
    // As OSG's own file entry does: children are paged from the tile's
    // folder, and the stream is binary.
    osg::ref_ptr<osgDB::Options> local =
        options ? static_cast<osgDB::Options*>(options->clone(osg::CopyOp::SHALLOW_COPY)) : new osgDB::Options;
    local->getDatabasePathList().push_front(osgDB::getFilePath(fileName));
    local->setPluginStringData("fileType", "Binary");
    return parsePlainOsgb(bytes, swapped, local.get(), reason);
}

// The whole of a regular file of at most 512 MB; false, with `reason`, otherwise.
bool readRegularFile(const std::string& path, std::string& bytes, std::string& reason)
{
    std::error_code ec;
    if (!fs::is_regular_file(fs::status(fs::path(path), ec))) {
        reason = "not a regular file";
        return false;
    }
    const std::uintmax_t size = fs::file_size(fs::path(path), ec);
    if (ec || size > kMaxTileBytes) {
        reason = ec ? ec.message() : "larger than 512 MB";
        return false;
    }
    bytes.assign(static_cast<std::size_t>(size), '\0');
    std::ifstream in(fs::path(path), std::ios::binary);
    in.read(&bytes[0], static_cast<std::streamsize>(size));
    if (!in || static_cast<std::uintmax_t>(in.gcount()) != size) {
        reason = "cannot be read";
        return false;
    }
    return true;
}

// Tests only: VISTREL_TEST_TILE_READ_DELAY_MS slows every model file read
// by that many milliseconds, as a busy disk or network share would.
void testOnlyTileReadDelay()
{
    static const long delay = [] {
        const char* text = std::getenv("VISTREL_TEST_TILE_READ_DELAY_MS");
        return text ? std::strtol(text, nullptr, 10) : 0L;
    }();
    if (delay > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
}

class TileReadCallback : public osgDB::ReadFileCallback {
public:
    osgDB::ReaderWriter::ReadResult readNode(const std::string& file, const osgDB::Options* options) override
    {
        testOnlyTileReadDelay();
        const std::string path = osgDB::findDataFile(file, options);
        if (path.empty() || wasRejected(path)) {
            return osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND;
        }
        std::string reason;
        osg::ref_ptr<osg::Node> node = readChecked(file, path, options, reason);
        if (node) {
            return node.get();
        }
        reject(path, "tile", reason);
        return osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND;
    }

    // A texture a tile names as a file of its own is checked as an
    // embedded one is, and decoded from the bytes that were checked.
    osgDB::ReaderWriter::ReadResult readImage(const std::string& file, const osgDB::Options* options) override
    {
        const std::string path = osgDB::findDataFile(file, options);
        if (path.empty() || wasRejected(path)) {
            return osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND;
        }
        std::string bytes;
        std::string reason;
        osg::ref_ptr<osg::Image> image;
        if (readRegularFile(path, bytes, reason)) {
            const std::string extension = osgDB::getLowerCaseFileExtension(path);
            reason = checkEmbeddedImage(extension, bytes.data(), bytes.size());
            osgDB::ReaderWriter* reader = osgDB::Registry::instance()->getReaderWriterForExtension(extension);
            if (reason.empty() && !reader) {
                reason = "no reader for it";
            } else if (reason.empty()) {
                std::istringstream in(bytes);
                image = reader->readImage(in, options).takeImage();
                reason = image ? "" : "the reader could not read it";
            }
        }
        if (image) {
            image->setFileName(file);
            return image.get();
        }
        reject(path, "texture", reason);
        return osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND;
    }

private:
    bool wasRejected(const std::string& path)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return rejected_.count(path) > 0;
    }

    // Logged once per file; the file reads as missing from then on.
    void reject(const std::string& path, const char* kind, const std::string& reason)
    {
        bool first = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            first = rejected_.insert(path).second;
        }
        if (first) {
            Logger::instance().warn(std::string("Skipped damaged ") + kind + " " + path + ": " + reason);
        }
    }

    osg::ref_ptr<osg::Node> readChecked(const std::string& file, const std::string& path,
                                        const osgDB::Options* options, std::string& reason)
    {
        if (osgDB::getLowerCaseFileExtension(path) != "osgb") {
            std::error_code ec;
            if (!fs::is_regular_file(fs::status(fs::path(path), ec))) {
                reason = "not a regular file";
                return nullptr;
            }
            osgDB::ReaderWriter::ReadResult result = osgDB::ReadFileCallback::readNode(file, options);
            osg::ref_ptr<osg::Node> node = result.getNode();
            if (!node) {
                reason = "the reader could not read it";
                return nullptr;
            }
            reason = checkLoadedGraph(*node);
            return reason.empty() ? node : nullptr;
        }
        std::string bytes;
        if (!readRegularFile(path, bytes, reason)) {
            return nullptr;
        }
        return readCheckedOsgb(bytes, path, options, reason);
    }

    std::mutex mutex_;
    std::set<std::string> rejected_;
};

}  // namespace

std::string checkOsgbHeader(const std::string& bytes)
{
    if (bytes.size() > kMaxTileBytes) {
        return "larger than 512 MB";
    }
    return readLayout(bytes).problem;
}

std::string checkLoadedGraph(osg::Node& root)
{
    // Depth first with an explicit stack: a graph is never trusted with the
    // call stack. Shared subgraphs are checked once; a node that is its own
    // ancestor is a cycle.
    struct Entry {
        const osg::Node* node;
        unsigned int nextChild;
    };
    std::vector<Entry> stack{{&root, 0}};
    std::unordered_set<const osg::Node*> onPath{&root};
    std::unordered_set<const osg::Node*> done;
    std::unordered_set<const osg::Object*> seen;
    std::string problem = checkNode(root, seen);
    while (problem.empty() && !stack.empty()) {
        Entry& top = stack.back();
        const osg::Group* group = top.node->asGroup();
        if (!group || top.nextChild >= group->getNumChildren()) {
            onPath.erase(top.node);
            done.insert(top.node);
            stack.pop_back();
            continue;
        }
        const osg::Node* child = group->getChild(top.nextChild++);
        if (!child || done.count(child)) {
            continue;
        }
        if (onPath.count(child)) {
            return "a node that contains itself";
        }
        if (stack.size() >= kMaxDepth) {
            return "nodes nested deeper than " + std::to_string(kMaxDepth);
        }
        problem = checkNode(*child, seen);
        stack.push_back({child, 0});
        onPath.insert(child);
    }
    return problem;
}

osg::ref_ptr<osg::Node> readCheckedOsgb(const std::string& bytes, const std::string& fileName,
                                        const osgDB::Options* options, std::string& reason)
{
    reason = checkOsgbHeader(bytes);
    if (!reason.empty()) {
        return nullptr;
    }
    const OsgbLayout layout = readLayout(bytes);
    osg::ref_ptr<osg::Node> node;
    if (layout.compressor == "zlib") {
        // Inflated here so that the reader sees a plain body through the
        // same bounded buffer.
        std::string body;
        if (!inflateBody(bytes.data() + layout.bodyAt, bytes.size() - layout.bodyAt, body, reason)) {
            return nullptr;
        }
        std::string plain = bytes.substr(0, layout.compressorAt);
        std::uint32_t one = layout.swapped ? swapBytes(1u) : 1u;
        plain.append(reinterpret_cast<const char*>(&one), 4);
        plain += '0';
        plain += body;
        node = parseBody(plain, layout.swapped, fileName, options, reason);
    } else {
        node = parseBody(bytes, layout.swapped, fileName, options, reason);
    }
    if (!node) {
        return nullptr;
    }
    reason = checkLoadedGraph(*node);
    return reason.empty() ? node : nullptr;
}

void installTileReadCallback()
{
    static std::once_flag once;
    std::call_once(once, [] {
        osgDB::Registry::instance()->setReadFileCallback(new TileReadCallback);
    });
}

}  // namespace vistrel
