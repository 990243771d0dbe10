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
    osg::BoundingBox all = boxOf({tile.coarse.get()});
    for (int q = 0; q < 4; ++q) {
        const std::string suffix = "_0" + std::to_string(q);
        const osg::BoundingBox fineBox = boxOf({tile.fine[q].get()});
        const osg::BoundingBox quadrantBox = boxOf({tile.middle[q].get(), tile.fine[q].get()});
        all.expandBy(quadrantBox);
        const auto* lod = static_cast<const osg::PagedLOD*>(middle->getChild(q));
        nlohmann::json quadrant = contentTile(*tile.middle[q], tile.name + "_L18" + suffix, quadrantBox,
                                              switchMetresPerPixel(lod->getBound(), kQuadrantSwitchPixels), folder,
                                              relative, frame, options, textures);
        quadrant["children"] = {contentTile(*tile.fine[q], tile.name + "_L19" + suffix, fineBox, 0.0, folder, relative,
                                            frame, options, textures)};
        quadrants.push_back(quadrant);
    }
    nlohmann::json root =
        contentTile(*tile.coarse, tile.name, all, switchMetresPerPixel(rootBound(tile, *middle), kRootSwitchPixels),
                    folder, relative, frame, options, textures);
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
    return {-sinLon,
            cosLon,
            0.0,
            0.0,  // east
            -sinLat * cosLon,
            -sinLat * sinLon,
            cosLat,
            0.0,  // north
            cosLat * cosLon,
            cosLat * sinLon,
            sinLat,
            0.0,  // up
            n * cosLat * cosLon,
            n * cosLat * sinLon,
            n * (1.0 - e2) * sinLat,
            1.0};
}

void writeTileset(const std::vector<TileModel>& tiles, const EnuFrame& frame, const std::filesystem::path& folder,
                  const GlbOptions& options, TextureCoder& textures)
{
    nlohmann::json children = nlohmann::json::array();
    osg::BoundingBox all;
    for (const TileModel& tile : tiles) {
        children.push_back(cityTile(tile, frame, folder, options, textures));
        all.expandBy(boxOf({tile.coarse.get(), tile.middle[0].get(), tile.middle[1].get(), tile.middle[2].get(),
                            tile.middle[3].get(), tile.fine[0].get(), tile.fine[1].get(), tile.fine[2].get(),
                            tile.fine[3].get()}));
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
