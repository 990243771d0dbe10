// Damaged .osgb tiles: every damaged copy is rejected or loads into a graph
// that can be bounded and intersected; nothing crashes or loops.
#include "model/BoundedOsgbReader.h"
#include "model/LoadedGraphCheck.h"
#include "model/OsgbHeader.h"
#include "model/TextureHeaderCheck.h"
#include "model/OsgbSource.h"
#include "model/SceneLoader.h"
#include "model/TileReadCallback.h"
#include "support/GeoFixtures.h"
#include "support/TestSupport.h"

#include <osg/KdTree>
#include <osg/Geometry>
#include <osg/PagedLOD>
#include <osg/Uniform>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include <sys/stat.h>

using namespace vistrel;
using namespace testsupport;

namespace {

// Reads every damaged copy of `bytes`: truncated at `cuts` offsets spread
// over the file and with 4-64 bytes flipped `flipRuns` times. Returns the
// number of copies that loaded (each then bounded and given k-d trees).
int readDamagedCopies(const std::string& bytes, const std::string& name, int cuts, int flipRuns)
{
    std::vector<std::string> copies;
    for (int i = 0; i < cuts; ++i) {
        copies.push_back(bytes.substr(0, bytes.size() * i / cuts));
    }
    std::mt19937 random(12);
    for (int i = 0; i < flipRuns; ++i) {
        std::string copy = bytes;
        const int flips = 4 + static_cast<int>(random() % 61);
        for (int k = 0; k < flips; ++k) {
            copy[random() % copy.size()] ^= static_cast<char>(1 + random() % 255);
        }
        copies.push_back(copy);
    }
    int loaded = 0;
    for (const std::string& copy : copies) {
        std::string reason;
        osg::ref_ptr<osg::Node> node = readCheckedOsgb(copy, name, nullptr, reason);
        if (node) {
            ++loaded;
            node->getBound();
            osg::ref_ptr<osg::KdTreeBuilder> builder = new osg::KdTreeBuilder;
            node->accept(*builder);
        } else {
            EXPECT_FALSE(reason.empty());
        }
    }
    return loaded;
}

std::string tileBytes(const fs::path& file, const osg::Node& node, const char* options)
{
    osg::ref_ptr<osgDB::Options> writeOptions = new osgDB::Options(options);
    fs::create_directories(file.parent_path());
    EXPECT_TRUE(osgDB::writeNodeFile(node, file.string(), writeOptions.get()));
    return readFile(file);
}

// A geometry of 37 vertices, the first at (1.25, 2.5, 3.75).
osg::ref_ptr<osg::Geometry> fanOf37()
{
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    for (int i = 0; i < 37; ++i) {
        vertices->push_back(osg::Vec3(1.25f + i, 2.5f, 3.75f));
    }
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices.get());
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLE_FAN, 0, 37));
    return geometry;
}

// `bytes` with the stored vertex count (37, just before the first vertex)
// replaced by `count`.
std::string withVertexCount(std::string bytes, std::uint32_t count)
{
    const float first[] = {1.25f, 2.5f, 3.75f};
    std::string pattern("\x25\0\0\0", 4);
    pattern.append(reinterpret_cast<const char*>(first), sizeof first);
    const std::size_t at = bytes.find(pattern);
    EXPECT_NE(at, std::string::npos);
    if (at != std::string::npos) {
        std::memcpy(&bytes[at], &count, 4);
    }
    return bytes;
}

// The reasons the checks give; empty when they pass.
std::string embeddedImageProblem(const std::string& extension, const char* data, std::size_t size)
{
    std::string reason;
    const bool passed = checkEmbeddedImage(extension, data, size, reason);
    EXPECT_EQ(passed, reason.empty());
    return reason;
}

std::string headerProblem(const std::string& bytes)
{
    std::string reason;
    const bool passed = checkOsgbHeader(bytes, reason);
    EXPECT_EQ(passed, reason.empty());
    return reason;
}

std::string graphProblem(osg::Node& root)
{
    std::string reason;
    const bool passed = checkLoadedGraph(root, reason);
    EXPECT_EQ(passed, reason.empty());
    return reason;
}

}  // namespace

TEST(DamagedTiles, GeneratedTruncationsAndFlipsNeverCrashOrHang)
{
    setupPluginPath();
    TempDir dir("tiles");
    osg::ref_ptr<osg::Node> box = makeBox(osg::Vec3(0, 0, 0), osg::Vec3(10, 10, 5), osg::Vec4(1, 0, 0, 1));
    for (const char* options : {"", "WriteImageHint=IncludeData Compressor=zlib"}) {
        const std::string bytes = tileBytes(dir / "box.osgb", *box, options);
        std::string reason;
        ASSERT_TRUE(readCheckedOsgb(bytes, (dir / "box.osgb").string(), nullptr, reason).valid()) << reason;
        readDamagedCopies(bytes, (dir / "box.osgb").string(), 60, 60);
    }
}

TEST(DamagedTiles, DamagedCopiesOfARealTileAreRefused)
{
    setupPluginPath();
    const fs::path real = fs::path(VISTREL_REAL_TILES_DIR) / "cc-tile-chain" / "Data" / "Tile_+007_+078" /
                          "Tile_+007_+078_L16_03.osgb";
    if (!fs::exists(real)) {
        GTEST_SKIP() << "no real tile at " << real;
    }
    const std::string bytes = readFile(real);
    EXPECT_LT(readDamagedCopies(bytes, real.string(), 60, 60), 120);
    // The real 62-byte tile holding an empty node is not damage.
    const fs::path empty = fs::path(VISTREL_REAL_TILES_DIR) / "cc-loose-tiles" / "Tile_+003_+013.osgb";
    std::string reason;
    EXPECT_TRUE(readCheckedOsgb(readFile(empty), empty.string(), nullptr, reason).valid()) << reason;
}

TEST(DamagedTiles, CountsClassesAndTexturesBeyondATileAreRefusedBeforeReading)
{
    setupPluginPath();
    TempDir dir("tiles");
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(fanOf37().get());
    // The current layout (arrays as objects) and the older one real
    // exports use (arrays inline, sized after their type).
    for (const char* options : {"", "TargetFileVersion=91"}) {
        const std::string bytes = tileBytes(dir / "fan.osgb", *geode, options);
        std::string reason;
        ASSERT_TRUE(readCheckedOsgb(bytes, (dir / "fan.osgb").string(), nullptr, reason).valid()) << reason;
        EXPECT_FALSE(readCheckedOsgb(withVertexCount(bytes, 0x7FFFFFF0), "fan.osgb", nullptr, reason).valid());
        EXPECT_EQ(reason, std::string("declares ") + (*options ? "an array" : "a list") +
                              " larger than the rest of the file")
            << options;
    }

    geode->getOrCreateStateSet()->addUniform(new osg::Uniform("scale", 2.0f));
    std::string reason;
    EXPECT_FALSE(readCheckedOsgb(tileBytes(dir / "uniform.osgb", *geode, ""), "u.osgb", nullptr, reason).valid());
    EXPECT_EQ(reason, "holds an object of class \"osg::Uniform\" that tiles do not use");

    // OSG reads nested objects by recursion: 200 nested groups are refused.
    osg::ref_ptr<osg::Group> outer = new osg::Group;
    osg::Group* inner = outer.get();
    for (int i = 0; i < 200; ++i) {
        osg::ref_ptr<osg::Group> next = new osg::Group;
        inner->addChild(next.get());
        inner = next.get();
    }
    EXPECT_FALSE(readCheckedOsgb(tileBytes(dir / "deep.osgb", *outer, ""), "deep.osgb", nullptr, reason).valid());
    EXPECT_EQ(reason, "objects nested deeper than 128");

    // A JPEG frame header of 40000 x 30000 pixels, then a sane one.
    std::string jpeg("\xFF\xD8\xFF\xE0\x00\x04\x00\x00\xFF\xC0\x00\x11\x08\x75\x30\x9C\x40\x03", 18);
    EXPECT_EQ(embeddedImageProblem("jpg", jpeg.data(), jpeg.size()),
              "embeds a texture of 40000 x 30000 pixels, more than 16384 a side");
    jpeg[13] = 0x04;
    jpeg[15] = 0x04;
    EXPECT_EQ(embeddedImageProblem("jpeg", jpeg.data(), jpeg.size()), "");
    EXPECT_EQ(embeddedImageProblem("dds", jpeg.data(), jpeg.size()), "embeds a texture of type \"dds\" that tiles do not use");
}

TEST(DamagedTiles, RealTilesPassEveryCheck)
{
    setupPluginPath();
    const fs::path root(VISTREL_REAL_TILES_DIR);
    if (!fs::exists(root)) {
        GTEST_SKIP() << "no real tiles at " << root;
    }
    int read = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().extension() == ".osgb") {
            std::string reason;
            EXPECT_TRUE(readCheckedOsgb(readFile(entry.path()), entry.path().string(), nullptr, reason).valid())
                << entry.path() << ": " << reason;
            ++read;
        }
    }
    EXPECT_GE(read, 10);
}

TEST(DamagedTiles, HeaderAndGraphChecks)
{
    EXPECT_EQ(headerProblem(std::string(12, '\0')), "not an OpenSceneGraph binary file");
    const std::string magic("\xA1\x0E\x91\x6C\x45\x45\xFB\x1A", 8);
    EXPECT_EQ(headerProblem(magic + std::string("\x01\0\0\0", 4)), "ends inside its header");
    const std::string header = magic + std::string("\x01\0\0\0\x5B\0\0\0\0\0\0\0", 12);
    EXPECT_EQ(headerProblem(header + std::string("\x04\0\0\0lzma", 8)), "unknown compressor \"lzma\"");
    // A schema would rearrange OSG's reader tables for every later read.
    EXPECT_EQ(headerProblem(magic + std::string("\x01\0\0\0\x5B\0\0\0\x02\0\0\0\x01\0\0\0" "0", 17)),
              "carries its own schema");
    EXPECT_EQ(headerProblem(header + std::string("\x01\0\0\0" "0\xFF\xFF\xFF\x7F", 9)),
              "holds no readable root object");

    // Indices beyond the vertices, non-finite vertices and cycles.
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    vertices->push_back({0, 0, 0});
    vertices->push_back({1, 0, 0});
    vertices->push_back({0, 1, 0});
    const auto triangle = [](unsigned int a, unsigned int b, unsigned int c) {
        osg::ref_ptr<osg::DrawElementsUInt> set = new osg::DrawElementsUInt(GL_TRIANGLES);
        set->push_back(a);
        set->push_back(b);
        set->push_back(c);
        return set;
    };
    geometry->setVertexArray(vertices.get());
    geometry->addPrimitiveSet(triangle(0, 1, 2));
    osg::ref_ptr<osg::Group> group = new osg::Group;
    group->addChild(geometry.get());
    EXPECT_EQ(graphProblem(*group), "");
    geometry->addPrimitiveSet(triangle(0, 1, 3));
    EXPECT_EQ(graphProblem(*group), "an index beyond its 3 vertices");
    geometry->removePrimitiveSet(1);
    (*vertices)[1].x() = NAN;
    EXPECT_EQ(graphProblem(*group), "a vertex that is not a finite number");
    (*vertices)[1].x() = 1;
    osg::ref_ptr<osg::Vec2Array> texCoords = new osg::Vec2Array;
    texCoords->push_back({0, 0});
    geometry->setTexCoordArray(0, texCoords.get(), osg::Array::BIND_PER_VERTEX);
    EXPECT_EQ(graphProblem(*group), "a per-vertex array shorter than its vertices");
    geometry->setTexCoordArray(0, nullptr);
    osg::ref_ptr<osg::Group> inner = new osg::Group;
    group->addChild(inner.get());
    inner->addChild(group.get());
    EXPECT_EQ(graphProblem(*group), "a node that contains itself");
    inner->removeChildren(0, 1);
}

TEST(DamagedTiles, CallbackReadsRegularFilesOnlyAndWarnsOncePerTile)
{
    setupPluginPath();
    TempDir dir("tiles");
    installTileReadCallback();
    writeFile(dir / "short.osgb", std::string("\xA1\x0E\x91\x6C\x45\x45\xFB\x1A\x01\0\0\0", 12));
    fs::create_directories(dir / "folder.osgb");
    ASSERT_EQ(mkfifo((dir / "fifo.osgb").c_str(), 0600), 0);
    // Textures a tile names as files: a pipe and a JPEG of 40000 x 30000.
    ASSERT_EQ(mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);
    writeFile(dir / "big.jpg", std::string("\xFF\xD8\xFF\xC0\x00\x11\x08\x75\x30\x9C\x40\x03", 12));
    CapturedOutput log;
    for (int round = 0; round < 2; ++round) {
        for (const char* name : {"short.osgb", "folder.osgb", "fifo.osgb"}) {
            EXPECT_FALSE(osgDB::readRefNodeFile((dir / name).string()).valid()) << name;
        }
        for (const char* name : {"pipe.jpg", "big.jpg"}) {
            EXPECT_FALSE(osgDB::readRefImageFile((dir / name).string()).valid()) << name;
        }
    }
    const std::string text = log.text();
    EXPECT_EQ(countOccurrences(text, "[WARN] Skipped damaged tile " + (dir / "short.osgb").string() +
                                         ": ends inside its header"),
              1)
        << text;
    EXPECT_EQ(countOccurrences(text, "Skipped damaged tile " + (dir / "folder.osgb").string() +
                                         ": not a regular file"),
              1);
    EXPECT_EQ(countOccurrences(text, "Skipped damaged tile " + (dir / "fifo.osgb").string()), 1);
    EXPECT_EQ(countOccurrences(text, "Skipped damaged texture " + (dir / "pipe.jpg").string() + ": not a regular file"),
              1);
    EXPECT_EQ(countOccurrences(text, "Skipped damaged texture " + (dir / "big.jpg").string() +
                                         ": embeds a texture of 40000 x 30000 pixels, more than 16384 a side"),
              1);
}
