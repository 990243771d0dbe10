// Implicit tiling: a tile subdivided by rule (a quadtree or an octree) whose
// available tiles and content are told by subtree files. Each available tile
// becomes a record like an explicit one, so the rest of the model does not
// know the difference.
#include "model/tiles3d/TilesetRead.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;
using nlohmann::json;

namespace vistrel::tilesetread {

namespace {

// Tile coordinates below 2^31 per axis keep every index in 64 bits.
constexpr int kMaxAvailableLevels = 31;
constexpr std::size_t kSubtreeHeader = 24;

// One availability: a constant or a bitstream, bit i of byte i/8 (lowest
// bit first) telling whether item i is there.
struct Availability {
    bool constant = true;
    bool value = false;
    std::string bits;

    bool at(std::uint64_t index) const
    {
        if (constant) {
            return value;
        }
        const std::uint64_t byte = index / 8;
        return byte < bits.size() && ((static_cast<unsigned char>(bits[byte]) >> (index % 8)) & 1u) != 0;
    }
};

struct Subtree {
    Availability tiles;
    std::vector<Availability> content;
    Availability children;
};

struct Scheme {
    bool octree = false;
    int subtreeLevels = 1;
    int availableLevels = 1;
    std::string subtreeUri;
    std::vector<std::string> contentUris;
    Volume volume;  // of the tile at level 0
    double geometricError = 0.0;
};

// A tile of the implicit tree.
struct Coord {
    int level = 0;
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    std::uint64_t z = 0;
};

std::uint64_t littleEndian64(const char* bytes)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
}

std::string childPath(const std::string& path, std::uint64_t child)
{
    return path.empty() ? std::to_string(child) : path + "." + std::to_string(child);
}

std::uint64_t branching(const Scheme& s)
{
    return s.octree ? 8 : 4;
}

// Items on the levels of a subtree above `level`.
std::uint64_t levelOffset(const Scheme& s, int level)
{
    const std::uint64_t n = branching(s);
    std::uint64_t total = 0;
    std::uint64_t count = 1;
    for (int i = 0; i < level; ++i) {
        total += count;
        count *= n;
    }
    return total;
}

std::uint64_t morton(const Scheme& s, std::uint64_t x, std::uint64_t y, std::uint64_t z)
{
    std::uint64_t index = 0;
    const int axes = s.octree ? 3 : 2;
    for (int bit = 0; bit < 21; ++bit) {
        index |= ((x >> bit) & 1u) << (bit * axes);
        index |= ((y >> bit) & 1u) << (bit * axes + 1);
        if (s.octree) {
            index |= ((z >> bit) & 1u) << (bit * axes + 2);
        }
    }
    return index;
}

std::string filledTemplate(std::string text, const Coord& c)
{
    const std::pair<const char*, std::uint64_t> keys[] = {
        {"{level}", static_cast<std::uint64_t>(c.level)}, {"{x}", c.x}, {"{y}", c.y}, {"{z}", c.z}};
    for (const auto& [key, value] : keys) {
        for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at)) {
            text.replace(at, std::strlen(key), std::to_string(value));
        }
    }
    return text;
}

// The volume of tile `c`: the root's box halved along its axes, or its
// region along longitude and latitude (and height for an octree).
Volume subdivided(const Scheme& s, const Coord& c)
{
    Volume v = s.volume;
    const double cells = std::ldexp(1.0, c.level);
    const double at[3] = {static_cast<double>(c.x), static_cast<double>(c.y), static_cast<double>(c.z)};
    const std::size_t axes = s.octree ? 3 : 2;
    if (v.kind == Volume::Kind::Box) {
        for (std::size_t a = 0; a < axes; ++a) {
            const double shift = (2.0 * at[a] + 1.0) / cells - 1.0;
            for (std::size_t k = 0; k < 3; ++k) {
                v.v[k] += s.volume.v[3 + 3 * a + k] * shift;
                v.v[3 + 3 * a + k] /= cells;
            }
        }
        return v;
    }
    const double pi = 3.14159265358979323846;
    const double east = s.volume.v[2] < s.volume.v[0] ? s.volume.v[2] + 2.0 * pi : s.volume.v[2];
    const double spans[3] = {east - s.volume.v[0], s.volume.v[3] - s.volume.v[1], s.volume.v[5] - s.volume.v[4]};
    const double lows[3] = {s.volume.v[0], s.volume.v[1], s.volume.v[4]};
    const std::size_t lowAt[3] = {0, 1, 4};
    const std::size_t highAt[3] = {2, 3, 5};
    for (std::size_t a = 0; a < axes; ++a) {
        v.v[lowAt[a]] = lows[a] + spans[a] * at[a] / cells;
        v.v[highAt[a]] = lows[a] + spans[a] * (at[a] + 1.0) / cells;
    }
    if (v.v[0] > pi) {
        v.v[0] -= 2.0 * pi;
    }
    if (v.v[2] > pi) {
        v.v[2] -= 2.0 * pi;
    }
    return v;
}

bool readScheme(const json& tile, Scheme& s, std::string& why)
{
    const json& tiling = tile["implicitTiling"];
    if (!tiling.is_object()) {
        why = "implicitTiling is no object";
        return false;
    }
    const std::string scheme = tiling.value("subdivisionScheme", std::string());
    s.octree = scheme == "OCTREE";
    const json levels =
        tiling.contains("availableLevels") ? tiling["availableLevels"] : tiling.value("maximumLevel", json());
    const json subtreeLevels = tiling.value("subtreeLevels", json());
    if ((!s.octree && scheme != "QUADTREE") || !levels.is_number_integer() || !subtreeLevels.is_number_integer()) {
        why = "implicit tiling needs a QUADTREE or OCTREE scheme, availableLevels and subtreeLevels";
        return false;
    }
    s.availableLevels = static_cast<int>(levels.get<std::int64_t>() + (tiling.contains("availableLevels") ? 0 : 1));
    s.subtreeLevels = static_cast<int>(subtreeLevels.get<std::int64_t>());
    const int maxSubtreeLevels = s.octree ? 10 : 15;  // a subtree's bitstreams stay within a file's bound
    if (s.availableLevels < 1 || s.availableLevels > kMaxAvailableLevels || s.subtreeLevels < 1 ||
        s.subtreeLevels > maxSubtreeLevels) {
        why = "implicit tiling levels out of range (1 to " + std::to_string(kMaxAvailableLevels) +
              " available levels, 1 to " + std::to_string(maxSubtreeLevels) + " subtree levels)";
        return false;
    }
    const json subtrees = tiling.value("subtrees", json());
    if (!subtrees.is_object() || !subtrees.contains("uri") || !subtrees["uri"].is_string()) {
        why = "implicit tiling without a subtrees uri";
        return false;
    }
    s.subtreeUri = subtrees["uri"].get<std::string>();
    s.contentUris = contentUris(tile);
    if (!parseVolume(tile.value("boundingVolume", json()), s.volume, why)) {
        return false;
    }
    if (s.volume.kind == Volume::Kind::Sphere) {
        why = "implicit tiling cannot divide a sphere";
        return false;
    }
    s.geometricError = tile.value("geometricError", 0.0);
    return true;
}

struct Chunk {
    const char* data = nullptr;
    std::uint64_t size = 0;
};

// The bytes of the buffers a subtree names: the binary chunk for one without
// a uri, an external file for one with.
bool subtreeBuffers(const Reader& reader, const json& doc, const std::string& folder, const Chunk& binary,
                    std::vector<std::string>& external, std::vector<Chunk>& buffers, std::string& why)
{
    const json list = doc.value("buffers", json::array());
    if (!list.is_array()) {
        why = "buffers is no list";
        return false;
    }
    external.reserve(list.size());
    for (const json& buffer : list) {
        const json length = buffer.is_object() ? buffer.value("byteLength", json()) : json();
        if (!length.is_number_unsigned()) {
            why = "a buffer without its byteLength";
            return false;
        }
        Chunk chunk = binary;
        if (buffer.contains("uri")) {
            std::string file;
            const json uri = buffer["uri"];
            external.emplace_back();
            if (!uri.is_string() || !Reader::resolveUri(uri.get<std::string>(), folder, file, why) ||
                !reader.readBytes(file, external.back(), why)) {
                return false;
            }
            chunk = {external.back().data(), external.back().size()};
        }
        if (length.get<std::uint64_t>() > chunk.size) {
            why = "a buffer longer than its bytes";
            return false;
        }
        chunk.size = length.get<std::uint64_t>();
        buffers.push_back(chunk);
    }
    return true;
}

bool availability(const json& doc, const json& entry, const std::vector<Chunk>& buffers, std::uint64_t bits,
                  Availability& out, std::string& why)
{
    if (!entry.is_object()) {
        why = "an availability is no object";
        return false;
    }
    if (entry.contains("constant")) {
        out.constant = true;
        out.value = entry["constant"] == 1;
        return true;
    }
    const json index = entry.contains("bitstream") ? entry["bitstream"] : entry.value("bufferView", json());
    const json views = doc.value("bufferViews", json::array());
    if (!index.is_number_unsigned() || !views.is_array() || index.get<std::uint64_t>() >= views.size()) {
        why = "an availability names no buffer view";
        return false;
    }
    const json& view = views[index.get<std::size_t>()];
    const json buffer = view.is_object() ? view.value("buffer", json()) : json();
    const json offset = view.is_object() ? view.value("byteOffset", json(0)) : json();
    const json length = view.is_object() ? view.value("byteLength", json()) : json();
    if (!buffer.is_number_unsigned() || !offset.is_number_unsigned() || !length.is_number_unsigned() ||
        buffer.get<std::uint64_t>() >= buffers.size()) {
        why = "a buffer view without its buffer, offset or length";
        return false;
    }
    const Chunk& chunk = buffers[buffer.get<std::size_t>()];
    const std::uint64_t at = offset.get<std::uint64_t>();
    const std::uint64_t size = length.get<std::uint64_t>();
    if (at > chunk.size || size > chunk.size - at || size < (bits + 7) / 8) {
        why = "a bitstream beyond its buffer or shorter than its items";
        return false;
    }
    out.constant = false;
    out.bits.assign(chunk.data + at, static_cast<std::size_t>(size));
    return true;
}

bool parseSubtree(const Reader& reader, const Scheme& s, const std::string& file, const std::string& bytes,
                  Subtree& subtree, std::string& why)
{
    Chunk binary;
    std::string text = bytes;
    if (bytes.size() >= 4 && bytes.compare(0, 4, "subt") == 0) {
        if (bytes.size() < kSubtreeHeader) {
            why = "cut short in its header";
            return false;
        }
        const std::uint64_t jsonLength = littleEndian64(bytes.data() + 8);
        const std::uint64_t binLength = littleEndian64(bytes.data() + 16);
        const std::uint64_t rest = bytes.size() - kSubtreeHeader;
        if (jsonLength > rest || binLength > rest - jsonLength) {
            why = "its header gives chunks longer than the file";
            return false;
        }
        text = bytes.substr(kSubtreeHeader, static_cast<std::size_t>(jsonLength));
        binary = {bytes.data() + kSubtreeHeader + jsonLength, binLength};
    }
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::exception& e) {
        why = std::string("not valid JSON (") + e.what() + ")";
        return false;
    }
    std::vector<std::string> external;
    std::vector<Chunk> buffers;
    const std::string folder = fs::path(file).parent_path().generic_string();
    if (!doc.is_object() || !subtreeBuffers(reader, doc, folder, binary, external, buffers, why)) {
        why = why.empty() ? "no subtree object" : why;
        return false;
    }
    const std::uint64_t tileBits = levelOffset(s, s.subtreeLevels);
    const std::uint64_t childBits = levelOffset(s, s.subtreeLevels + 1) - tileBits;
    if (!availability(doc, doc.value("tileAvailability", json()), buffers, tileBits, subtree.tiles, why) ||
        !availability(doc, doc.value("childSubtreeAvailability", json()), buffers, childBits, subtree.children, why)) {
        return false;
    }
    json content = doc.value("contentAvailability", json::array());
    content = content.is_array() ? content : json::array({content});
    for (const json& entry : content) {
        subtree.content.emplace_back();
        if (!availability(doc, entry, buffers, tileBits, subtree.content.back(), why)) {
            return false;
        }
    }
    return true;
}

class ImplicitTree {
public:
    ImplicitTree(Reader& reader, const Scheme& scheme, const Place& place, const TilesetTile& root)
        : reader_(reader), scheme_(scheme), place_(place), root_(root)
    {
    }

    // Reads the subtree at `at` (a tile on a subtree's first level); its
    // first tile goes below `parent`.
    void readSubtree(const Coord& at, int parent, const std::string& path);

private:
    void addTile(const Subtree& subtree, const Coord& base, int level, const Coord& local, int parent,
                 const std::string& path);
    void readChildSubtrees(const Subtree& subtree, const Coord& tile, const Coord& local, int index,
                           const std::string& path);

    Reader& reader_;
    const Scheme& scheme_;
    const Place& place_;
    const TilesetTile& root_;
};

void ImplicitTree::readSubtree(const Coord& at, int parent, const std::string& path)
{
    std::string file;
    std::string bytes;
    std::string why;
    Subtree subtree;
    if (!Reader::resolveUri(filledTemplate(scheme_.subtreeUri, at), place_.folder, file, why) ||
        !reader_.readBytes(file, bytes, why)) {
        reader_.problem(place_.file + ": subtree " + filledTemplate("{level}/{x}/{y}/{z}", at) + " left out: " + why);
        return;
    }
    if (!parseSubtree(reader_, scheme_, file, bytes, subtree, why)) {
        reader_.problem(file + ": subtree left out: " + why);
        return;
    }
    reader_.noteIndexFile(file);
    reader_.noteFile(file);
    addTile(subtree, at, 0, Coord(), parent, path);
}

void ImplicitTree::addTile(const Subtree& subtree, const Coord& base, int level, const Coord& local, int parent,
                           const std::string& path)
{
    const std::uint64_t bit = levelOffset(scheme_, level) + morton(scheme_, local.x, local.y, local.z);
    if (!subtree.tiles.at(bit) || !reader_.roomForTile()) {
        return;
    }
    const Coord tile{base.level + level, (base.x << level) + local.x, (base.y << level) + local.y,
                     (base.z << level) + local.z};
    TilesetTile record = root_;
    record.path = path;
    record.children.clear();
    record.contents.clear();
    record.geometricError = scheme_.geometricError / std::ldexp(1.0, tile.level);
    std::string why;
    if (!reader_.sceneSphere(subdivided(scheme_, tile), record.transform, record.bound, why)) {
        reader_.problem(place_.file + ": implicit tile " + path + " left out: " + why);
        return;
    }
    const int index = reader_.addTile(std::move(record), parent);
    for (std::size_t c = 0; c < scheme_.contentUris.size() && c < subtree.content.size(); ++c) {
        if (subtree.content[c].at(bit)) {
            reader_.addContent(filledTemplate(scheme_.contentUris[c], tile), index, static_cast<int>(c), place_);
        }
    }
    if (tile.level + 1 >= scheme_.availableLevels) {
        return;
    }
    if (level + 1 >= scheme_.subtreeLevels) {
        readChildSubtrees(subtree, tile, local, index, path);
        return;
    }
    const std::uint64_t n = branching(scheme_);
    for (std::uint64_t child = 0; child < n; ++child) {
        const Coord next{0, 2 * local.x + (child & 1u), 2 * local.y + ((child >> 1) & 1u),
                         2 * local.z + ((child >> 2) & 1u)};
        addTile(subtree, base, level + 1, next, index, childPath(path, child));
    }
}

void ImplicitTree::readChildSubtrees(const Subtree& subtree, const Coord& tile, const Coord& local, int index,
                                     const std::string& path)
{
    const std::uint64_t n = branching(scheme_);
    for (std::uint64_t child = 0; child < n; ++child) {
        const std::uint64_t cx = 2 * local.x + (child & 1u);
        const std::uint64_t cy = 2 * local.y + ((child >> 1) & 1u);
        const std::uint64_t cz = 2 * local.z + ((child >> 2) & 1u);
        if (!subtree.children.at(morton(scheme_, cx, cy, cz))) {
            continue;
        }
        const Coord next{tile.level + 1, 2 * tile.x + (child & 1u), 2 * tile.y + ((child >> 1) & 1u),
                         2 * tile.z + ((child >> 2) & 1u)};
        readSubtree(next, index, childPath(path, child));
    }
}

}  // namespace

void readImplicitTiling(Reader& reader, const json& json, TilesetTile root, int parent, const Place& place)
{
    Scheme scheme;
    std::string why;
    const std::string name = root.path.empty() ? "the root tile" : "tile " + root.path;
    if (!readScheme(json, scheme, why)) {
        reader.problem(place.file + ": " + name + " left out: " + why);
        return;
    }
    if (place.depth + scheme.availableLevels - 1 > reader.limits().maxTreeDepth) {
        reader.problem(place.file + ": " + name + " subdivides deeper than " +
                       std::to_string(reader.limits().maxTreeDepth) + " levels: left out");
        return;
    }
    Place inner = place;
    inner.toScene = root.transform;
    ImplicitTree tree(reader, scheme, inner, root);
    const std::string path = root.path;
    tree.readSubtree(Coord(), parent, path);
}

}  // namespace vistrel::tilesetread
