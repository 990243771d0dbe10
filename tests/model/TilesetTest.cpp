// 3D Tiles: reading tileset.json into tiles placed in the scene, and the
// model source built on it.
#include "model/TileReadLedger.h"
#include "model/tiles3d/Tiles3dSource.h"
#include "model/tiles3d/Tileset.h"
#include "render/FrameCamera.h"
#include "render/OffscreenRenderer.h"
#include "support/CapturePixels.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <osg/io_utils>
#include <osg/PagedLOD>
#include <osgDB/Callbacks>
#include <osgUtil/CullVisitor>
#include <osgUtil/RenderStage>
#include <osgUtil/StateGraph>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>

using namespace vistrel;
using testsupport::TempDir;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

constexpr double kPi = 3.14159265358979323846;

// A 3D Tiles matrix (column by column) from an OSG one.
std::string matrixText(const osg::Matrixd& m)
{
    std::string text = "[";
    for (int i = 0; i < 16; ++i) {
        char number[32];
        std::snprintf(number, sizeof number, "%.17g", m.ptr()[i]);
        text += (i ? "," : "") + std::string(number);
    }
    return text + "]";
}

std::string tilesetText(const std::string& root, const std::string& asset = R"({"version":"1.1"})")
{
    return R"({"asset":)" + asset + R"(,"geometricError":100,"root":)" + root + "}";
}

std::string box(double x, double y, double z, double half)
{
    return R"({"box":[)" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(z) + "," +
           std::to_string(half) + ",0,0,0," + std::to_string(half) + ",0,0,0," + std::to_string(half) + "]}";
}

bool near(const osg::Vec3d& a, const osg::Vec3d& b, double tolerance)
{
    return (a - b).length() <= tolerance;
}

bool mentions(const std::vector<std::string>& texts, const std::string& what)
{
    for (const std::string& text : texts) {
        if (text.find(what) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// A subtree file: header, JSON chunk, binary chunk (each padded to 8 bytes).
std::string subtreeFile(std::string json, std::string binary)
{
    json.resize((json.size() + 7) / 8 * 8, ' ');
    binary.resize((binary.size() + 7) / 8 * 8, '\0');
    std::string out = "subt";
    auto put = [&out](std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out += static_cast<char>((value >> (8 * i)) & 0xffu);
        }
    };
    put(1, 4);
    put(json.size(), 8);
    put(binary.size(), 8);
    return out + json + binary;
}

// A glb of one flat square, 120 m a side, of one colour (glTF y up).
std::string squareGlb(float r, float g, float b)
{
    char json[1024];
    std::snprintf(json, sizeof json, R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],
        "nodes":[{"mesh":0}],"meshes":[{"primitives":[{"attributes":{"POSITION":0},"indices":1,"material":0}]}],
        "materials":[{"pbrMetallicRoughness":{"baseColorFactor":[%g,%g,%g,1]}}],
        "accessors":[{"bufferView":0,"componentType":5126,"count":4,"type":"VEC3","min":[-60,0,-60],"max":[60,0,60]},
                     {"bufferView":1,"componentType":5123,"count":12,"type":"SCALAR"}],
        "bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":48},{"buffer":0,"byteOffset":48,"byteLength":24}],
        "buffers":[{"byteLength":72}]})",
                  r, g, b);
    std::string text = json;
    text.resize((text.size() + 3) / 4 * 4, ' ');
    const float corners[] = {-60, 0, -60, 60, 0, -60, 60, 0, 60, -60, 0, 60};
    const std::uint16_t indices[] = {0, 1, 2, 0, 2, 3, 0, 2, 1, 0, 3, 2};  // both faces
    std::string binary(72, '\0');
    std::memcpy(&binary[0], corners, 48);
    std::memcpy(&binary[48], indices, 24);
    auto word = [](std::uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); };
    return "glTF" + word(2) + word(static_cast<std::uint32_t>(12 + 8 + text.size() + 8 + binary.size())) +
           word(static_cast<std::uint32_t>(text.size())) + word(0x4E4F534Au) + text +
           word(static_cast<std::uint32_t>(binary.size())) + word(0x004E4942u) + binary;
}

// Records what a cull asks the pager for.
class Requests : public osg::NodeVisitor::DatabaseRequestHandler {
public:
    void requestNodeFile(const std::string& fileName, osg::NodePath&, float, const osg::FrameStamp*,
                         osg::ref_ptr<osg::Referenced>&, const osg::Referenced*) override
    {
        files.push_back(fileName);
    }
    std::vector<std::string> files;
};

// The files the pager is asked for when `scene` is culled in a top view of
// `width` metres at 320x180 pixels, the camera placed as pictures place it.
std::vector<std::string> pagedFor(osg::Node& scene, double width)
{
    RenderConfig config;
    config.width = 320;
    config.height = 180;
    CameraSetup setup;
    setup.eye = osg::Vec3d(0, 0, 1000);
    setup.up = osg::Vec3d(0, 1, 0);
    setup.orthoWidth = width;
    setup.orthoHeight = width * 180.0 / 320.0;
    osg::ref_ptr<osg::Camera> camera = new osg::Camera;
    FrameCamera(config).applyToCamera(camera.get(), setup);
    osg::ref_ptr<Requests> requests = new Requests;
    osg::ref_ptr<osgUtil::CullVisitor> cull = new osgUtil::CullVisitor;
    osg::ref_ptr<osgUtil::StateGraph> graph = new osgUtil::StateGraph;
    osg::ref_ptr<osgUtil::RenderStage> stage = new osgUtil::RenderStage;
    osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
    cull->setStateGraph(graph.get());
    cull->setRenderStage(stage.get());
    cull->setFrameStamp(stamp.get());
    cull->setDatabaseRequestHandler(requests.get());
    osg::ref_ptr<osg::Viewport> viewport = new osg::Viewport(0, 0, config.width, config.height);
    cull->pushViewport(viewport.get());
    cull->pushProjectionMatrix(new osg::RefMatrix(camera->getProjectionMatrix()));
    cull->pushModelViewMatrix(new osg::RefMatrix(camera->getViewMatrix()), osg::Transform::ABSOLUTE_RF);
    scene.accept(*cull);
    return requests->files;
}

}  // namespace

TEST(Tileset, PlacesVolumesThroughTheTransformsAndInheritsRefinement)
{
    TempDir dir("tileset");
    // Root: ENU at 31.5 N 9.8 W to ECEF. Child: turned 90 degrees about z
    // and moved 100 m east. Grandchild: a sphere, REPLACE of its own.
    const double lat = 31.5 * kPi / 180.0;
    const double lon = -9.8 * kPi / 180.0;
    const osg::Matrixd toEcef = osg::Matrixd::inverse(enuFromEcef(lat, lon, 20.0));
    const osg::Matrixd turn = osg::Matrixd::rotate(kPi / 2, osg::Vec3d(0, 0, 1)) * osg::Matrixd::translate(100, 0, 0);
    const std::string grandchild = R"({"boundingVolume":{"sphere":[0,0,0,5]},"geometricError":0,"refine":"REPLACE",
        "content":{"uri":"g.glb"}})";
    const std::string child = R"({"transform":)" + matrixText(turn) +
                              R"(,"boundingVolume":{"box":[10,0,0,4,0,0,0,2,0,0,0,1]},
        "geometricError":5,"content":{"url":"c.b3dm"},"children":[)" +
                              grandchild + "]}";
    writeFile(dir / "tileset.json", tilesetText(R"({"transform":)" + matrixText(toEcef) + R"(,"refine":"ADD",
        "boundingVolume":)" + box(0, 0, 0, 200) +
                                                R"(,"geometricError":50,"children":[)" + child + "]}"));
    Tileset tileset;
    std::string reason;
    ASSERT_TRUE(readTileset(dir / "tileset.json", tileset, reason)) << reason;
    EXPECT_TRUE(tileset.problems.empty()) << tileset.problems.front();
    EXPECT_TRUE(tileset.georeferenced);
    EXPECT_NEAR(tileset.latitude, 31.5, 1e-9);
    EXPECT_NEAR(tileset.longitude, -9.8, 1e-9);
    EXPECT_NEAR(tileset.height, 20.0, 1e-6);
    ASSERT_EQ(tileset.tiles.size(), 3u);
    const TilesetTile& root = tileset.tiles[0];
    EXPECT_TRUE(near(root.bound.center(), osg::Vec3d(0, 0, 0), 1e-6));
    EXPECT_NEAR(root.bound.radius(), 200.0 * std::sqrt(3.0), 1e-6);
    // The box's long axis (x) turns north; its centre 10 m along it.
    const TilesetTile& c = tileset.tiles[1];
    EXPECT_EQ(c.path, "0");
    EXPECT_TRUE(near(c.bound.center(), osg::Vec3d(100, 10, 0), 1e-6)) << c.bound.center();
    EXPECT_NEAR(c.bound.radius(), std::sqrt(21.0), 1e-6);
    EXPECT_TRUE(near(osg::Vec3d(1, 0, 0) * c.transform, osg::Vec3d(100, 1, 0), 1e-6));
    EXPECT_EQ(c.refine, Refine::Add);  // from the root
    EXPECT_EQ(c.contents, std::vector<std::string>{"c.b3dm"});
    const TilesetTile& g = tileset.tiles[2];
    EXPECT_EQ(g.path, "0.0");
    EXPECT_EQ(g.refine, Refine::Replace);
    EXPECT_TRUE(near(g.bound.center(), osg::Vec3d(100, 0, 0), 1e-6));
    EXPECT_EQ(tileset.files, (std::vector<std::string>{"c.b3dm", "g.glb"}));

    // Without a transform, a region places the scene at its centre.
    const double w = -0.1710;
    const double s = 0.5497;
    writeFile(dir / "region.json",
              tilesetText(R"({"boundingVolume":{"region":[)" + std::to_string(w) + "," + std::to_string(s) + "," +
                          std::to_string(w + 0.0002) + "," + std::to_string(s + 0.0002) +
                          R"(,0,40]},"geometricError":1,"content":{"uri":"r.glb"}})"));
    ASSERT_TRUE(readTileset(dir / "region.json", tileset, reason)) << reason;
    EXPECT_NEAR(tileset.latitude, (s + 0.0001) * 180.0 / kPi, 1e-9);
    EXPECT_NEAR(tileset.longitude, (w + 0.0001) * 180.0 / kPi, 1e-9);
    EXPECT_TRUE(near(tileset.tiles[0].bound.center(), osg::Vec3d(0, 0, 20), 0.5)) << tileset.tiles[0].bound.center();
    EXPECT_NEAR(tileset.tiles[0].bound.radius(),
                std::hypot(0.0002 * 6378137.0 / 2 * std::cos(s), 0.0001 * 6378137.0, 20), 5.0);
}

TEST(Tileset, LeavesOutDamagedPartsAndRefusesADamagedRoot)
{
    TempDir dir("tileset-damage");
    // A cut file names itself.
    writeFile(dir / "cut.json", tilesetText(R"({"boundingVolume":)" + box(0, 0, 0, 10) + "}").substr(0, 60));
    Tileset tileset;
    std::string reason;
    EXPECT_FALSE(readTileset(dir / "cut.json", tileset, reason));
    EXPECT_NE(reason.find("cut.json: not valid JSON"), std::string::npos) << reason;

    // A root volume of 1e39 gives no model; a child's is left out.
    writeFile(dir / "huge.json", tilesetText(R"({"boundingVolume":{"sphere":[0,0,0,1e39]},"geometricError":1})"));
    EXPECT_FALSE(readTileset(dir / "huge.json", tileset, reason));
    EXPECT_NE(reason.find("huge.json: the root tile left out"), std::string::npos) << reason;

    // External tilesets a.json -> b.json -> a.json; a URL; a path out of the
    // folder; a child of 1e39. The rest stands.
    const std::string children = R"([{"boundingVolume":)" + box(0, 0, 0, 5) +
                                 R"(,"geometricError":1,"content":{"uri":"sub/b.json"}},
        {"boundingVolume":)" + box(0, 0, 0, 5) +
                                 R"(,"geometricError":1,"content":{"uri":"https://example.com/x.glb"}},
        {"boundingVolume":)" + box(0, 0, 0, 5) +
                                 R"(,"geometricError":1,"content":{"uri":"../../x.glb"}},
        {"boundingVolume":{"box":[0,0,0,1e39,0,0,0,1,0,0,0,1]},"geometricError":1,"content":{"uri":"y.glb"}},
        {"boundingVolume":)" + box(1, 1, 1, 5) +
                                 R"(,"geometricError":0,"content":{"uri":"ok%20one.glb"}}])";
    writeFile(dir / "a.json", tilesetText(R"({"boundingVolume":)" + box(0, 0, 0, 50) +
                                          R"(,"geometricError":9,"refine":"ADD","children":)" + children + "}"));
    fs::create_directories(dir / "sub");
    writeFile(dir / "sub" / "b.json", tilesetText(R"({"boundingVolume":)" + box(0, 0, 0, 5) +
                                                  R"(,"geometricError":1,"content":{"uri":"../a.json"}})"));
    ASSERT_TRUE(readTileset(dir / "a.json", tileset, reason)) << reason;
    EXPECT_TRUE(mentions(tileset.problems, "sub/b.json names a.json, which is already being read"));
    EXPECT_TRUE(mentions(tileset.problems, "is a URL"));
    EXPECT_TRUE(mentions(tileset.problems, "lies outside the model folder"));
    EXPECT_TRUE(mentions(tileset.problems, "a.json: tile 3 left out"));
    EXPECT_EQ(tileset.problems.size(), 4u) << testing::PrintToString(tileset.problems);
    EXPECT_EQ(tileset.files, (std::vector<std::string>{"sub/b.json", "ok one.glb"}));
    ASSERT_EQ(tileset.tiles.size(), 6u);  // the root, four children and b.json's root
    EXPECT_EQ(tileset.tiles[2].path, "0.e0");
    EXPECT_EQ(tileset.tiles[2].refine, Refine::Add);

    // The source tells each part left out as a WARN.
    testsupport::CapturedOutput log;
    ASSERT_TRUE(openTiles3dSource((dir / "a.json").string(), ModelOptions(), reason)) << reason;
    EXPECT_EQ(testsupport::countOccurrences(log.text(), "[WARN] Skipped part of the 3D Tiles model"), 4) << log.text();
}

TEST(Tileset, ReadsAnImplicitQuadtreeFromItsSubtrees)
{
    TempDir dir("tileset-implicit");
    // Levels 0-1 in a binary subtree: tiles 0 and 3 of level 1, content on
    // tile 3 only, one child subtree below tile 3 (its child 3). Level 2 in
    // a JSON subtree with everything there.
    const std::string root = R"({"boundingVolume":{"box":[0,0,0,100,0,0,0,100,0,0,0,10]},"geometricError":64,
        "refine":"REPLACE","content":{"uri":"content/{level}/{x}/{y}.glb"},
        "implicitTiling":{"subdivisionScheme":"QUADTREE","subtreeLevels":2,"availableLevels":3,
                          "subtrees":{"uri":"subtrees/{level}.{x}.{y}.subtree"}}})";
    writeFile(dir / "tileset.json", tilesetText(root));
    fs::create_directories(dir / "subtrees");
    std::string bits(1 + 1 + 2, '\0');
    bits[0] = static_cast<char>(0x13);  // tiles: bit 0 (root), 1 (tile 0), 4 (tile 3)
    bits[1] = static_cast<char>(0x10);  // content: bit 4
    bits[3] = static_cast<char>(0x80);  // child subtrees: bit 15
    const std::string json = R"({"buffers":[{"byteLength":4}],"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":1},
        {"buffer":0,"byteOffset":1,"byteLength":1},{"buffer":0,"byteOffset":2,"byteLength":2}],
        "tileAvailability":{"bitstream":0},"contentAvailability":[{"bitstream":1}],
        "childSubtreeAvailability":{"bitstream":2}})";
    writeFile(dir / "subtrees" / "0.0.0.subtree", subtreeFile(json, bits));
    writeFile(dir / "subtrees" / "2.3.3.subtree", R"({"tileAvailability":{"constant":1},
        "contentAvailability":[{"constant":1}],"childSubtreeAvailability":{"constant":0}})");
    Tileset tileset;
    std::string reason;
    ASSERT_TRUE(readTileset(dir / "tileset.json", tileset, reason)) << reason;
    EXPECT_TRUE(tileset.problems.empty()) << testing::PrintToString(tileset.problems);
    ASSERT_EQ(tileset.tiles.size(), 4u);
    EXPECT_EQ(tileset.tiles[1].path, "0");
    EXPECT_TRUE(tileset.tiles[1].contents.empty());
    const TilesetTile& three = tileset.tiles[2];
    EXPECT_EQ(three.path, "3");
    EXPECT_EQ(three.contents, std::vector<std::string>{"content/1/1/1.glb"});
    EXPECT_DOUBLE_EQ(three.geometricError, 32.0);
    EXPECT_TRUE(near(three.bound.center(), osg::Vec3d(50, 50, 0), 1e-9));
    const TilesetTile& deep = tileset.tiles[3];
    EXPECT_EQ(deep.path, "3.3");
    EXPECT_EQ(deep.parent, 2);
    EXPECT_EQ(deep.contents, std::vector<std::string>{"content/2/3/3.glb"});
    EXPECT_TRUE(near(deep.bound.center(), osg::Vec3d(75, 75, 0), 1e-9));
    EXPECT_NEAR(deep.bound.radius(), std::sqrt(25.0 * 25.0 * 2 + 100.0), 1e-9);
    EXPECT_EQ(tileset.indexFiles.size(), 3u);

    // A subtree whose bitstream runs past its buffer is left out, named.
    bits.resize(2);
    writeFile(dir / "subtrees" / "0.0.0.subtree", subtreeFile(json, bits).substr(0, 24 + 320));
    EXPECT_FALSE(readTileset(dir / "tileset.json", tileset, reason));
    EXPECT_NE(reason.find("subtrees/0.0.0.subtree: subtree left out"), std::string::npos) << reason;
}

TEST(Tiles3dSource, RefinesWhereTheGeometricErrorExceedsTheScreenSpaceErrorInOrthographicViews)
{
    // A root of 100 m whose error is 10 m, with one child: at 320 pixels
    // across, it is refined below 10 m a pixel (3200 m across) for a
    // screen-space error of 1, below 5 m a pixel for 2. The content is
    // damaged: told once, counted, and the tree still pages.
    TempDir dir("tiles3d-lod");
    const std::string child = R"({"boundingVolume":)" + box(0, 0, 0, 20) + R"(,"geometricError":0,
        "content":{"uri":"child.glb"}})";
    writeFile(dir / "tileset.json", tilesetText(R"({"boundingVolume":)" + box(0, 0, 0, 100 / std::sqrt(3.0)) +
                                                R"(,"geometricError":10,"refine":"REPLACE",
        "content":{"uri":"root.glb"},"children":[)" +
                                                child + "]}"));
    writeFile(dir / "root.glb", "BAD! not a glb");
    writeFile(dir / "child.glb", "BAD! not a glb either");
    for (const double sse : {1.0, 2.0}) {
        ModelOptions options;
        options.maxScreenSpaceError = sse;
        std::string reason;
        std::unique_ptr<ModelSource> source = openTiles3dSource(dir.path().string(), options, reason);
        ASSERT_TRUE(source) << reason;
        ASSERT_EQ(source->roots(), std::vector<std::string>{"tileset.json#"});
        testsupport::CapturedOutput log;
        osg::ref_ptr<osg::Node> root = source->readRoot(source->roots()[0], reason);
        ASSERT_TRUE(root);
        const double across = 3200.0 / sse;
        EXPECT_TRUE(pagedFor(*root, across * 0.97).size() == 1) << sse;
        EXPECT_TRUE(pagedFor(*root, across * 1.03).empty()) << sse;

        auto* lod = dynamic_cast<osg::PagedLOD*>(root.get());
        ASSERT_TRUE(lod);
        const TileReadCounts before = tileReadCounts();
        const osgDB::Options* paging =
            lod->getDatabaseOptions() ? dynamic_cast<const osgDB::Options*>(lod->getDatabaseOptions()) : nullptr;
        ASSERT_TRUE(paging && paging->getReadFileCallback());
        for (int i = 0; i < 2; ++i) {
            osgDB::ReaderWriter::ReadResult children =
                paging->getReadFileCallback()->readNode(lod->getFileName(1), paging);
            ASSERT_TRUE(children.getNode()) << lod->getFileName(1);
            EXPECT_EQ(children.getNode()->asGroup()->getNumChildren(), 1u);
        }
        const std::string text = log.text();
        if (sse == 1.0) {
            EXPECT_EQ(testsupport::countOccurrences(text, "Skipped damaged 3D Tiles content"), 2) << text;
            EXPECT_EQ(tileReadCounts().refused, before.refused + 1);
        }
    }
}

TEST(Tiles3dSource, PicturesWaitForThePagerToBringTheFinerTiles)
{
    // Green while the root tile (radius 85 m, error 2.83 m) spans less than
    // 60 pixels, its red child once it spans more.
    TempDir dir("tiles3d-paging");
    const std::string volume = R"({"box":[0,0,0,60,0,0,0,60,0,0,0,1]})";
    writeFile(dir / "tileset.json", tilesetText(R"({"boundingVolume":)" + volume + R"(,"geometricError":2.83,
        "refine":"REPLACE","content":{"uri":"green.glb"},"children":[{"boundingVolume":)" +
                                                volume + R"(,"geometricError":0,"content":{"uri":"red.glb"}}]})"));
    writeFile(dir / "green.glb", squareGlb(0, 1, 0));
    writeFile(dir / "red.glb", squareGlb(1, 0, 0));
    std::string reason;
    std::unique_ptr<ModelSource> source = openTiles3dSource(dir.path().string(), ModelOptions(), reason);
    ASSERT_TRUE(source) << reason;
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    scene->addChild(source->readRoot(source->roots().at(0), reason).get());
    scene->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);
    RenderConfig config;
    config.width = 320;
    config.height = 180;
    config.warmup_frames = 0;
    OffscreenRenderer renderer(config);
    std::vector<std::string> errors;
    ASSERT_TRUE(renderer.initialize(scene.get(), errors)) << testing::PrintToString(errors);
    for (const auto& [across, green] : {std::pair<double, int>{3000.0, 255}, {300.0, 0}, {3000.0, 255}}) {
        CameraSetup setup;
        setup.eye = osg::Vec3d(0, 0, 1000);
        setup.up = osg::Vec3d(0, 1, 0);
        setup.orthoWidth = across;
        setup.orthoHeight = across * 180.0 / 320.0;
        ASSERT_TRUE(renderer.renderFrame(setup));
        EXPECT_FALSE(renderer.tilesIncomplete());
        const testsupport::Rgba c = testsupport::pixelFromTop(*renderer.captureImage(), 160, 90);
        EXPECT_TRUE(testsupport::isColour(c, 255 - green, green, 0))
            << across << " m: " << c.r << "," << c.g << "," << c.b;
    }
}

TEST(Tiles3dSource, RootsKeepTheContentAboveThemOnlyWhenItIsAdded)
{
    // A large root with content over a small child with content and an
    // empty tile, whose child has content.
    TempDir dir("tiles3d-roots");
    const std::string children = R"([{"boundingVolume":)" + box(0, 0, 0, 50) +
                                 R"(,"geometricError":1,"content":{"uri":"a.glb"}},
        {"boundingVolume":)" + box(0, 0, 0, 300) +
                                 R"(,"geometricError":20,"children":[{"boundingVolume":)" + box(0, 0, 0, 300) +
                                 R"(,"geometricError":0,"content":{"uri":"b.glb"}}]}])";
    for (const std::string refine : {"ADD", "REPLACE"}) {
        writeFile(dir / "tileset.json", tilesetText(R"({"boundingVolume":)" + box(0, 0, 0, 500) + R"(,"refine":")" +
                                                    refine + R"(","geometricError":90,"content":{"uri":"top.glb"},
            "children":)" + children + "}"));
        std::string reason;
        std::unique_ptr<ModelSource> source =
            openTiles3dSource((dir / "tileset.json").string(), ModelOptions(), reason);
        ASSERT_TRUE(source) << reason;
        std::vector<std::string> expected = {"tileset.json#0", "tileset.json#1.0"};
        if (refine == "ADD") {
            expected.insert(expected.begin(), "tileset.json#:content");
        }
        EXPECT_EQ(source->roots(), expected) << refine;
        const RootEntry top = source->readEntry(source->roots()[0]);
        EXPECT_NEAR(top.bound.radius(), (refine == "ADD" ? 500 : 50) * std::sqrt(3.0) * 1.01, 1e-3);  // with a margin
    }
}

TEST(Tiles3dSource, OpensARealExport)
{
    const fs::path model = fs::path(VISTREL_REAL_TILES_DIR) / ".." / "real-3dtiles" / "essaouira";
    if (!fs::exists(model / "tileset.json")) {
        GTEST_SKIP() << "no real 3D Tiles export at " << model;
    }
    std::string reason;
    std::unique_ptr<ModelSource> source = openTiles3dSource(model.string(), ModelOptions(), reason);
    ASSERT_TRUE(source) << reason;
    EXPECT_EQ(source->formatName(), "3D Tiles");
    ASSERT_FALSE(source->roots().empty());
    const RootEntry entry = source->readEntry(source->roots()[0]);
    EXPECT_TRUE(entry.readable);
    EXPECT_GT(entry.bound.radius(), 10.0f);
    EXPECT_LT(entry.bound.center().length(), 1000.0f);
    EXPECT_EQ(entry.size, fs::file_size(model / "tileset.json"));

    const SceneOrigin& origin = source->origin();
    ASSERT_TRUE(origin.valid);
    ASSERT_EQ(origin.srs.rfind("ENU:", 0), 0u);
    double lat = 0.0;
    double lon = 0.0;
    ASSERT_EQ(std::sscanf(origin.srs.c_str(), "ENU:%lf,%lf", &lat, &lon), 2) << origin.srs;
    EXPECT_NEAR(lat, 31.5, 0.1);
    EXPECT_NEAR(lon, -9.8, 0.1);

    const ModelIdentity identity = source->identity();
    EXPECT_EQ(identity.originFile, "tileset.json");
    EXPECT_EQ(identity.origin.size, fs::file_size(model / "tileset.json"));
    std::size_t contentFiles = 0;
    for (const auto& item : fs::directory_iterator(model)) {
        contentFiles += item.path().extension() != ".json";
    }
    EXPECT_EQ(identity.roots.size(), contentFiles);
    EXPECT_GT(identity.roots.front().size, 0u);

    osg::ref_ptr<osg::Node> node = source->readRoot(source->roots()[0], reason);
    ASSERT_TRUE(node) << reason;
    EXPECT_TRUE(node->getBound().valid());
}
