#include "model/tiles3d/Tileset.h"

#include "model/tiles3d/TilesetRead.h"

#include "core/RegularFile.h"

#include <osg/BoundingBox>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace fs = std::filesystem;
using nlohmann::json;

namespace vistrel {

namespace {

constexpr double kSemiMajor = 6378137.0;
constexpr double kFlattening = 1.0 / 298.257223563;
constexpr double kEccentricity2 = kFlattening * (2.0 - kFlattening);
constexpr double kPi = 3.14159265358979323846;

// A model stands on the Earth: nothing of it is further out than this from
// the Earth's centre or its own origin, and no volume is larger.
constexpr double kMaxCoordinate = 1e8;
constexpr double kMaxVolumeRadius = 1e7;
// A root transform's translation is an Earth-centred position when it lies
// within this height of the ellipsoid (the ENU frames the system reads).
constexpr double kMaxOriginHeight = 10000.0;

double degrees(double radians)
{
    return radians * 180.0 / kPi;
}

bool finiteNumbers(const json& array, std::size_t count, double* out)
{
    if (!array.is_array() || array.size() != count) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!array[i].is_number()) {
            return false;
        }
        out[i] = array[i].get<double>();
        if (!std::isfinite(out[i])) {
            return false;
        }
    }
    return true;
}

bool withinModel(const double* values, std::size_t count, double limit)
{
    return std::all_of(values, values + count, [limit](double x) { return std::fabs(x) <= limit; });
}

bool checkRegion(const std::array<double, 12>& r, std::string& why)
{
    const double slack = 1e-9;
    if (std::fabs(r[0]) > kPi + slack || std::fabs(r[2]) > kPi + slack || std::fabs(r[1]) > kPi / 2 + slack ||
        std::fabs(r[3]) > kPi / 2 + slack || r[1] > r[3]) {
        why = "a region's angles must be radians of longitude and latitude, south below north";
        return false;
    }
    if (r[4] > r[5] || !withinModel(&r[4], 2, kMaxVolumeRadius)) {
        why = "a region's heights must run from low to high within 1e7 m";
        return false;
    }
    return true;
}

osg::Vec3d pointOf(const osg::Vec3d& p, const osg::Matrixd& m)
{
    return p * m;
}

// The sphere around points, centred on the middle of their box.
osg::BoundingSphered sphereAround(const std::vector<osg::Vec3d>& points)
{
    osg::BoundingBoxd box;
    for (const osg::Vec3d& p : points) {
        box.expandBy(p);
    }
    double radius = 0.0;
    for (const osg::Vec3d& p : points) {
        radius = std::max(radius, (p - box.center()).length());
    }
    return osg::BoundingSphered(box.center(), radius);
}

std::vector<osg::Vec3d> boxCorners(const std::array<double, 12>& b, const osg::Matrixd& toScene)
{
    const osg::Vec3d c(b[0], b[1], b[2]);
    const osg::Vec3d u(b[3], b[4], b[5]);
    const osg::Vec3d v(b[6], b[7], b[8]);
    const osg::Vec3d w(b[9], b[10], b[11]);
    std::vector<osg::Vec3d> corners;
    for (int i = 0; i < 8; ++i) {
        const osg::Vec3d corner =
            c + u * ((i & 1) ? 1.0 : -1.0) + v * ((i & 2) ? 1.0 : -1.0) + w * ((i & 4) ? 1.0 : -1.0);
        corners.push_back(pointOf(corner, toScene));
    }
    return corners;
}

// A region sampled on a grid at both heights: enough for the ellipsoid's
// bulge between the corners.
std::vector<osg::Vec3d> regionPoints(const std::array<double, 12>& r, const osg::Matrixd& sceneFromEcef)
{
    const double east = r[2] < r[0] ? r[2] + 2.0 * kPi : r[2];
    const int steps = 8;
    std::vector<osg::Vec3d> points;
    for (int i = 0; i <= steps; ++i) {
        for (int j = 0; j <= steps; ++j) {
            const double lon = r[0] + (east - r[0]) * i / steps;
            const double lat = r[1] + (r[3] - r[1]) * j / steps;
            points.push_back(pointOf(ecefFromGeodetic(lat, lon, r[4]), sceneFromEcef));
            points.push_back(pointOf(ecefFromGeodetic(lat, lon, r[5]), sceneFromEcef));
        }
    }
    return points;
}

// The largest factor by which `m` stretches a length.
double largestScale(const osg::Matrixd& m)
{
    double scale = 0.0;
    for (int row = 0; row < 3; ++row) {
        scale = std::max(scale, osg::Vec3d(m(row, 0), m(row, 1), m(row, 2)).length());
    }
    return scale;
}

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool hasScheme(const std::string& uri)
{
    const std::size_t colon = uri.find(':');
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    if (!std::isalpha(static_cast<unsigned char>(uri[0]))) {
        return false;
    }
    return std::all_of(uri.begin(), uri.begin() + static_cast<std::ptrdiff_t>(colon),
                       [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '-' || c == '.'; });
}

bool percentDecoded(const std::string& text, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            return false;
        }
        const char c = static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        if (c == '\0') {
            return false;
        }
        out += c;
        i += 2;
    }
    return true;
}

std::string joinPath(const std::string& path, const std::string& child)
{
    return path.empty() ? child : path + "." + child;
}

}  // namespace

osg::Vec3d ecefFromGeodetic(double latitude, double longitude, double height)
{
    const double s = std::sin(latitude);
    const double n = kSemiMajor / std::sqrt(1.0 - kEccentricity2 * s * s);
    return osg::Vec3d((n + height) * std::cos(latitude) * std::cos(longitude),
                      (n + height) * std::cos(latitude) * std::sin(longitude),
                      (n * (1.0 - kEccentricity2) + height) * s);
}

void geodeticFromEcef(const osg::Vec3d& ecef, double& latitude, double& longitude, double& height)
{
    longitude = std::atan2(ecef.y(), ecef.x());
    const double p = std::hypot(ecef.x(), ecef.y());
    latitude = std::atan2(ecef.z(), p * (1.0 - kEccentricity2));
    height = 0.0;
    for (int i = 0; i < 10; ++i) {
        const double s = std::sin(latitude);
        const double n = kSemiMajor / std::sqrt(1.0 - kEccentricity2 * s * s);
        const double c = std::cos(latitude);
        height = std::fabs(c) > 1e-6 ? p / c - n : std::fabs(ecef.z()) - n * (1.0 - kEccentricity2);
        latitude = std::atan2(ecef.z(), p * (1.0 - kEccentricity2 * n / (n + height)));
    }
}

osg::Matrixd enuFromEcef(double latitude, double longitude, double height)
{
    const double sl = std::sin(latitude);
    const double cl = std::cos(latitude);
    const double so = std::sin(longitude);
    const double co = std::cos(longitude);
    const osg::Vec3d east(-so, co, 0.0);
    const osg::Vec3d north(-sl * co, -sl * so, cl);
    const osg::Vec3d up(cl * co, cl * so, sl);
    const osg::Vec3d o = ecefFromGeodetic(latitude, longitude, height);
    return osg::Matrixd(east.x(), north.x(), up.x(), 0.0, east.y(), north.y(), up.y(), 0.0, east.z(), north.z(), up.z(),
                        0.0, -(o * east), -(o * north), -(o * up), 1.0);
}

namespace tilesetread {

bool parseVolume(const json& json, Volume& volume, std::string& why)
{
    if (!json.is_object()) {
        why = "no bounding volume";
        return false;
    }
    double* v = volume.v.data();
    if (json.contains("box")) {
        volume.kind = Volume::Kind::Box;
        if (!finiteNumbers(json["box"], 12, v) || !withinModel(v, 3, kMaxCoordinate) ||
            !withinModel(v + 3, 9, kMaxVolumeRadius)) {
            why = "a box must be 12 finite numbers, half-axes within 1e7 m";
            return false;
        }
        return true;
    }
    if (json.contains("region")) {
        volume.kind = Volume::Kind::Region;
        if (!finiteNumbers(json["region"], 6, v)) {
            why = "a region must be 6 finite numbers";
            return false;
        }
        return checkRegion(volume.v, why);
    }
    if (json.contains("sphere")) {
        volume.kind = Volume::Kind::Sphere;
        if (!finiteNumbers(json["sphere"], 4, v) || !withinModel(v, 3, kMaxCoordinate) || v[3] < 0.0 ||
            v[3] > kMaxVolumeRadius) {
            why = "a sphere must be 4 finite numbers, its radius within 1e7 m";
            return false;
        }
        return true;
    }
    why = "the bounding volume is neither box, region nor sphere";
    return false;
}

bool parseTransform(const json& tile, osg::Matrixd& transform, std::string& why)
{
    transform.makeIdentity();
    if (!tile.contains("transform")) {
        return true;
    }
    double m[16];
    if (!finiteNumbers(tile["transform"], 16, m) || m[3] != 0.0 || m[7] != 0.0 || m[11] != 0.0 || m[15] != 1.0 ||
        !withinModel(m, 16, kMaxCoordinate)) {
        why = "a transform must be 16 finite numbers of an affine matrix";
        return false;
    }
    // Written column by column: OSG's row-vector layout holds the same order.
    transform.set(m);
    return true;
}

bool parseRefine(const json& tile, Refine& refine)
{
    const auto found = tile.find("refine");
    if (found == tile.end() || !found->is_string()) {
        return false;
    }
    const std::string text = lowerCase(found->get<std::string>());
    if (text == "replace" || text == "add") {
        refine = text == "add" ? Refine::Add : Refine::Replace;
        return true;
    }
    return false;
}

std::vector<std::string> contentUris(const json& tile)
{
    std::vector<std::string> uris;
    auto take = [&uris](const json& content) {
        if (!content.is_object()) {
            return;
        }
        for (const char* key : {"uri", "url"}) {
            const auto found = content.find(key);
            if (found != content.end() && found->is_string()) {
                uris.push_back(found->get<std::string>());
                return;
            }
        }
    };
    if (tile.contains("content")) {
        take(tile["content"]);
    }
    if (tile.contains("contents") && tile["contents"].is_array()) {
        for (const json& content : tile["contents"]) {
            take(content);
        }
    }
    return uris;
}

bool Reader::resolveUri(const std::string& uri, const std::string& folder, std::string& path, std::string& why)
{
    const std::string plain = uri.substr(0, uri.find_first_of("?#"));
    std::string decoded;
    if (plain.empty() || !percentDecoded(plain, decoded)) {
        why = "\"" + uri + "\" is no file name";
        return false;
    }
    if (hasScheme(decoded) || decoded.rfind("//", 0) == 0) {
        why = "\"" + uri + "\" is a URL (nothing is fetched)";
        return false;
    }
    std::replace(decoded.begin(), decoded.end(), '\\', '/');  // as written on Windows
    if (decoded[0] == '/') {
        why = "\"" + uri + "\" is an absolute path";
        return false;
    }
    const fs::path normal = (fs::path(folder) / decoded).lexically_normal();
    if (normal.empty() || *normal.begin() == ".." || normal.filename().empty()) {
        why = "\"" + uri + "\" lies outside the model folder";
        return false;
    }
    path = normal.generic_string();
    return true;
}

bool Reader::readBytes(const std::string& file, std::string& bytes, std::string& why) const
{
    switch (readRegularFile(tileset_.folder / file, limits_.maxFileBytes, bytes)) {
    case FileRead::Read: return true;
    case FileRead::Missing: why = file + ": not found"; return false;
    case FileRead::NotRegular: why = file + ": not a regular file"; return false;
    case FileRead::TooLarge:
        why = file + ": larger than " + std::to_string(limits_.maxFileBytes >> 20) + " MB";
        return false;
    default: why = file + ": cannot be read"; return false;
    }
}

bool Reader::parseFile(const std::string& file, json& doc, std::string& why) const
{
    std::string bytes;
    if (!readBytes(file, bytes, why)) {
        return false;
    }
    try {
        doc = json::parse(bytes);
    } catch (const json::exception& e) {
        why = file + ": not valid JSON (" + e.what() + ")";
        return false;
    }
    if (!doc.is_object() || !doc.contains("root") || !doc["root"].is_object()) {
        why = file + ": no tileset (no root tile)";
        return false;
    }
    return true;
}

bool Reader::readAsset(const json& doc, const std::string& file, bool& yUp, std::string& why)
{
    const auto asset = doc.find("asset");
    if (asset == doc.end() || !asset->is_object() || !asset->contains("version") || !(*asset)["version"].is_string()) {
        why = file + ": no asset version";
        return false;
    }
    const std::string version = (*asset)["version"].get<std::string>();
    if (version.rfind("0.", 0) != 0 && version.rfind("1.", 0) != 0) {
        why = file + ": version " + version + " is not read here";
        return false;
    }
    const auto axis = asset->find("gltfUpAxis");
    const std::string up = axis != asset->end() && axis->is_string() ? axis->get<std::string>() : "Y";
    yUp = lowerCase(up) != "z";
    if (tileset_.version.empty()) {
        tileset_.version = version;
        tileset_.gltfUpAxis = up;
    }
    return true;
}

// The scene frame: east-north-up at the root transform's translation, at
// the root region's centre or at the centre of a root box or sphere given
// in Earth-centred coordinates.
void Reader::placeScene(const json& root)
{
    osg::Matrixd transform;
    std::string why;
    Volume volume;
    if (!parseTransform(root, transform, why) || !parseVolume(root.value("boundingVolume", json()), volume, why)) {
        return;  // the root tile itself reports it
    }
    osg::Vec3d centre = transform.getTrans();
    double lat = 0.0;
    double lon = 0.0;
    double height = 0.0;
    if (volume.kind == Volume::Kind::Region && !root.contains("transform")) {
        const double east = volume.v[2] < volume.v[0] ? volume.v[2] + 2.0 * kPi : volume.v[2];
        lon = (volume.v[0] + east) / 2.0;
        lon = lon > kPi ? lon - 2.0 * kPi : lon;
        lat = (volume.v[1] + volume.v[3]) / 2.0;
    } else {
        if (!root.contains("transform")) {
            centre = osg::Vec3d(volume.v[0], volume.v[1], volume.v[2]);
        }
        geodeticFromEcef(centre, lat, lon, height);
        if (!(std::fabs(height) <= kMaxOriginHeight)) {
            return;
        }
    }
    tileset_.georeferenced = true;
    tileset_.latitude = degrees(lat);
    tileset_.longitude = degrees(lon);
    tileset_.height = height;
    tileset_.sceneFromEcef = enuFromEcef(lat, lon, height);
}

bool Reader::sceneSphere(const Volume& volume, const osg::Matrixd& toScene, osg::BoundingSphered& sphere,
                         std::string& why) const
{
    const std::array<double, 12>& v = volume.v;
    if (volume.kind == Volume::Kind::Box) {
        sphere = sphereAround(boxCorners(v, toScene));
    } else if (volume.kind == Volume::Kind::Region) {
        // Regions are geodetic whatever the tile's transform.
        sphere = sphereAround(regionPoints(v, tileset_.sceneFromEcef));
    } else {
        sphere = osg::BoundingSphered(pointOf(osg::Vec3d(v[0], v[1], v[2]), toScene), v[3] * largestScale(toScene));
    }
    const osg::Vec3d c = sphere.center();
    if (!std::isfinite(sphere.radius()) || sphere.radius() > kMaxVolumeRadius || !std::isfinite(c.length()) ||
        c.length() > kMaxCoordinate) {
        why = "the bounding volume placed in the scene lies beyond 1e8 m or is larger than 1e7 m";
        return false;
    }
    return true;
}

bool Reader::roomForTile()
{
    if (tileset_.tiles.size() < limits_.maxTiles) {
        return true;
    }
    if (!full_) {
        full_ = true;
        problem("more than " + std::to_string(limits_.maxTiles) + " tiles: the rest is left out");
    }
    return false;
}

int Reader::addTile(TilesetTile tile, int parent)
{
    const int index = static_cast<int>(tileset_.tiles.size());
    tile.parent = parent;
    tileset_.tiles.push_back(std::move(tile));
    if (parent >= 0) {
        tileset_.tiles[static_cast<std::size_t>(parent)].children.push_back(index);
    }
    return index;
}

bool Reader::tileRecord(const json& tile, const std::string& path, const Place& place, TilesetTile& record,
                        std::string& why) const
{
    osg::Matrixd transform;
    Volume volume;
    if (!parseTransform(tile, transform, why) || !parseVolume(tile.value("boundingVolume", json()), volume, why)) {
        return false;
    }
    record.path = path;
    record.transform = transform * place.toScene;
    if (!sceneSphere(volume, record.transform, record.bound, why)) {
        return false;
    }
    const auto error = tile.find("geometricError");
    record.geometricError = error != tile.end() && error->is_number() ? error->get<double>() : 0.0;
    if (!std::isfinite(record.geometricError) || record.geometricError < 0.0) {
        why = "the geometric error is not a number of metres";
        return false;
    }
    record.refine = place.refine;
    parseRefine(tile, record.refine);
    record.yUp = place.yUp;
    return true;
}

void Reader::readTile(const json& tile, int parent, const std::string& path, const Place& place)
{
    const std::string name = path.empty() ? "the root tile" : "tile " + path;
    if (!tile.is_object()) {
        problem(place.file + ": " + name + " is no object");
        return;
    }
    if (place.depth > limits_.maxTreeDepth) {
        problem(place.file + ": " + name + " lies more than " + std::to_string(limits_.maxTreeDepth) +
                " levels deep: left out");
        return;
    }
    TilesetTile record;
    std::string why;
    if (!roomForTile()) {
        return;
    }
    if (!tileRecord(tile, path, place, record, why)) {
        problem(place.file + ": " + name + " left out: " + why);
        return;
    }
    Place below = place;
    below.toScene = record.transform;
    below.refine = record.refine;
    below.depth = place.depth + 1;
    if (tile.contains("implicitTiling")) {
        readImplicitTiling(*this, tile, std::move(record), parent, place);
        return;
    }
    const int index = addTile(std::move(record), parent);
    const std::vector<std::string> uris = contentUris(tile);
    for (std::size_t i = 0; i < uris.size(); ++i) {
        addContent(uris[i], index, static_cast<int>(i), below);
    }
    const auto children = tile.find("children");
    if (children != tile.end() && children->is_array()) {
        for (std::size_t i = 0; i < children->size(); ++i) {
            readTile((*children)[i], index, joinPath(path, std::to_string(i)), below);
        }
    }
}

void Reader::addContent(const std::string& uri, int tile, int ordinal, const Place& place)
{
    std::string file;
    std::string why;
    TilesetTile& record = tileset_.tiles[static_cast<std::size_t>(tile)];
    if (!resolveUri(uri, place.folder, file, why)) {
        problem(place.file + ": content of tile " + (record.path.empty() ? "root" : record.path) + " left out: " + why);
        return;
    }
    if (lowerCase(fs::path(file).extension().string()) == ".json") {
        readExternal(file, tile, ordinal, place);
        return;
    }
    record.contents.push_back(file);
    noteFile(file);
}

void Reader::readExternal(const std::string& file, int tile, int ordinal, const Place& place)
{
    if (std::find(place.chain.begin(), place.chain.end(), file) != place.chain.end()) {
        problem(place.file + " names " + file +
                ", which is already being read (a cycle of external tilesets): " + "left out");
        return;
    }
    if (static_cast<int>(place.chain.size()) > limits_.maxExternalDepth) {
        problem(place.file + " names " + file + " below more than " + std::to_string(limits_.maxExternalDepth) +
                " external tilesets: left out");
        return;
    }
    json doc;
    std::string why;
    Place inner = place;
    if (!parseFile(file, doc, why) || !readAsset(doc, file, inner.yUp, why)) {
        problem(why + " (named by " + place.file + "): left out");
        return;
    }
    noteIndexFile(file);
    noteFile(file);
    inner.file = file;
    inner.folder = fs::path(file).parent_path().generic_string();
    inner.chain.push_back(file);
    const std::string& path = tileset_.tiles[static_cast<std::size_t>(tile)].path;
    readTile(doc["root"], tile, joinPath(path, "e" + std::to_string(ordinal)), inner);
}

bool Reader::readRootFile(const std::string& file, std::string& reason)
{
    json doc;
    Place place;
    if (!parseFile(file, doc, reason) || !readAsset(doc, file, place.yUp, reason)) {
        return false;
    }
    tileset_.fileName = file;
    const auto error = doc.find("geometricError");
    tileset_.geometricError = error != doc.end() && error->is_number() ? error->get<double>() : 0.0;
    const json& root = doc["root"];
    placeScene(root);
    place.toScene = tileset_.sceneFromEcef;
    place.file = file;
    place.chain.push_back(file);
    parseRefine(root, place.refine);
    noteIndexFile(file);
    readTile(root, -1, "", place);
    if (tileset_.tiles.empty()) {
        reason = tileset_.problems.empty() ? file + ": no root tile" : tileset_.problems.front();
        return false;
    }
    return true;
}

}  // namespace tilesetread

bool readTileset(const fs::path& file, Tileset& tileset, std::string& reason, const TilesetLimits& limits)
{
    tileset = Tileset();
    tileset.folder = file.parent_path();
    tilesetread::Reader reader(tileset, limits);
    return reader.readRootFile(file.filename().string(), reason);
}

}  // namespace vistrel
