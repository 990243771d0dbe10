// Vistrel over the sample city, end to end: progress protocol, images,
// skipped frames, failures, the report, occlusion choices, outlines and
// damaged tiles.
#include "SampleRun.h"

#include "app/RenderBatch.h"
#include "core/NumberText.h"
#include "vector/PolygonFrameReader.h"
#include "model/OsgbSource.h"
#include "model/SceneLoader.h"
#include "render/FrameCamera.h"
#include "support/GeoFixtures.h"
#include "support/OutputProbes.h"

#include <ogr_core.h>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

using namespace batchtest;
using namespace testsupport;
using nlohmann::json;

namespace {

class SampleCity : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(sampleDir() / "truth.json")) {
            FAIL() << "no sample city in " << sampleDir() << " (build the sample_city target)";
        }
    }
};

std::map<std::string, std::size_t> columnsOf(const std::vector<std::string>& header)
{
    std::map<std::string, std::size_t> columns;
    for (std::size_t i = 0; i < header.size(); ++i) {
        columns.emplace(header[i], i);
    }
    return columns;
}

double cellNumber(const std::string& cell)
{
    return std::stod(cell[0] == '\t' ? cell.substr(1) : cell);
}

bool isMagenta(const unsigned char* p)
{
    return p[0] > 170 && p[1] < 80 && p[2] > 190;
}

int magentaPixels(const DecodedPng& image)
{
    int count = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            count += isMagenta(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return count;
}

// Share of points along the frame's rings that have an outline-coloured
// pixel within `band` pixels of their projection into the vertical image.
double outlineCoverage(const DecodedPng& image, const vistrel::PolygonFrame& frame, const vistrel::RenderConfig& config,
                       int band)
{
    const vistrel::CameraSetup setup = vistrel::FrameCamera(config).computeSetup(frame, "top");
    int points = 0;
    int covered = 0;
    for (const auto& ring : frame.rings) {
        for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
            const double length = std::hypot(ring[i + 1].x - ring[i].x, ring[i + 1].y - ring[i].y);
            const int steps = std::max(1, static_cast<int>(length));
            for (int s = 0; s < steps; ++s) {
                const double t = static_cast<double>(s) / steps;
                const double x = ring[i].x + t * (ring[i + 1].x - ring[i].x);
                const double y = ring[i].y + t * (ring[i + 1].y - ring[i].y);
                const int px =
                    static_cast<int>((x - setup.center.x()) / setup.orthoWidth * image.width + image.width / 2.0);
                const int py =
                    static_cast<int>(image.height / 2.0 - (y - setup.center.y()) / setup.orthoHeight * image.height);
                ++points;
                bool found = false;
                for (int dy = -band; dy <= band && !found; ++dy) {
                    for (int dx = -band; dx <= band && !found; ++dx) {
                        const int qx = px + dx;
                        const int qy = py + dy;
                        if (qx >= 0 && qy >= 0 && qx < image.width && qy < image.height) {
                            found = isMagenta(image.pixel(qx, qy));
                        }
                    }
                }
                covered += found ? 1 : 0;
            }
        }
    }
    return points ? static_cast<double>(covered) / points : 0.0;
}

}  // namespace

TEST_F(SampleCity, NorthAndTopWithOutlinesProtocolFilesAndReport)
{
    TempDir dir("batch");
    const json config = smallConfig({{"angles", {"north", "top"}},
                                     {"output_top_range", true},
                                     {"range_line_color", "magenta"},
                                     {"range_line_width", 3}});
    const SampleRun run = runVistrel(dir, config);
    ASSERT_EQ(run.process.exitCode, 0) << run.log() << run.process.err;

    const auto& frames = truth().at("frames");
    const int n = static_cast<int>(frames.size());
    const auto names = uniqueFrameNames();

    // Loading: origin, zone prefix, frames, alignment and heights.
    for (const std::string& expected :
         {"[INFO] Read metadata model origin from " + (sampleDir() / "city" / "metadata.xml").string() +
              ": x=512000, y=3390000, z=0, srs=EPSG:4547",
          std::string("[INFO] Applying SHP coordinate offset: x=-38000000, y=0 (Gauss zone prefix 38000000)"),
          "[INFO] Read " + std::to_string(n) + " polygon frames from " + (sampleDir() / "parcels.shp").string() +
              ". Bounds=(",
          std::string("[INFO] SHP XY already near scene. Bounds="), std::string("[INFO] Sampled model heights for "),
          std::string("[INFO] FBO renderer initialized.")}) {
        EXPECT_NE(run.log().find(expected), std::string::npos) << expected;
    }

    // Progress protocol: one line per frame and angle, in order, ending with eta 0.
    const auto progress = linesWith(run.log(), "IMAGE_PROGRESS ");
    ASSERT_EQ(static_cast<int>(progress.size()), 2 * n);
    for (int i = 0; i < 2 * n; ++i) {
        EXPECT_EQ(fieldValue(progress[i], "image"), std::to_string(i + 1));
        EXPECT_EQ(fieldValue(progress[i], "total_images"), std::to_string(2 * n));
        EXPECT_EQ(fieldValue(progress[i], "frame"), std::to_string(i / 2 + 1));
        EXPECT_EQ(fieldValue(progress[i], "angle"), i % 2 == 0 ? "north" : "top");
    }
    EXPECT_EQ(fieldValue(progress.back(), "eta"), "0.00");
    EXPECT_EQ(static_cast<int>(linesWith(run.log(), "FRAME_PROGRESS ").size()), n);

    // Files and skips against the manifest.
    int skippedFrames = 0;
    for (int i = 0; i < n; ++i) {
        const auto& frame = frames[i];
        const fs::path folder = run.outputDir / names[i];
        if (frame.at("skip").get<bool>()) {
            ++skippedFrames;
            EXPECT_NE(run.log().find("SKIP_FRAME name=" + frame.at("name").get<std::string>() +
                                     " reason=正射图斑范围内疑似无有效模型或图像异常 white="),
                      std::string::npos)
                << frame.at("role");
            EXPECT_EQ(fieldValue(progress[2 * i], "success"), "0");
            EXPECT_EQ(fieldValue(progress[2 * i + 1], "success"), "0");
            EXPECT_FALSE(fs::exists(folder / "top.png"));
            continue;
        }
        EXPECT_EQ(fieldValue(progress[2 * i], "success"), "1") << frame.at("role");
        for (const char* file : {"north.png", "top.png", "top_range.png"}) {
            int width = 0, height = 0;
            ASSERT_TRUE(pngSize(folder / file, width, height)) << folder / file;
            EXPECT_EQ(width, 320);
            EXPECT_EQ(height, 180);
        }
    }
    EXPECT_GE(skippedFrames, 2);  // outside the model and over the hole
    // The summary counts the outline images too, as the report does.
    EXPECT_NE(run.log().find("Render finished. Success " + std::to_string(3 * (n - skippedFrames)) + "/" +
                             std::to_string(3 * n) + ", skipped " + std::to_string(3 * skippedFrames) + ", failed 0"),
              std::string::npos);

    // The report: one row per frame, heights as the manifest has them.
    const auto rows = parseCsv(readFile(run.outputDir / "render_report.csv"));
    ASSERT_EQ(static_cast<int>(rows.size()), n + 1);
    ASSERT_EQ(rows[0].size(), 29u);  // the measures last: two visible shares and the model share
    auto col = columnsOf(rows[0]);
    for (int i = 0; i < n; ++i) {
        const auto& row = rows[i + 1];
        const auto& frame = frames[i];
        ASSERT_EQ(row.size(), 29u);
        EXPECT_EQ(row[col.at("序号")], std::to_string(i + 1));
        EXPECT_EQ(row[col.at("文件夹名称")], names[i]);
        if (frame.at("skip").get<bool>()) {
            EXPECT_EQ(row[col.at("北侧结果")], "跳过");
            EXPECT_EQ(row[col.at("范围线正射结果")], "跳过");
            EXPECT_EQ(row[col.at("正射备注")].rfind("正射图斑范围内疑似无有效模型或图像异常", 0), 0u);
            // No model under it: no heights, rather than made-up ones, and no model over its area.
            for (const char* title : {"最低高程", "最高高程", "中心高程", "北侧可见比例"}) {
                EXPECT_EQ(row[col.at(title)], "") << title << " of " << frame.at("role");
            }
            EXPECT_EQ(row[col.at("正射模型覆盖比例")], "0.000") << frame.at("role");
            continue;
        }
        EXPECT_EQ(row[col.at("正射结果")], "成功");
        EXPECT_EQ(row[col.at("范围线正射图片")], "top_range.png");
        EXPECT_NEAR(cellNumber(row[col.at("最低高程")]), frame.at("ground_z").get<double>(), 0.5) << frame.at("role");
        EXPECT_NEAR(cellNumber(row[col.at("最高高程")]), frame.at("roof_z").get<double>(), 0.5) << frame.at("role");
        EXPECT_NEAR(cellNumber(row[col.at("最小X")]), frame.at("bounds")[0].get<double>(), 0.01);
        EXPECT_EQ(row[col.at("最小X")][0], '\t');
    }

    // The ordinary images of a frame and the next frame's first image show no outline.
    for (int i = 0; i < n; ++i) {
        if (frames[i].at("skip").get<bool>()) {
            continue;
        }
        const fs::path folder = run.outputDir / names[i];
        EXPECT_GT(magentaPixels(readPng(folder / "top_range.png")), 0) << names[i];
        EXPECT_EQ(magentaPixels(readPng(folder / "top.png")), 0) << names[i];
        if (i + 1 < n && !frames[i + 1].at("skip").get<bool>()) {
            EXPECT_EQ(magentaPixels(readPng(run.outputDir / names[i + 1] / "north.png")), 0) << names[i + 1];
        }
    }
}

TEST_F(SampleCity, OutlinesLieOnTheFrameEdges)
{
    // The frames moved by 0.125 units: at y = 3.39e6 that falls between two
    // floats, a shift of about 4 pixels here if the outline were stored in them.
    TempDir dir("batch");
    const json config = smallConfig({{"angles", {"top"}},
                                     {"output_top_range", true},
                                     {"range_line_color", "magenta"},
                                     {"range_line_width", 2},
                                     {"width", 1280},
                                     {"height", 720},
                                     {"shp_offset_y", 0.125}});
    const SampleRun run = runVistrel(dir, config);
    ASSERT_EQ(run.process.exitCode, 0) << run.log() << run.process.err;

    const auto& frames = truth().at("frames");
    const int n = static_cast<int>(frames.size());
    const auto names = uniqueFrameNames();
    vistrel::RenderConfig renderConfig;
    renderConfig.width = 1280;
    renderConfig.height = 720;
    std::vector<vistrel::PolygonFrame> shapes;
    {
        CapturedOutput quiet;
        vistrel::FrameReadOptions parcels = sampleParcels();
        parcels.offsetY = 0.125;
        shapes = vistrel::readPolygonFrames(parcels);
    }
    ASSERT_EQ(static_cast<int>(shapes.size()), n);
    int checked = 0;
    for (int i = 0; i < n; ++i) {
        if (frames[i].at("skip").get<bool>()) {
            continue;
        }
        const DecodedPng outlined = readPng(run.outputDir / names[i] / "top_range.png");
        EXPECT_GT(outlineCoverage(outlined, shapes[i], renderConfig, 1), 0.95) << names[i];
        ++checked;
    }
    EXPECT_GT(checked, 10);
}

TEST_F(SampleCity, EveryRingOfAParcelIsOutlinedHolesIncluded)
{
    // A 60 x 60 m parcel with a 30 x 30 m enclave, and a second part.
    TempDir dir("batch");
    const fs::path parcel = dir / "enclave.gpkg";
    writeVectorFile(parcel, "GPKG", wkbMultiPolygon, {"ZDDM", "FWBH"},
                    {{"MULTIPOLYGON (((512060 3390100,512120 3390100,512120 3390160,512060 3390160,512060 3390100),"
                      "(512075 3390115,512105 3390115,512105 3390145,512075 3390145,512075 3390115)),"
                      "((512130 3390100,512150 3390100,512150 3390120,512130 3390120,512130 3390100)))",
                      {{"ZDDM", "enclave"}, {"FWBH", "0001"}}}});
    const SampleRun run = runVistrel(dir, smallConfig({{"shp_path", parcel.string()},
                                                       {"output_top_range", true},
                                                       {"range_line_color", "magenta"},
                                                       {"range_line_width", 2}}));
    ASSERT_EQ(run.process.exitCode, 0) << run.log();
    vistrel::FrameReadOptions options;
    options.path = parcel.string();
    options.fieldNames = {"ZDDM", "FWBH"};
    std::vector<vistrel::PolygonFrame> frames;
    {
        CapturedOutput quiet;
        frames = vistrel::readPolygonFrames(options);
    }
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_EQ(frames[0].rings.size(), 3u);
    const DecodedPng outlined = readPng(run.outputDir / frames[0].uniqueName / "top_range.png");
    vistrel::RenderConfig renderConfig;
    renderConfig.width = 320;
    renderConfig.height = 180;
    for (std::size_t r = 0; r < frames[0].rings.size(); ++r) {
        const auto& ring = frames[0].rings[r];
        for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
            vistrel::PolygonFrame edge = frames[0];
            edge.rings = {{ring[i], ring[i + 1]}};
            EXPECT_GT(outlineCoverage(outlined, edge, renderConfig, 1), 0.95) << "ring " << r << " edge " << i;
        }
    }
}

TEST_F(SampleCity, PreviewLimitRendersTheFirstFrames)
{
    TempDir dir("batch");
    const SampleRun run = runVistrel(dir, smallConfig({{"preview_limit", 5}}));
    EXPECT_EQ(run.process.exitCode, 0) << run.log();
    EXPECT_NE(run.log().find("[INFO] Preview mode enabled. Rendering first 5 frames."), std::string::npos);
    EXPECT_EQ(linesWith(run.log(), "FRAME_PROGRESS ").size(), 5u);
    EXPECT_EQ(fieldValue(linesWith(run.log(), "IMAGE_PROGRESS ").back(), "total_images"), "5");
    EXPECT_EQ(parseCsv(readFile(run.outputDir / "render_report.csv")).size(), 6u);
}

TEST_F(SampleCity, AnUnwritableImageFailsAlone)
{
    TempDir dir("batch");
    const auto names = uniqueFrameNames();
    // A folder where the first frame's vertical image should go.
    fs::create_directories(dir / "out" / names[0] / "top.png");
    const SampleRun run = runVistrel(dir, smallConfig({{"angles", {"top", "east"}}}));
    EXPECT_EQ(run.process.exitCode, 4) << run.log();
    EXPECT_NE(run.log().find("[ERROR] Failed to write image: " + (run.outputDir / names[0] / "top.png").string()),
              std::string::npos)
        << run.log();
    EXPECT_TRUE(fs::exists(run.outputDir / names[0] / "east.png"));
    EXPECT_TRUE(fs::exists(run.outputDir / names[1] / "top.png"));
    const auto rows = parseCsv(readFile(run.outputDir / "render_report.csv"));
    ASSERT_GT(rows.size(), 2u);
    auto col = columnsOf(rows[0]);
    EXPECT_EQ(rows[1][col.at("正射结果")], "失败");
    EXPECT_EQ(rows[1][col.at("正射图片")], "top.png");
    EXPECT_EQ(rows[1][col.at("东侧结果")], "成功");
    EXPECT_NE(run.log().find(", failed 1, hidden "), std::string::npos);
}

TEST_F(SampleCity, DamagedChildTilesAreSkippedOnceAndTheRestRenders)
{
    TempDir dir("batch");
    fs::copy(sampleDir() / "city", dir / "city", fs::copy_options::recursive);
    const fs::path tile = dir / "city" / "Data" / "Tile_+000_+000";
    // A child cut after its header (the reader used to loop forever on it)
    // and one stored plain with its root class name damaged.
    const fs::path truncated = tile / "Tile_+000_+000_L19_00.osgb";
    fs::resize_file(truncated, 12);
    const fs::path flipped = tile / "Tile_+000_+000_L19_01.osgb";
    vistrel::setupPluginPath();
    osg::ref_ptr<osg::Node> child = osgDB::readRefNodeFile(flipped.string());
    ASSERT_TRUE(child.valid());
    ASSERT_TRUE(osgDB::writeNodeFile(*child, flipped.string()));
    std::string bytes = readFile(flipped);
    ASSERT_EQ(bytes.substr(29, 5), "osg::");
    bytes[29] ^= 0x20;
    bytes[33] ^= 0x01;
    writeFile(flipped, bytes);

    const SampleRun run = runVistrel(dir, smallConfig({{"osgb_path", (dir / "city").string()}}));
    EXPECT_EQ(run.process.exitCode, 0) << run.log();
    for (const fs::path& damaged : {truncated, flipped}) {
        EXPECT_EQ(countOccurrences(run.log(), "[WARN] Skipped damaged tile " + damaged.string() + ": "), 1)
            << run.log();
    }
    // The frames over the damaged tile render from its coarser levels, as
    // every other frame does.
    const json& frames = truth().at("frames");
    const auto skips =
        std::count_if(frames.begin(), frames.end(), [](const json& f) { return f.at("skip").get<bool>(); });
    const std::string summary = "Render finished. Success " + std::to_string(frames.size() - skips) + "/" +
                                std::to_string(frames.size()) + ", skipped " + std::to_string(skips) + ", failed 0";
    EXPECT_NE(run.log().find(summary), std::string::npos) << run.log();
}

// A root tile whose bound is no place (radius 1e39, as a double in the file;
// a centre that is not a point) is left out with one WARN: the run ends as
// it ends with those tiles gone, and every other frame renders.
TEST_F(SampleCity, RootsWithBoundsBeyondAnyPlaceAreLeftOutAlone)
{
    TempDir dir("bad-bounds");
    fs::copy(sampleDir() / "city", dir / "city", fs::copy_options::recursive);
    fs::copy(sampleDir() / "city", dir / "gone", fs::copy_options::recursive);
    vistrel::setupPluginPath();
    const char* const tiles[] = {"Tile_+000_+000", "Tile_+001_+001"};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<fs::path> bad;
    for (const char* tile : tiles) {
        const fs::path root = dir / "city" / "Data" / tile / (std::string(tile) + ".osgb");
        osg::ref_ptr<osg::Group> wrapper = new osg::Group;
        wrapper->addChild(osgDB::readRefNodeFile(root.string()));
        ASSERT_EQ(wrapper->getNumChildren(), 1u);
        const bool huge = bad.empty();
        wrapper->setInitialBound(huge ? osg::BoundingSphere(osg::Vec3(100, 100, 10), 1e30f)
                                      : osg::BoundingSphere(osg::Vec3(nan, 100, 10), 60.0f));
        writeNode(root, *wrapper);
        if (huge) {
            // The writer keeps the radius as a double: make it 1e39.
            std::string bytes = readFile(root);
            const double written = 1e30f, wanted = 1e39;
            const std::string from(reinterpret_cast<const char*>(&written), 8);
            ASSERT_NE(bytes.find(from), std::string::npos);
            bytes.replace(bytes.find(from), 8, reinterpret_cast<const char*>(&wanted), 8);
            writeFile(root, bytes);
        }
        bad.push_back(root);
        fs::remove_all(dir / "gone" / "Data" / tile);
    }

    const SampleRun run = runVistrel(dir, smallConfig({{"osgb_path", (dir / "city").string()}}));
    const SampleRun gone =
        runVistrel(dir, smallConfig({{"osgb_path", (dir / "gone").string()}, {"output_dir", "out-gone"}}));
    EXPECT_EQ(run.process.exitCode, gone.process.exitCode) << run.log();
    EXPECT_EQ(run.process.exitCode, 0) << run.log();
    for (const fs::path& root : bad) {
        EXPECT_EQ(countOccurrences(run.log(), "[WARN] Skipped root tile " + root.string() + ": "), 1) << run.log();
    }
    EXPECT_NE(run.log().find("root tiles left out for their bounds: 2"), std::string::npos) << run.log();
    const auto images = pngFilesBelow(run.outputDir);
    EXPECT_GT(images.size(), truth().at("frames").size() / 2);
    EXPECT_TRUE(images == pngFilesBelow(gone.outputDir));
}

TEST(RenderBatchTarget, ATargetBeyondTheContextFailsTheRunWithoutSkips)
{
    // Sizes up to 16384 pass the configuration, but a GPU may take less: no
    // frame may then pass for "no model" on an empty picture. The limit is
    // lowered here, as llvmpipe takes the full 16384.
    vistrel::RenderConfig config;
    config.width = 320;
    config.height = 64;
    vistrel::RenderBatch batch(config);
    batch.renderer().limitTargetSize(256);
    osg::ref_ptr<osg::Node> scene = makeBox(osg::Vec3(-5, -5, 0), osg::Vec3(5, 5, 5), osg::Vec4(1, 0, 0, 1));
    vistrel::PolygonFrame frame;
    frame.name = "box";
    frame.maxX = frame.maxY = 5;
    CapturedOutput log;
    EXPECT_FALSE(batch.run(scene.get(), {frame}));
    EXPECT_NE(log.text().find("[ERROR] Render target 320x64 exceeds the OpenGL limit GL_MAX_RENDERBUFFER_SIZE 256."),
              std::string::npos)
        << log.text();
    EXPECT_EQ(log.text().find("SKIP_FRAME"), std::string::npos);
    EXPECT_EQ(log.text().find("IMAGE_PROGRESS"), std::string::npos);
}

TEST(RenderBatchNames, AnImageWithoutANameFailsAloneAndTheRunGoesOn)
{
    // A frame name that is not UTF-8 cannot become a path: its images fail
    // with the reason, the next frame is rendered as usual.
    TempDir dir("names");
    vistrel::RenderConfig config;
    config.width = 64;
    config.height = 48;
    config.warmup_frames = 0;
    config.output_dir = dir.path().string();
    config.angles = {"top", "north"};
    config.output_top_range = true;
    vistrel::RenderBatch batch(config);
    osg::ref_ptr<osg::Node> scene = makeBox(osg::Vec3(-5, -5, 0), osg::Vec3(5, 5, 5), osg::Vec4(1, 0, 0, 1));
    vistrel::PolygonFrame bad;
    bad.index = 1;
    bad.name = bad.uniqueName = "bad\xFF";
    bad.minX = bad.minY = -5;
    bad.maxX = bad.maxY = 5;
    bad.maxZ = 5;
    vistrel::PolygonFrame good = bad;
    good.index = 2;
    good.name = good.uniqueName = "good";
    CapturedOutput log;
    EXPECT_FALSE(batch.run(scene.get(), {bad, good}));
    const std::string text = log.text();
    EXPECT_EQ(countOccurrences(text, "[ERROR] Failed frame bad\xFF"
                                     " angle "),
              2)
        << text;
    // The bad frame's outline image fails with its vertical image.
    EXPECT_NE(text.find("Render finished. Success 3/6, skipped 0, failed 3"), std::string::npos) << text;
    EXPECT_TRUE(fs::exists(dir / "good" / "top.png"));
    EXPECT_TRUE(fs::exists(dir / "good" / "top_range.png"));
    EXPECT_FALSE(batch.results()[0].at("north").note.empty());
}

TEST(RenderBatchPrecheck, AViewThatCannotBeDrawnFailsTheFrameInsteadOfSkippingIt)
{
    vistrel::RenderConfig config;
    config.width = 64;
    config.height = 48;
    config.warmup_frames = 0;
    vistrel::RenderBatch batch(config);
    osg::ref_ptr<osg::Node> scene = makeBox(osg::Vec3(-5, -5, 0), osg::Vec3(5, 5, 5), osg::Vec4(1, 0, 0, 1));
    std::vector<std::string> errors;
    ASSERT_TRUE(batch.renderer().initialize(scene.get(), errors)) << testing::PrintToString(errors);
    vistrel::PolygonFrame frame;
    frame.name = "box";
    frame.minX = frame.minY = -5;
    frame.maxX = frame.maxY = 5;
    frame.maxZ = 5;
    std::string reason;
    EXPECT_EQ(batch.precheckFrame(frame, reason), vistrel::RenderBatch::Precheck::Render);

    batch.renderer().camera()->setRenderTargetImplementation(osg::Camera::FRAME_BUFFER);
    CapturedOutput log;
    EXPECT_EQ(batch.precheckFrame(frame, reason), vistrel::RenderBatch::Precheck::Fail);
    EXPECT_EQ(reason, "正射图质量检测渲染失败");
    EXPECT_EQ(log.text().find("SKIP_FRAME"), std::string::npos);
}

TEST_F(SampleCity, TheSameAngleTwiceGivesTwoImagesAndOneEntry)
{
    TempDir dir("batch");
    const SampleRun run = runVistrel(dir, smallConfig({{"angles", {"top", "top"}}, {"preview_limit", 3}}));
    EXPECT_EQ(run.process.exitCode, 0) << run.log();
    EXPECT_EQ(linesWith(run.log(), "IMAGE_PROGRESS ").size(), 6u);
    const auto names = uniqueFrameNames();
    EXPECT_TRUE(fs::exists(run.outputDir / names[0] / "top.png"));
    EXPECT_TRUE(fs::exists(run.outputDir / names[0] / "top_2.png"));
    const auto rows = parseCsv(readFile(run.outputDir / "render_report.csv"));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].size(), 11u + 12u + 3u);
    // Both column groups show the one stored entry: the later image.
    EXPECT_EQ(rows[1][11], "top_2.png");
    EXPECT_EQ(rows[1][17], "top_2.png");
}

TEST_F(SampleCity, OccludedHouseClimbsToAFreeAngle)
{
    // The tower stands 33 m beyond the house's frame; a wide step reaches it.
    TempDir dir("batch");
    const SampleRun run = runVistrel(dir, smallConfig({{"angles", {"south"}}, {"occlusion_sample_step", 0.9}}));
    ASSERT_EQ(run.process.exitCode, 0) << run.log();
    const json& house = frameByRole("occluded_house");
    const std::string prefix = "Occlusion choice frame=" + house.at("name").get<std::string>() + " angle=south score=";
    const std::size_t at = run.log().find(prefix);
    ASSERT_NE(at, std::string::npos) << run.log();
    const std::string line = run.log().substr(at + prefix.size(), run.log().find('\n', at) - at - prefix.size());
    double chosenScore = -1.0;
    double chosenAngle = 0.0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf view_angle=%lf", &chosenScore, &chosenAngle), 2) << line;
    EXPECT_EQ(chosenScore, 0.0) << line;
    EXPECT_GT(chosenAngle, 50.0) << line;

    const auto rows = parseCsv(readFile(run.outputDir / "render_report.csv"));
    auto col = columnsOf(rows[0]);
    const auto& row = rows.at(house.at("index").get<std::size_t>());
    EXPECT_EQ(row[col.at("南侧相机角度")], vistrel::fixedNumber(chosenAngle, 3));
    EXPECT_EQ(row[col.at("南侧遮挡评分")], vistrel::fixedNumber(chosenScore, 3));
}
