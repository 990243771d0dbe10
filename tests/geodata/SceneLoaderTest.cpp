#include "geodata/SceneLoader.h"
#include "support/GeoFixtures.h"
#include "support/TestSupport.h"

#include <osg/MatrixTransform>
#include <osgDB/Registry>
#include <osgUtil/IntersectionVisitor>
#include <osgUtil/LineSegmentIntersector>

#include <gtest/gtest.h>

#include <cstring>

#include <sys/stat.h>

using namespace vistrel;
using namespace testsupport;

namespace {

const osg::Vec4 kGrey(0.5f, 0.5f, 0.5f, 1.0f);

// A tile root holding one box around (x, y).
void writeTile(const fs::path& file, float x, float y)
{
    writeNode(file, *makeBox(osg::Vec3(x, y, 0), osg::Vec3(x + 10, y + 10, 5), kGrey));
}

std::vector<std::string> names(const std::vector<fs::path>& paths)
{
    std::vector<std::string> result;
    for (const auto& p : paths) {
        result.push_back(p.filename().string());
    }
    std::sort(result.begin(), result.end());
    return result;
}

void appendDouble(std::string& bytes, double value)
{
    unsigned char raw[8];
    std::memcpy(raw, &value, 8);  // the test machine is little-endian
    bytes.append(reinterpret_cast<const char*>(raw), 8);
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
                                  ": x=512345, y=3.34568e+06, z=0, srs=EPSG:4547"),
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
        CapturedOutput log;
        EXPECT_FALSE(loadScene((dir / "nothing-here").string()).valid());
        EXPECT_NE(log.text().find("[ERROR] OSGB path does not exist: " + (dir / "nothing-here").string()), std::string::npos);
    }
    {
        fs::create_directories(dir / "empty");
        CapturedOutput log;
        EXPECT_FALSE(loadScene((dir / "empty").string()).valid());
        EXPECT_NE(log.text().find("[ERROR] No root .osgb files found in: " + (dir / "empty").string()), std::string::npos);
    }
    {
        // A broken root is reported and skipped; with none left the load fails.
        writeFile(dir / "broken" / "broken.osgb", "not an osgb file");
        CapturedOutput log;
        EXPECT_FALSE(loadScene((dir / "broken").string()).valid());
        EXPECT_NE(log.text().find("[ERROR] Failed to load scene with osgDB::readNodeFile: " +
                                  (dir / "broken" / "broken.osgb").string()),
                  std::string::npos);
        EXPECT_NE(log.text().find("[ERROR] Failed to load any OSGB scene from: " + (dir / "broken").string()),
                  std::string::npos);
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

TEST(SceneOrigin, MetadataVariants)
{
    TempDir dir("origin");
    writeFile(dir / "lower.xml", "<srsorigin> 1.5e5 , -2 ,+3 </SRSORIGIN><srs>  EPSG:4547 </srs>");
    SceneOrigin lower = parseMetadataOrigin(dir / "lower.xml");
    ASSERT_TRUE(lower.valid);
    EXPECT_DOUBLE_EQ(lower.x, 150000.0);
    EXPECT_DOUBLE_EQ(lower.y, -2.0);
    EXPECT_DOUBLE_EQ(lower.z, 3.0);
    EXPECT_EQ(lower.srs, "EPSG:4547");
    EXPECT_EQ(lower.sourcePath, (dir / "lower.xml").string());

    writeFile(dir / "two.xml", "<SRSOrigin>512345.0,3345678.0</SRSOrigin>");
    EXPECT_FALSE(parseMetadataOrigin(dir / "two.xml").valid);

    writeFile(dir / "nosrs.xml", "<SRSOrigin>1,2,3</SRSOrigin>");
    SceneOrigin noSrs = parseMetadataOrigin(dir / "nosrs.xml");
    EXPECT_TRUE(noSrs.valid);
    EXPECT_TRUE(noSrs.srs.empty());

    writeFile(dir / "bad.xml", "<SRSOrigin>-,2,3</SRSOrigin>");
    try {
        parseMetadataOrigin(dir / "bad.xml");
        ADD_FAILURE() << "a malformed number must raise";
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(e.what(), (dir / "bad.xml").string() + ": the SRSOrigin element must hold three numbers "
                                                         "\"x, y, z\"; its x is not a usable number: \"-\"");
    }
    // A number of 100 000 digits is named by its start.
    writeFile(dir / "huge.xml", "<SRSOrigin>1," + std::string(100000, '9') + ",3</SRSOrigin>");
    try {
        parseMetadataOrigin(dir / "huge.xml");
        ADD_FAILURE() << "a number out of range must raise";
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(e.what(), (dir / "huge.xml").string() + ": the SRSOrigin element must hold three numbers "
                                                          "\"x, y, z\"; its y is not a usable number: \"" +
                                std::string(40, '9') + "...\"");
    }
    EXPECT_FALSE(parseMetadataOrigin(dir / "absent.xml").valid);
}

TEST(SceneOrigin, DsmScanTakesTheLastQualifyingWindow)
{
    TempDir dir("origin");
    std::string bytes = "DSMHEADER";
    appendDouble(bytes, 400000.0);
    appendDouble(bytes, 2000000.0);   // qualifies, but a later window does too
    appendDouble(bytes, 50.0);        // x too small
    appendDouble(bytes, 3000000.0);
    bytes += "xyz";                   // misalign the winner
    appendDouble(bytes, -512000.0);
    appendDouble(bytes, 3390000.0);
    bytes.append(16, '\0');
    writeFile(dir / "Data.dsm", bytes);
    SceneOrigin origin = scanDsmOrigin(dir / "Data.dsm");
    ASSERT_TRUE(origin.valid);
    EXPECT_DOUBLE_EQ(origin.x, -512000.0);
    EXPECT_DOUBLE_EQ(origin.y, 3390000.0);
    EXPECT_DOUBLE_EQ(origin.z, 0.0);
    EXPECT_TRUE(origin.srs.empty());

    writeFile(dir / "short.dsm", std::string(15, '\x41'));
    EXPECT_FALSE(scanDsmOrigin(dir / "short.dsm").valid);

    // A metadata.xml with only two components falls through to the DSM file.
    writeTile(dir / "model" / "model.osgb", 0, 0);
    writeFile(dir / "model" / "metadata.xml", "<SRSOrigin>1,2</SRSOrigin>");
    writeFile(dir / "model" / "Data.dsm", bytes);
    CapturedOutput log;
    SceneOrigin fromFolder = readSceneOrigin(dir / "model");
    EXPECT_TRUE(fromFolder.valid);
    EXPECT_NE(log.text().find("Read DSM model origin from " + (dir / "model" / "Data.dsm").string() +
                              ": x=-512000, y=3.39e+06\n"),
              std::string::npos)
        << log.text();
}

TEST(SceneOriginHostileInput, LongBlanksNumbersAndSrsAreScannedWithoutRecursion)
{
    const std::string blanks(40000, ' ');
    EXPECT_FALSE(parseMetadataText("<" + blanks + "x").valid);
    const SceneOrigin padded = parseMetadataText("<" + blanks + "SRSOrigin>1," + blanks + "2,3</SRSOrigin>");
    ASSERT_TRUE(padded.valid);
    EXPECT_DOUBLE_EQ(padded.y, 2.0);
    EXPECT_THROW(parseMetadataText("<SRSOrigin>" + std::string(40000, '1') + ",2,3</SRSOrigin>"), std::invalid_argument);
    const SceneOrigin srs =
        parseMetadataText("<SRSOrigin>1,2,3</SRSOrigin><SRS> " + std::string(60000, 'W') + " </SRS>");
    ASSERT_TRUE(srs.valid);
    EXPECT_EQ(srs.srs.size(), 60000u);
    // A text of blanks only keeps its last one.
    EXPECT_EQ(parseMetadataText("<SRSOrigin>1,2,3</SRSOrigin><SRS> \t</SRS>").srs, "\t");
}

TEST(SceneOriginHostileInput, OnlyRegularFilesOfSaneSizeAreRead)
{
    TempDir dir("origin");
    std::string dsm = "DSM";
    appendDouble(dsm, 400000.0);
    appendDouble(dsm, 3000000.0);
    const auto dsmOrigin = [&](const fs::path& model) {
        writeTile(model / "model.osgb", 0, 0);
        writeFile(model / "Data.dsm", dsm);
        CapturedOutput log;
        const SceneOrigin origin = readSceneOrigin(model);
        return std::make_pair(origin, log.text());
    };

    // A folder or a FIFO named metadata.xml is skipped with a warning.
    fs::create_directories(dir / "folder" / "metadata.xml");
    auto [fromFolder, folderLog] = dsmOrigin(dir / "folder");
    EXPECT_TRUE(fromFolder.valid);
    EXPECT_EQ(fromFolder.sourcePath, (dir / "folder" / "Data.dsm").string());
    EXPECT_NE(folderLog.find("[WARN] Skipped origin file that is not a regular file: " +
                             (dir / "folder" / "metadata.xml").string()),
              std::string::npos)
        << folderLog;

    fs::create_directories(dir / "fifo");
    ASSERT_EQ(mkfifo((dir / "fifo" / "metadata.xml").c_str(), 0600), 0);
    auto [fromFifo, fifoLog] = dsmOrigin(dir / "fifo");
    EXPECT_EQ(fromFifo.sourcePath, (dir / "fifo" / "Data.dsm").string());
    EXPECT_NE(fifoLog.find("[WARN] Skipped origin file that is not a regular file"), std::string::npos);

    // Over 16 MB is not a metadata file.
    fs::create_directories(dir / "huge");
    writeFile(dir / "huge" / "metadata.xml", "<SRSOrigin>1,2,3</SRSOrigin>");
    fs::resize_file(dir / "huge" / "metadata.xml", (std::uintmax_t(16) << 20) + 1);
    auto [fromHuge, hugeLog] = dsmOrigin(dir / "huge");
    EXPECT_EQ(fromHuge.sourcePath, (dir / "huge" / "Data.dsm").string());
    EXPECT_NE(hugeLog.find("[WARN] Skipped metadata file larger than 16 MB: "), std::string::npos) << hugeLog;
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
            osg::ref_ptr<osgUtil::LineSegmentIntersector> ray = new osgUtil::LineSegmentIntersector(
                osg::Vec3d(x, y, bound.center().z() + bound.radius() + 100),
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
    CapturedOutput log;
    osg::ref_ptr<osg::Node> empty = loadScene((root_ / "cc-loose-tiles" / "Tile_+003_+013.osgb").string());
    ASSERT_TRUE(empty.valid());
    EXPECT_FALSE(empty->getBound().valid());
    EXPECT_NE(log.text().find("Scene loaded. Bound center=(0.000000, 0.000000, 0.000000), radius=-1.000000"),
              std::string::npos)
        << log.text();
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
