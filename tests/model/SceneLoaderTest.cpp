#include "model/OsgbSource.h"
#include "model/SceneLoader.h"
#include "support/GeoFixtures.h"
#include "support/TestSupport.h"

#include <osg/MatrixTransform>
#include <osgDB/Registry>
#include <osgUtil/IntersectionVisitor>
#include <osgUtil/LineSegmentIntersector>

#include <gtest/gtest.h>

using namespace vistrel;
using namespace testsupport;

namespace {

std::vector<std::string> names(const std::vector<fs::path>& paths)
{
    std::vector<std::string> result;
    for (const auto& p : paths) {
        result.push_back(p.filename().string());
    }
    std::sort(result.begin(), result.end());
    return result;
}

}  // namespace

TEST(SceneLoaderLayouts, RootDiscoveryInEveryFolderLayout)
{
    TempDir dir("layout");
    // Project folder with Data/A/A.osgb and Data/B/B.osgb, plus a stray file.
    writeTile(dir / "project" / "Data" / "A" / "A.osgb", 0, 0);
    writeTile(dir / "project" / "Data" / "B" / "B.osgb", 20, 0);
    writeFile(dir / "project" / "Data" / "notes.txt", "x");
    EXPECT_EQ(names(findRootOsgbFiles(dir / "project")), (std::vector<std::string>{"A.osgb", "B.osgb"}));
    EXPECT_EQ(names(findRootOsgbFiles(dir / "project" / "Data")), (std::vector<std::string>{"A.osgb", "B.osgb"}));
    EXPECT_EQ(names(findRootOsgbFiles(dir / "project" / "Data/")), (std::vector<std::string>{"A.osgb", "B.osgb"}));

    // A tile folder itself, and one file.
    EXPECT_EQ(findRootOsgbFiles(dir / "project" / "Data" / "A"),
              std::vector<fs::path>{dir / "project" / "Data" / "A" / "A.osgb"});
    EXPECT_EQ(findRootOsgbFiles(dir / "project" / "Data" / "B" / "B.osgb"),
              std::vector<fs::path>{dir / "project" / "Data" / "B" / "B.osgb"});

    // Data.osgb wins over tile sub-folders beside it.
    writeTile(dir / "merged" / "Data.osgb", 0, 0);
    writeTile(dir / "merged" / "T" / "T.osgb", 0, 0);
    EXPECT_EQ(findRootOsgbFiles(dir / "merged"), std::vector<fs::path>{dir / "merged" / "Data.osgb"});

    // A tile whose root is not named after its folder: the first .osgb that is
    // not a DSM alias; a folder with only an alias (or only .OSGB) has no root.
    writeTile(dir / "loose" / "C" / "C_dsm_alias.osgb", 0, 0);
    writeTile(dir / "loose" / "C" / "other.osgb", 0, 0);
    writeTile(dir / "loose" / "D" / "D_dsm_alias.osgb", 0, 0);
    writeTile(dir / "loose" / "E" / "upper.OSGB", 0, 0);
    EXPECT_EQ(findRootOsgbFiles(dir / "loose"), std::vector<fs::path>{dir / "loose" / "C" / "other.osgb"});
    EXPECT_TRUE(findTileRootFile(dir / "loose" / "D").empty());

    // A missing path is taken as a single file.
    EXPECT_EQ(findRootOsgbFiles(dir / "absent.osgb"), std::vector<fs::path>{dir / "absent.osgb"});
}

TEST(SceneLoaderLayouts, LoadsTranslatesAndReportsFailures)
{
    TempDir dir("layout");
    writeTile(dir / "project" / "Data" / "A" / "A.osgb", 0, 0);
    writeTile(dir / "project" / "Data" / "B" / "B.osgb", 20, 0);
    writeFile(dir / "project" / "metadata.xml",
              "<?xml version=\"1.0\"?><ModelMetadata version=\"1\"><SRS>EPSG:4547</SRS>"
              "<SRSOrigin>512345.0,3345678.0,0</SRSOrigin></ModelMetadata>");
    {
        CapturedOutput log;
        osg::ref_ptr<osg::Node> scene = loadScene((dir / "project").string());
        ASSERT_TRUE(scene.valid());
        auto* transform = dynamic_cast<osg::MatrixTransform*>(scene.get());
        ASSERT_NE(transform, nullptr);
        EXPECT_EQ(transform->getMatrix().getTrans(), osg::Vec3d(512345.0, 3345678.0, 0.0));
        EXPECT_EQ(transform->getChild(0)->asGroup()->getNumChildren(), 2u);
        EXPECT_EQ(countOccurrences(log.text(), "[INFO] Loading OSGB/scene: "), 2);
        EXPECT_NE(log.text().find("Read metadata model origin from " + (dir / "project" / "metadata.xml").string() +
                                  ": x=512345, y=3345678, z=0, srs=EPSG:4547"),
                  std::string::npos)
            << log.text();
        EXPECT_NE(log.text().find("Scene loaded. Bound center=(5123"), std::string::npos) << log.text();
        EXPECT_NE(log.text().find(".000000, 3345683.000000, 2.500000), radius="), std::string::npos) << log.text();
    }
    {
        // The Data folder finds metadata.xml one level up.
        CapturedOutput log;
        EXPECT_TRUE(loadScene((dir / "project" / "Data").string()).valid());
        EXPECT_NE(log.text().find("Read metadata model origin from " + (dir / "project" / "metadata.xml").string()),
                  std::string::npos);
    }
    {
        // Failures come back as reasons; nothing is logged as an error here.
        CapturedOutput log;
        const SceneLoad missing = loadModel((dir / "nothing-here").string());
        EXPECT_FALSE(missing.scene.valid());
        EXPECT_EQ(missing.reason, "OSGB path does not exist: " + (dir / "nothing-here").string());
        fs::create_directories(dir / "empty");
        const SceneLoad empty = loadModel((dir / "empty").string());
        EXPECT_FALSE(empty.scene.valid());
        EXPECT_EQ(empty.reason, "No root .osgb files found in: " + (dir / "empty").string());
        EXPECT_EQ(log.text().find("[ERROR]"), std::string::npos) << log.text();
    }
    {
        // A broken root is reported and skipped; with none left the load fails.
        writeFile(dir / "broken" / "broken.osgb", "not an osgb file");
        const SceneLoad broken = loadModel((dir / "broken").string());
        EXPECT_FALSE(broken.scene.valid());
        EXPECT_EQ(broken.unreadRoots, std::vector<std::string>{"Failed to load scene with osgDB::readNodeFile: " +
                                                               (dir / "broken" / "broken.osgb").string()});
        EXPECT_EQ(broken.reason, "Failed to load any OSGB scene from: " + (dir / "broken").string());
        // Beside a good root it is skipped and loading goes on.
        writeTile(dir / "mixed" / "A" / "A.osgb", 0, 0);
        writeFile(dir / "mixed" / "B" / "B.osgb", "not an osgb file");
        const SceneLoad mixed = loadModel((dir / "mixed").string());
        EXPECT_TRUE(mixed.scene.valid());
        EXPECT_TRUE(mixed.reason.empty());
        EXPECT_EQ(mixed.unreadRoots.size(), 1u);
    }
    {
        // Without any origin the group is the root, untranslated, and no origin line.
        writeTile(dir / "plain" / "plain.osgb", 0, 0);
        CapturedOutput log;
        osg::ref_ptr<osg::Node> scene = loadScene((dir / "plain").string());
        ASSERT_TRUE(scene.valid());
        EXPECT_EQ(dynamic_cast<osg::MatrixTransform*>(scene.get()), nullptr);
        EXPECT_EQ(log.text().find("model origin"), std::string::npos);
        EXPECT_NE(log.text().find("Bound center=(5.000000, 5.000000, 2.500000)"), std::string::npos) << log.text();
    }
}

TEST(SceneLoaderPlugins, PluginFoldersAreAddedOnce)
{
    TempDir dir("plugins");
    const fs::path before = fs::current_path();
    fs::create_directories(dir / "plugins" / "osgPlugins-3.6.5");
    fs::current_path(dir.path());
    setupPluginPath();
    setupPluginPath();
    fs::current_path(before);
    const auto& list = osgDB::Registry::instance()->getLibraryFilePathList();
    const std::string local = (dir / "plugins" / "osgPlugins-3.6.5").generic_string();
    EXPECT_EQ(std::count(list.begin(), list.end(), local), 1);
    const auto installedAt = std::find(list.begin(), list.end(), std::string(VISTREL_OSG_PLUGIN_DIR_FOR_TESTS));
    ASSERT_NE(installedAt, list.end());
    EXPECT_LE(std::count(list.begin(), list.end(), std::string(VISTREL_OSG_PLUGIN_DIR_FOR_TESTS)), 1);
}

// Real tiles exported by photogrammetry software.
class RealTiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = VISTREL_REAL_TILES_DIR;
        if (!fs::exists(root_)) {
            GTEST_SKIP() << "real tiles not available at " << root_;
        }
    }
    fs::path root_;
};

TEST_F(RealTiles, TileChainWithMissingChildrenLoadsAndIntersects)
{
    CapturedOutput log;
    osg::ref_ptr<osg::Node> scene = loadScene((root_ / "cc-tile-chain").string());
    ASSERT_TRUE(scene.valid());
    const osg::BoundingSphere bound = scene->getBound();
    EXPECT_NEAR(bound.center().x(), 23662.9, 1.0);
    EXPECT_NEAR(bound.center().y(), 67244.0, 1.0);
    // Rays over the tile: some hit, none fail on the missing finer files.
    int hits = 0;
    for (int i = -4; i <= 4; ++i) {
        for (int j = -4; j <= 4; ++j) {
            const double x = bound.center().x() + i * bound.radius() * 0.15;
            const double y = bound.center().y() + j * bound.radius() * 0.15;
            osg::ref_ptr<osgUtil::LineSegmentIntersector> ray =
                new osgUtil::LineSegmentIntersector(osg::Vec3d(x, y, bound.center().z() + bound.radius() + 100),
                                                    osg::Vec3d(x, y, bound.center().z() - bound.radius() - 100));
            osgUtil::IntersectionVisitor visitor(ray.get());
            scene->accept(visitor);
            hits += ray->containsIntersections() ? 1 : 0;
        }
    }
    EXPECT_GT(hits, 10);
}

TEST_F(RealTiles, LooseTilesAndTheEmptyTile)
{
    {
        CapturedOutput log;
        osg::ref_ptr<osg::Node> folder = loadScene((root_ / "cc-loose-tiles").string());
        EXPECT_TRUE(folder.valid());
        EXPECT_EQ(countOccurrences(log.text(), "Loading OSGB/scene: "), 1);
    }
    // A model of one empty tile has nothing to draw: no scene, as a run finds it.
    const std::string empty = (root_ / "cc-loose-tiles" / "Tile_+003_+013.osgb").string();
    const SceneLoad load = loadModel(empty);
    EXPECT_FALSE(load.scene.valid());
    EXPECT_EQ(load.reason, "Failed to load any OSGB scene from: " + empty);
    EXPECT_TRUE(load.unreadRoots.empty());
}

TEST_F(RealTiles, SinglePagedLodFile)
{
    for (const fs::path& path : {root_ / "single-pagedlod" / "test.osgb", root_ / "single-pagedlod"}) {
        CapturedOutput log;
        osg::ref_ptr<osg::Node> scene = loadScene(path.string());
        ASSERT_TRUE(scene.valid()) << path;
        EXPECT_GT(scene->getBound().radius(), 1.0f);
        EXPECT_EQ(countOccurrences(log.text(), "Loading OSGB/scene: "), 1);
    }
}
