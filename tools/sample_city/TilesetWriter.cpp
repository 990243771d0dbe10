#include "TilesetWriter.h"

#include <nlohmann/json.hpp>
#include <osg/BoundingBox>

#include <cmath>
#include <fstream>
#include <stdexcept>

namespace samplecity {

namespace {

// The root holds no content and always refines: at any scale a picture
// could have, its children are drawn.
constexpr double kRootGeometricError = 10000.0;
// Slack so that no surface lies exactly on a box face.
constexpr double kBoxSlack = 0.01;

void writeBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

osg::BoundingBox boxOf(std::initializer_list<const osg::Geode*> geodes)
{
    osg::BoundingBox box;
    for (const osg::Geode* geode : geodes) {
        box.expandBy(geode->getBoundingBox());
    }
    return box;
}

// Every level of the tile.
osg::BoundingBox tileBox(const TileModel& tile)
{
    osg::BoundingBox box = tile.coarse->getBoundingBox();
    for (int q = 0; q < 4; ++q) {
        box.expandBy(boxOf({tile.middle[q].get(), tile.fine[q].get()}));
    }
    return box;
}

// A box volume in the ENU frame: the geodes' vertices plus the offset.
nlohmann::json boxVolume(const osg::BoundingBox& box, const std::array<double, 3>& offset)
{
    const double hx = (box.xMax() - box.xMin()) * 0.5 + kBoxSlack;
    const double hy = (box.yMax() - box.yMin()) * 0.5 + kBoxSlack;
    const double hz = (box.zMax() - box.zMin()) * 0.5 + kBoxSlack;
    const osg::Vec3 c = box.center();
    return {
        {"box", {c.x() + offset[0], c.y() + offset[1], c.z() + offset[2], hx, 0.0, 0.0, 0.0, hy, 0.0, 0.0, 0.0, hz}}};
}

// Writes one level node's content; returns its tile without children.
nlohmann::json contentTile(const osg::Geode& geode, const std::string& name, const osg::BoundingBox& box,
                           double geometricError, const std::filesystem::path& folder, const std::string& relative,
                           const EnuFrame& frame, const GlbOptions& options, TextureCoder& textures)
{
    writeBytes(folder / relative / (name + ".glb"), geodeToGlb(geode, frame.srsOrigin, options, textures));
    return {{"boundingVolume", boxVolume(box, frame.srsOrigin)},
            {"geometricError", geometricError},
            {"content", {{"uri", relative + "/" + name + ".glb"}}}};
}

nlohmann::json cityTile(const TileModel& tile, const EnuFrame& frame, const std::filesystem::path& folder,
                        const GlbOptions& options, TextureCoder& textures)
{
    const std::string relative = "Data/" + tile.name;
    std::filesystem::create_directories(folder / relative);
    const osg::ref_ptr<osg::Group> middle = middleLevel(tile);
    nlohmann::json quadrants = nlohmann::json::array();
    for (int q = 0; q < 4; ++q) {
        const std::string suffix = "_0" + std::to_string(q);
        const osg::BoundingBox fineBox = boxOf({tile.fine[q].get()});
        const osg::BoundingBox quadrantBox = boxOf({tile.middle[q].get(), tile.fine[q].get()});
        const auto* lod = static_cast<const osg::PagedLOD*>(middle->getChild(q));
        nlohmann::json quadrant = contentTile(*tile.middle[q], tile.name + "_L18" + suffix, quadrantBox,
                                              switchMetresPerPixel(lod->getBound(), kQuadrantSwitchPixels), folder,
                                              relative, frame, options, textures);
        quadrant["children"] = {contentTile(*tile.fine[q], tile.name + "_L19" + suffix, fineBox, 0.0, folder, relative,
                                            frame, options, textures)};
        quadrants.push_back(quadrant);
    }
    nlohmann::json root = contentTile(*tile.coarse, tile.name, tileBox(tile),
                                      switchMetresPerPixel(rootBound(tile, *middle), kRootSwitchPixels), folder,
                                      relative, frame, options, textures);
    root["children"] = quadrants;
    return root;
}

}  // namespace

std::array<double, 16> enuToEcef(double latDegrees, double lonDegrees)
{
    constexpr double kPi = 3.14159265358979323846;
    constexpr double a = 6378137.0;
    constexpr double f = 1.0 / 298.257223563;
    const double e2 = f * (2.0 - f);
    const double lat = latDegrees * kPi / 180.0;
    const double lon = lonDegrees * kPi / 180.0;
    const double n = a / std::sqrt(1.0 - e2 * std::sin(lat) * std::sin(lat));
    const double sinLat = std::sin(lat), cosLat = std::cos(lat), sinLon = std::sin(lon), cosLon = std::cos(lon);
    const std::array<double, 3> east{-sinLon, cosLon, 0.0};
    const std::array<double, 3> north{-sinLat * cosLon, -sinLat * sinLon, cosLat};
    const std::array<double, 3> up{cosLat * cosLon, cosLat * sinLon, sinLat};
    const std::array<double, 3> origin{n * cosLat * cosLon, n * cosLat * sinLon, n * (1.0 - e2) * sinLat};
    std::array<double, 16> matrix{};
    for (int k = 0; k < 3; ++k) {
        matrix[k] = east[k];
        matrix[4 + k] = north[k];
        matrix[8 + k] = up[k];
        matrix[12 + k] = origin[k];
    }
    matrix[15] = 1.0;
    return matrix;
}

void writeTileset(const std::vector<TileModel>& tiles, const EnuFrame& frame, const std::filesystem::path& folder,
                  const GlbOptions& options, TextureCoder& textures)
{
    nlohmann::json children = nlohmann::json::array();
    osg::BoundingBox all;
    for (const TileModel& tile : tiles) {
        children.push_back(cityTile(tile, frame, folder, options, textures));
        all.expandBy(tileBox(tile));
    }
    const std::array<double, 16> transform = enuToEcef(frame.lat, frame.lon);
    const nlohmann::json root = {{"transform", transform},
                                 {"boundingVolume", boxVolume(all, frame.srsOrigin)},
                                 {"geometricError", kRootGeometricError},
                                 {"refine", "REPLACE"},
                                 {"children", children}};
    const nlohmann::json tileset = {{"asset", {{"version", "1.1"}, {"generator", "make_sample_city"}}},
                                    {"geometricError", kRootGeometricError},
                                    {"root", root}};
    writeBytes(folder / "tileset.json", tileset.dump(1) + "\n");
}

}  // namespace samplecity
