#include "CitySample.h"

#include <osg/Group>
#include <osg/MatrixTransform>
#include <osg/PagedLOD>
#include <osgDB/Options>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <osgUtil/IntersectionVisitor>
#include <osgUtil/LineSegmentIntersector>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>

namespace citytest {

Bounds frameBounds(const nlohmann::json& frame)
{
    const nlohmann::json& b = frame.at("bounds");
    return {b[0].get<double>(), b[1].get<double>(), b[2].get<double>(), b[3].get<double>()};
}

osg::ref_ptr<osg::Node> loadScene(const fs::path& modelDir, bool pageEverything)
{
    // Like the renderer's loader: k-d trees for fast ray tests, and each
    // root's folder on the database path list. Nothing is cached, so every
    // call gets its own nodes.
    osgDB::Registry::instance()->setBuildKdTreesHint(osgDB::Options::BUILD_KDTREES);
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options;
    options->setObjectCacheHint(osgDB::Options::CACHE_NONE);

    std::vector<fs::path> tiles;
    for (const fs::directory_entry& entry : fs::directory_iterator(modelDir / "Data")) {
        if (entry.is_directory()) {
            tiles.push_back(entry.path());
        }
    }
    std::sort(tiles.begin(), tiles.end());

    osg::ref_ptr<osg::Group> group = new osg::Group;
    for (const fs::path& tile : tiles) {
        const fs::path root = tile / (tile.filename().string() + ".osgb");
        options->getDatabasePathList().push_back(tile.string());
        osg::ref_ptr<osg::Node> node = osgDB::readNodeFile(root.string(), options.get());
        if (!node) {
            throw std::runtime_error("cannot read " + root.string());
        }
        group->addChild(node.get());
    }
    if (pageEverything) {
        pageInChildren(*group);
    }
    const nlohmann::json& origin = truth().at("origin");
    osg::ref_ptr<osg::MatrixTransform> placed = new osg::MatrixTransform(osg::Matrixd::translate(
        origin.at("x").get<double>(), origin.at("y").get<double>(), origin.at("z").get<double>()));
    placed->addChild(group.get());
    return placed;
}

std::vector<std::string> pageInChildren(osg::Node& node)
{
    std::vector<std::string> read;
    osg::Group* group = node.asGroup();
    if (!group) {
        return read;
    }
    if (osg::PagedLOD* lod = dynamic_cast<osg::PagedLOD*>(group)) {
        for (unsigned int k = lod->getNumChildren(); k < lod->getNumFileNames(); ++k) {
            const std::string path = lod->getDatabasePath() + lod->getFileName(k);
            osg::ref_ptr<osg::Node> child = osgDB::readNodeFile(path);
            if (!child) {
                throw std::runtime_error("cannot read the paged child " + path);
            }
            lod->addChild(child.get());
            read.push_back(path);
        }
    }
    for (unsigned int k = 0; k < group->getNumChildren(); ++k) {
        const std::vector<std::string> below = pageInChildren(*group->getChild(k));
        read.insert(read.end(), below.begin(), below.end());
    }
    return read;
}

std::vector<double> verticalHits(osg::Node& scene, double x, double y)
{
    const osg::BoundingSphere& bound = scene.getBound();
    const double top = (bound.center().z() + bound.radius()) + 100.0;
    const double bottom = (bound.center().z() - bound.radius()) - 100.0;
    osg::ref_ptr<osgUtil::LineSegmentIntersector> intersector =
        new osgUtil::LineSegmentIntersector(osg::Vec3d(x, y, top), osg::Vec3d(x, y, bottom));
    osgUtil::IntersectionVisitor visitor(intersector.get());
    scene.accept(visitor);
    std::vector<double> heights;
    for (const auto& hit : intersector->getIntersections()) {
        heights.push_back(hit.getWorldIntersectPoint().z());
    }
    std::sort(heights.begin(), heights.end());
    return heights;
}

int blockedSightLines(osg::Node& scene, const nlohmann::json& frame, const std::string& side, double angle,
                      double step)
{
    const nlohmann::json& camera = truth().at("camera");
    const Bounds b = frameBounds(frame);
    const double groundZ = frame.at("ground_z").get<double>();
    const double roofZ = frame.at("roof_z").get<double>();

    // Where the camera stands for this side and view angle.
    const double spanY = std::max(1.0, b.maxY - b.minY);
    const double spanZ = std::max(1.0, roofZ - groundZ);
    const double extent = std::max(spanY, std::max(1.0, b.maxX - b.minX));
    const double factor = camera.at("oblique_distance_factor").get<double>();
    const double dist =
        std::max({camera.at("distance").get<double>() * factor, extent * 0.5 * 2.4 * factor, 2.0 * spanZ});
    const double centerZ = (roofZ + groundZ) * 0.5;
    double dx = 0, dy = 0;
    if (side == "north") dy = 1;
    if (side == "south") dy = -1;
    if (side == "east") dx = 1;
    if (side == "west") dx = -1;
    if (side == "ne45") { dx = 1; dy = 1; }
    if (side == "nw45") { dx = -1; dy = 1; }
    if (side == "se45") { dx = 1; dy = -1; }
    if (side == "sw45") { dx = -1; dy = -1; }
    osg::Vec3d direction(dx, dy, std::tan(angle * 3.141592653589793 / 180.0) * std::max(1.0, std::hypot(dx, dy)));
    direction.normalize();
    const osg::Vec3d center((b.minX + b.maxX) * 0.5, (b.minY + b.maxY) * 0.5, centerZ);
    osg::Vec3d eye = center + direction * dist;
    if (roofZ + 1.0 >= eye.z()) {
        eye.z() = roofZ + std::max(spanZ + 10.0, dist);
    }

    const osg::Vec3d samples[5] = {center, {b.minX, b.minY, centerZ}, {b.maxX, b.minY, centerZ},
                                   {b.maxX, b.maxY, centerZ}, {b.minX, b.maxY, centerZ}};
    if (step <= 0.0) {
        step = camera.at("occlusion_sample_step").get<double>();
    }
    int blocked = 0;
    for (const osg::Vec3d& p : samples) {
        const osg::Vec3d towardEye = eye - p;
        const osg::Vec3d a = p + towardEye * 0.07;
        osg::ref_ptr<osgUtil::LineSegmentIntersector> intersector =
            new osgUtil::LineSegmentIntersector(a, a + towardEye * step);
        osgUtil::IntersectionVisitor visitor(intersector.get());
        scene.accept(visitor);
        blocked += intersector->containsIntersections() ? 1 : 0;
    }
    return blocked;
}

}  // namespace citytest
