// The sample city's tiles are laid out like a photogrammetry export: a root
// file per tile folder, finer levels paged in from the same folder, and
// textures stored inside the files, smaller on the coarse levels.
#include "CitySample.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/PagedLOD>
#include <osg/Texture2D>
#include <osg/TriangleFunctor>
#include <osgDB/DatabasePager>
#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>

using namespace citytest;

namespace {

osg::ref_ptr<osg::Node> readFile(const fs::path& path)
{
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options;
    options->setObjectCacheHint(osgDB::Options::CACHE_NONE);
    return osgDB::readNodeFile(path.string(), options.get());
}

struct TriangleCounter {
    int* count = nullptr;
    void operator()(const osg::Vec3&, const osg::Vec3&, const osg::Vec3&) { ++*count; }
};

// Walks the geometry below a node without following paged children.
template <typename Visit>
void forEachGeometry(osg::Node& node, Visit visit)
{
    if (osg::Geode* geode = node.asGeode()) {
        for (unsigned int k = 0; k < geode->getNumDrawables(); ++k) {
            if (osg::Geometry* geometry = geode->getDrawable(k)->asGeometry()) {
                visit(*geometry);
            }
        }
    } else if (osg::Group* group = node.asGroup()) {
        for (unsigned int k = 0; k < group->getNumChildren(); ++k) {
            forEachGeometry(*group->getChild(k), visit);
        }
    }
}

int triangleCount(osg::Node& node)
{
    int count = 0;
    forEachGeometry(node, [&count](osg::Geometry& geometry) {
        osg::TriangleFunctor<TriangleCounter> counter;
        counter.count = &count;
        geometry.accept(counter);
    });
    return count;
}

// Geometry name -> size of its texture image; fails the test for geometry
// without an embedded image.
std::map<std::string, int> textureSizes(osg::Node& node)
{
    std::map<std::string, int> sizes;
    forEachGeometry(node, [&sizes](osg::Geometry& geometry) {
        const osg::StateSet* state = geometry.getStateSet();
        const osg::Texture2D* texture =
            state ? dynamic_cast<const osg::Texture2D*>(state->getTextureAttribute(0, osg::StateAttribute::TEXTURE))
                  : nullptr;
        const osg::Image* image = texture ? texture->getImage() : nullptr;
        EXPECT_TRUE(image && image->data() && image->s() > 0 && image->t() > 0)
            << geometry.getName() << " has no texture image with data";
        if (image) {
            sizes[geometry.getName()] = image->s();
        }
    });
    return sizes;
}

// Number of PagedLOD children that came from files.
int pagedChildren(osg::Node& node)
{
    osg::Group* group = node.asGroup();
    if (!group) {
        return 0;
    }
    int count = 0;
    if (osg::PagedLOD* lod = dynamic_cast<osg::PagedLOD*>(group)) {
        for (unsigned int k = 0; k < lod->getNumChildren(); ++k) {
            count += lod->getFileName(k).empty() ? 0 : 1;
        }
    }
    for (unsigned int k = 0; k < group->getNumChildren(); ++k) {
        count += pagedChildren(*group->getChild(k));
    }
    return count;
}

}  // namespace

TEST(SampleCityTiles, DatabasePagerLoadsEveryLevelOfTheLoadedRoots)
{
    // The renderer's pager, driven by a cull-type traversal that asks every
    // PagedLOD for its finest level, as a camera close to every tile would.
    int expected = 0;
    for (const nlohmann::json& tile : truth().at("tiles")) {
        expected += static_cast<int>(tile.at("files").size()) - 1;
    }
    osg::ref_ptr<osg::Node> scene = loadScene(sampleDir() / "city", false);
    ASSERT_EQ(pagedChildren(*scene), 0);
    osg::ref_ptr<osgDB::DatabasePager> pager = new osgDB::DatabasePager;
    pager->registerPagedLODs(scene.get());
    osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
    osg::NodeVisitor cull(osg::NodeVisitor::CULL_VISITOR, osg::NodeVisitor::TRAVERSE_ACTIVE_CHILDREN);
    cull.setDatabaseRequestHandler(pager.get());
    cull.setFrameStamp(stamp.get());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (unsigned int frame = 1; pagedChildren(*scene) < expected && std::chrono::steady_clock::now() < deadline;
         ++frame) {
        stamp->setFrameNumber(frame);
        stamp->setReferenceTime(frame * 0.02);
        stamp->setSimulationTime(frame * 0.02);
        pager->signalBeginFrame(stamp.get());
        scene->accept(cull);
        pager->signalEndFrame();
        pager->updateSceneGraph(*stamp);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pager->cancel();
    EXPECT_EQ(pagedChildren(*scene), expected);
}

TEST(SampleCityTiles, DataFolderHoldsExactlyTheManifestTilesAndTheirFiles)
{
    std::set<std::string> expectedTiles;
    for (const nlohmann::json& tile : truth().at("tiles")) {
        const std::string name = tile.at("name");
        expectedTiles.insert(name);
        std::set<std::string> expectedFiles;
        for (const std::string file : tile.at("files")) {
            expectedFiles.insert((sampleDir() / file).string());
        }
        std::set<std::string> present;
        for (const fs::directory_entry& entry : fs::directory_iterator(sampleDir() / "city" / "Data" / name)) {
            present.insert(entry.path().string());
        }
        EXPECT_EQ(present, expectedFiles) << name;
        EXPECT_EQ(fs::path(tile.at("root").get<std::string>()).filename().string(), name + ".osgb");
    }
    std::set<std::string> folders;
    for (const fs::directory_entry& entry : fs::directory_iterator(sampleDir() / "city" / "Data")) {
        folders.insert(entry.path().filename().string());
    }
    EXPECT_EQ(folders, expectedTiles);
    EXPECT_GE(expectedTiles.size(), 4u);
    EXPECT_FALSE(fs::exists(sampleDir() / "city" / "Data" / truth().at("empty_tile").get<std::string>()));
}

TEST(SampleCityTiles, RootsLoadAndPageInEveryLevelFromTheirOwnFolder)
{
    for (const nlohmann::json& tile : truth().at("tiles")) {
        const fs::path root = sampleDir() / tile.at("root").get<std::string>();
        osg::ref_ptr<osg::Node> node = readFile(root);
        ASSERT_TRUE(node) << root;
        osg::PagedLOD* lod = dynamic_cast<osg::PagedLOD*>(node.get());
        ASSERT_TRUE(lod) << root << " is not a PagedLOD";
        EXPECT_EQ(lod->getRangeMode(), osg::LOD::PIXEL_SIZE_ON_SCREEN);
        EXPECT_EQ(lod->getNumChildren(), 1u) << "only the coarse level is inline";
        ASSERT_EQ(lod->getNumFileNames(), 2u);
        EXPECT_EQ(lod->getFileName(1).find('/'), std::string::npos) << "child names are relative to the tile folder";

        const std::vector<std::string> read = pageInChildren(*node);
        std::set<std::string> readFiles;
        for (const std::string& path : read) {
            EXPECT_EQ(fs::canonical(fs::path(path).parent_path()), fs::canonical(root.parent_path())) << path;
            readFiles.insert(fs::path(path).filename().string());
        }
        std::set<std::string> expected;
        for (const std::string file : tile.at("files")) {
            expected.insert(fs::path(file).filename().string());
        }
        expected.erase(root.filename().string());
        EXPECT_EQ(readFiles, expected) << "levels reachable from " << root;
        EXPECT_GE(read.size(), 2u) << "at least two levels below the root";
    }
}

TEST(SampleCityTiles, TexturesAreEmbeddedAndGrowWithTheLevel)
{
    const nlohmann::json& tile = truth().at("tiles").at(0);
    const fs::path folder = (sampleDir() / tile.at("root").get<std::string>()).parent_path();
    const std::string name = tile.at("name");

    osg::ref_ptr<osg::Node> root = readFile(folder / (name + ".osgb"));
    ASSERT_TRUE(root);
    const std::map<std::string, int> coarse = textureSizes(*root);
    std::map<std::string, int> fine;
    for (int q = 0; q < 4; ++q) {
        osg::ref_ptr<osg::Node> quadrant = readFile(folder / (name + "_L19_0" + std::to_string(q) + ".osgb"));
        ASSERT_TRUE(quadrant);
        for (const auto& [geometry, size] : textureSizes(*quadrant)) {
            fine[geometry] = std::max(fine[geometry], size);
        }
    }
    ASSERT_TRUE(coarse.count("ground"));
    int buildings = 0;
    for (const auto& [geometry, size] : coarse) {
        ASSERT_TRUE(fine.count(geometry)) << geometry << " is missing on the finest level";
        EXPECT_LT(size, fine.at(geometry)) << geometry;
        buildings += geometry.find("_roof") != std::string::npos ? 1 : 0;
    }
    EXPECT_GT(buildings, 0);
}

TEST(SampleCityTiles, FinerLevelsCarryMoreTriangles)
{
    for (const nlohmann::json& tile : truth().at("tiles")) {
        const fs::path folder = (sampleDir() / tile.at("root").get<std::string>()).parent_path();
        const std::string name = tile.at("name");
        osg::ref_ptr<osg::Node> root = readFile(folder / (name + ".osgb"));
        osg::ref_ptr<osg::Node> middle = readFile(folder / (name + "_L18_0.osgb"));
        ASSERT_TRUE(root && middle) << name;
        int fine = 0;
        for (int q = 0; q < 4; ++q) {
            osg::ref_ptr<osg::Node> quadrant = readFile(folder / (name + "_L19_0" + std::to_string(q) + ".osgb"));
            ASSERT_TRUE(quadrant);
            fine += triangleCount(*quadrant);
        }
        const int coarse = triangleCount(*root);
        const int mid = triangleCount(*middle);
        EXPECT_LT(coarse, mid) << name;
        EXPECT_LT(mid, fine) << name;
    }
}

TEST(SampleCityTiles, BuildingsDifferInColourOnTheirRoofs)
{
    // Average colour of every roof texture on the finest level.
    std::map<std::string, osg::Vec3d> roofs;
    for (const nlohmann::json& tile : truth().at("tiles")) {
        const fs::path folder = (sampleDir() / tile.at("root").get<std::string>()).parent_path();
        for (int q = 0; q < 4; ++q) {
            osg::ref_ptr<osg::Node> quadrant =
                readFile(folder / (tile.at("name").get<std::string>() + "_L19_0" + std::to_string(q) + ".osgb"));
            ASSERT_TRUE(quadrant);
            forEachGeometry(*quadrant, [&roofs](osg::Geometry& geometry) {
                if (geometry.getName().find("_roof") == std::string::npos) {
                    return;
                }
                const auto* texture = dynamic_cast<const osg::Texture2D*>(
                    geometry.getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
                const osg::Image* image = texture->getImage();
                osg::Vec3d sum;
                for (int t = 0; t < image->t(); ++t) {
                    for (int s = 0; s < image->s(); ++s) {
                        const unsigned char* p = image->data(s, t);
                        sum += osg::Vec3d(p[0], p[1], p[2]);
                    }
                }
                roofs[geometry.getName()] = sum / double(image->s() * image->t());
            });
        }
    }
    ASSERT_EQ(roofs.size(), truth().at("buildings").size());
    for (auto a = roofs.begin(); a != roofs.end(); ++a) {
        for (auto b = std::next(a); b != roofs.end(); ++b) {
            const osg::Vec3d d = a->second - b->second;
            EXPECT_GT(std::fabs(d.x()) + std::fabs(d.y()) + std::fabs(d.z()), 15.0)
                << a->first << " and " << b->first << " look alike";
        }
    }
}
