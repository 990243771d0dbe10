#include "core/Logger.h"
#include "core/FrameArea.h"
#include "vector/PolygonFrameReader.h"
#include "support/GeoFixtures.h"
#include "support/TestSupport.h"

#include <cpl_conv.h>
#include <ogr_core.h>

#include <cmath>

#include <gtest/gtest.h>

using namespace vistrel;
using namespace testsupport;

namespace {

std::vector<PolygonFrame> readNamed(const fs::path& file, const std::string& fieldName,
                                    const std::vector<std::string>& fieldNames = {}, const std::string& separator = "_",
                                    double prefix = 0.0, bool autoStrip = true, double offsetX = 0.0,
                                    double offsetY = 0.0)
{
    FrameReadOptions options;
    options.path = file.string();
    options.fieldName = fieldName;
    options.fieldNames = fieldNames;
    options.fieldSeparator = separator;
    options.offsetX = offsetX;
    options.offsetY = offsetY;
    options.gaussZonePrefix = prefix;
    options.autoStripGaussZone = autoStrip;
    return readPolygonFrames(options);
}

// The frame reader's failures sent to the log as ERROR lines, as a run does.
struct FailuresLogged {
    FailuresLogged()
    {
        setVectorFailureSink([](const std::string& reason) { Logger::instance().error(reason); });
    }
    ~FailuresLogged() { setVectorFailureSink(nullptr); }
    FailuresLogged(const FailuresLogged&) = delete;
    FailuresLogged& operator=(const FailuresLogged&) = delete;
};

FrameReadOptions namedBy(const fs::path& file, const std::string& fieldName)
{
    FrameReadOptions options;
    options.path = file.string();
    options.fieldName = fieldName;
    return options;
}

std::string square(double x, double y, double size)
{
    const auto p = [](double a, double b) { return std::to_string(a) + " " + std::to_string(b); };
    return "POLYGON ((" + p(x, y) + "," + p(x + size, y) + "," + p(x + size, y + size) + "," + p(x, y + size) + "," +
           p(x, y) + "))";
}

}  // namespace

TEST(PolygonFrameReader, NamesDuplicatesAndFallbacks)
{
    TempDir dir("shp");
    const fs::path file = dir / "names.shp";
    writeVectorFile(file, "ESRI Shapefile", wkbPolygon, {"NAME", "FWBH", "ZDDM"},
                    {{square(0, 0, 10), {{"NAME", "A"}, {"FWBH", "12"}, {"ZDDM", ""}}},
                     {square(20, 0, 10), {{"NAME", "B"}}},
                     {square(40, 0, 10), {{"NAME", "A"}, {"FWBH", "7"}, {"ZDDM", "Z1"}}},
                     {square(60, 0, 10), {}},
                     {square(80, 0, 10), {{"NAME", ""}}},
                     {square(100, 0, 10), {{"NAME", "中文名"}}}});

    CapturedOutput log;
    auto frames = readNamed(file, "NAME");
    ASSERT_EQ(frames.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(frames[i].index, i + 1);
    }
    EXPECT_EQ(frames[0].name, "A");
    EXPECT_EQ(frames[0].uniqueName, "A");
    EXPECT_EQ(frames[1].uniqueName, "B");
    EXPECT_EQ(frames[2].name, "A");
    EXPECT_EQ(frames[2].uniqueName, "A_0002");
    EXPECT_EQ(frames[2].nameValues, std::vector<std::string>{"A_0002"});
    // No value at all: a generated name that carries the index.
    EXPECT_EQ(frames[3].name, "frame_0004");
    EXPECT_EQ(frames[3].nameValues, std::vector<std::string>{"frame_0004"});
    EXPECT_EQ(frames[4].name, "frame_0005");
    EXPECT_EQ(frames[5].name, "中文名");
    // Attributes are text; unset or empty values are left out.
    EXPECT_EQ(frames[2].attributes.at("FWBH"), "7");
    EXPECT_EQ(frames[2].attributes.at("ZDDM"), "Z1");
    EXPECT_EQ(frames[1].attributes.count("FWBH"), 0u);
    EXPECT_NE(log.text().find("Read 6 polygon frames from " + file.string() + ". Bounds=(0, 0) - (110, 10)"),
              std::string::npos)
        << log.text();
    // Plain coordinates: no offset line.
    EXPECT_EQ(log.text().find("Applying SHP coordinate offset"), std::string::npos);

    // Several fields: empty values drop out without a stray separator; the
    // field lookup ignores case.
    auto joined = readNamed(file, "", {"fwbh", "ZDDM"}, "-");
    EXPECT_EQ(joined[0].name, "12");
    EXPECT_EQ(joined[0].nameValues, std::vector<std::string>{"12"});
    EXPECT_EQ(joined[2].name, "7-Z1");
    EXPECT_EQ(joined[2].nameValues, (std::vector<std::string>{"7", "Z1"}));
    EXPECT_EQ(joined[1].name, "frame_0002");
    // Two default names never collide.
    EXPECT_EQ(joined[3].uniqueName, "frame_0004");
    EXPECT_EQ(joined[4].uniqueName, "frame_0005");
    // An empty separator concatenates.
    EXPECT_EQ(readNamed(file, "", {"FWBH", "ZDDM"}, "")[2].name, "7Z1");
    EXPECT_EQ(defaultFrameName(12345), "frame_12345");
}

TEST(PolygonFrameReader, RingsHolesMultipolygonsAndZ)
{
    TempDir dir("shp");
    const fs::path multi = dir / "multi.shp";
    writeVectorFile(multi, "ESRI Shapefile", wkbMultiPolygon, {"NAME"},
                    {{"MULTIPOLYGON (((0 0,10 0,10 10,0 10,0 0)),((20 0,30 0,30 5,20 0)))", {{"NAME", "m"}}},
                     {"POLYGON ((0 0,40 0,40 40,0 40,0 0),(10 10,20 10,20 20,10 20,10 10))", {{"NAME", "holed"}}}});
    auto frames = readNamed(multi, "NAME");
    ASSERT_EQ(frames.size(), 2u);
    ASSERT_EQ(frames[0].rings.size(), 2u);
    EXPECT_EQ(frames[0].rings[0].size(), 5u);  // closing vertex kept
    EXPECT_EQ(frames[0].rings[1].size(), 4u);
    EXPECT_DOUBLE_EQ(frames[0].maxX, 30.0);
    EXPECT_FALSE(isHoleRing(frames[0], 1));
    ASSERT_EQ(frames[1].rings.size(), 2u);  // the exterior, then its hole
    EXPECT_DOUBLE_EQ(frames[1].rings[0][2].x, 40.0);
    EXPECT_DOUBLE_EQ(frames[1].rings[1][2].x, 20.0);
    EXPECT_FALSE(isHoleRing(frames[1], 0));
    EXPECT_TRUE(isHoleRing(frames[1], 1));
    // The area: inside the exteriors, outside the hole.
    EXPECT_TRUE(insideFrameArea(frames[0], 25, 1));
    EXPECT_FALSE(insideFrameArea(frames[0], 15, 5));
    EXPECT_TRUE(insideFrameArea(frames[1], 5, 5));
    EXPECT_FALSE(insideFrameArea(frames[1], 15, 15));
    EXPECT_TRUE(nearFrameArea(frames[1], 15, 19.5, 0.6));
    EXPECT_FALSE(nearFrameArea(frames[1], 15, 19.5, 0.4));

    const fs::path z = dir / "z.shp";
    writeVectorFile(z, "ESRI Shapefile", wkbPolygon25D, {"NAME"},
                    {{"POLYGON Z ((1 2 100,5 2 101,5 6 102,1 2 100))", {{"NAME", "z"}}}});
    auto zFrames = readNamed(z, "NAME");
    ASSERT_EQ(zFrames.size(), 1u);
    EXPECT_DOUBLE_EQ(zFrames[0].minX, 1.0);
    EXPECT_DOUBLE_EQ(zFrames[0].maxY, 6.0);
    EXPECT_EQ(zFrames[0].rings[0].size(), 4u);
    EXPECT_DOUBLE_EQ(zFrames[0].centerZ, 0.0);
}

TEST(PolygonFrameReader, OtherGeometriesAreSkippedWithoutAnIndex)
{
    TempDir dir("shp");
    const fs::path mixed = dir / "mixed.geojson";
    writeVectorFile(mixed, "GeoJSON", wkbUnknown, {"NAME"},
                    {{"LINESTRING (0 0,1 1)", {{"NAME", "line"}}},
                     {square(0, 0, 1), {{"NAME", "first"}}},
                     {"POINT (5 5)", {{"NAME", "point"}}},
                     {"", {{"NAME", "no geometry"}}},
                     {square(3, 0, 1), {{"NAME", "second"}}}});
    auto frames = readNamed(mixed, "NAME");
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].name, "first");
    EXPECT_EQ(frames[0].index, 1);
    EXPECT_EQ(frames[1].name, "second");
    EXPECT_EQ(frames[1].index, 2);

    const fs::path lines = dir / "lines.shp";
    writeVectorFile(lines, "ESRI Shapefile", wkbLineString, {"NAME"}, {{"LINESTRING (0 0,1 1)", {{"NAME", "l"}}}});
    CapturedOutput log;
    EXPECT_TRUE(readNamed(lines, "NAME").empty());
    EXPECT_NE(log.text().find("Read 0 polygon frames from " + lines.string() + "\n"), std::string::npos) << log.text();
}

TEST(PolygonFrameReader, ZonePrefixDetection)
{
    EXPECT_DOUBLE_EQ(detectGaussZonePrefix(37512345.6, 37512345.6), 37000000.0);
    EXPECT_DOUBLE_EQ(detectGaussZonePrefix(-37512345.6, -37512345.6), -37000000.0);
    EXPECT_DOUBLE_EQ(detectGaussZonePrefix(10000000.0, 10000000.0), 10000000.0);
    EXPECT_DOUBLE_EQ(detectGaussZonePrefix(99999999.0, 99999999.0), 99000000.0);
    EXPECT_DOUBLE_EQ(detectGaussZonePrefix(100000000.0, 100000000.0), 0.0);
    EXPECT_DOUBLE_EQ(detectGaussZonePrefix(123456789.0, 123456789.0), 0.0);
    EXPECT_DOUBLE_EQ(detectGaussZonePrefix(512345.6, 512345.6), 0.0);
    EXPECT_DOUBLE_EQ(detectGaussZonePrefix(9999999.9, 9999999.9), 0.0);
    EXPECT_DOUBLE_EQ(detectGaussZonePrefix(INFINITY, -INFINITY), 0.0);
}

TEST(PolygonFrameReader, ZonePrefixAndOffsetsMoveTheFrames)
{
    TempDir dir("shp");
    const fs::path file = dir / "zone.shp";
    writeVectorFile(file, "ESRI Shapefile", wkbPolygon, {"NAME"},
                    {{square(37512345.6, 3345678.0, 10), {{"NAME", "a"}}},
                     // A later feature in another zone is shifted by the first one's prefix.
                     {square(38512345.6, 3345678.0, 10), {{"NAME", "b"}}}});
    {
        CapturedOutput log;
        auto frames = readNamed(file, "NAME");
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_NEAR(frames[0].minX, 512345.6, 1e-6);
        EXPECT_NEAR(frames[0].rings[0][0].x, 512345.6, 1e-6);
        EXPECT_NEAR(frames[0].minY, 3345678.0, 1e-6);
        EXPECT_NEAR(frames[1].minX, 1512345.6, 1e-6);
        EXPECT_EQ(countOccurrences(log.text(),
                                   "Applying SHP coordinate offset: x=-37000000, y=0 (Gauss zone prefix 37000000)\n"),
                  1)
            << log.text();
    }
    {
        // A configured prefix wins over detection; offsets are added.
        CapturedOutput log;
        auto frames = readNamed(file, "NAME", {}, "_", 38000000.0, true, 100.0, -50.0);
        EXPECT_NEAR(frames[0].minX, -487554.4, 1e-6);
        EXPECT_NEAR(frames[0].minY, 3345628.0, 1e-6);
        EXPECT_NEAR(frames[0].rings[0][0].y, 3345628.0, 1e-6);
        EXPECT_NE(log.text().find("Applying SHP coordinate offset: x=-37999900, y=-50 (Gauss zone prefix 38000000)"),
                  std::string::npos)
            << log.text();
    }
    {
        // Detection off and no offsets: coordinates unchanged, no offset line.
        CapturedOutput log;
        auto frames = readNamed(file, "NAME", {}, "_", 0.0, false);
        EXPECT_NEAR(frames[0].minX, 37512345.6, 1e-6);
        EXPECT_EQ(log.text().find("Applying SHP coordinate offset"), std::string::npos);
    }
    {
        // An offset alone is logged without the prefix part.
        CapturedOutput log;
        readNamed(file, "NAME", {}, "_", 0.0, false, 0.0, 2.5);
        EXPECT_NE(log.text().find("Applying SHP coordinate offset: x=0, y=2.5\n"), std::string::npos) << log.text();
    }
}

TEST(PolygonFrameReader, EmptyFirstGeometryIsSkippedBeforeDetection)
{
    TempDir dir("shp");
    // A CSV with a WKT column keeps an empty polygon (shapefile and GeoJSON
    // writers turn it into a null geometry).
    const fs::path file = dir / "empty_first.csv";
    writeFile(file,
              "WKT,NAME\n\"POLYGON EMPTY\",empty\n"
              "\"POLYGON ((37512345.6 3345678,37512355.6 3345678,37512355.6 3345688,37512345.6 3345678))\",zoned\n");
    auto frames = readNamed(file, "NAME");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].name, "zoned");
    EXPECT_EQ(frames[0].index, 1);
    // The prefix is detected on the first polygon with coordinates.
    EXPECT_NEAR(frames[0].minX, 512345.6, 1e-6);
}

TEST(PolygonFrameReader, CurvesAndCollectionsGiveFramesOtherFeaturesAreNamed)
{
    TempDir dir("gpkg");
    const fs::path file = dir / "mixed.gpkg";
    const std::string circle = "CIRCULARSTRING (0 0,5 5,10 0,5 -5,0 0)";
    writeVectorFile(
        file, "GPKG", wkbUnknown, {"NAME"},
        {{"CURVEPOLYGON (" + circle + ")", {{"NAME", "curve"}}},
         {"MULTISURFACE (CURVEPOLYGON (" + circle + "),((20 0,30 0,30 10,20 0)))", {{"NAME", "surfaces"}}},
         {"GEOMETRYCOLLECTION (POINT (100 100),POLYGON ((40 0,50 0,50 10,40 0)))", {{"NAME", "collection"}}},
         {"POLYGON EMPTY", {{"NAME", "empty"}}},
         {"POINT (5 5)", {{"NAME", "point"}}},
         {"", {{"NAME", "bare"}}},
         {square(60, 0, 10), {{"NAME", "plain"}}}});
    FrameReadLoss loss;
    const auto frames = readPolygonFrames(namedBy(file, "NAME"), &loss);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].name, "curve");
    ASSERT_EQ(frames[0].rings.size(), 1u);
    EXPECT_GT(frames[0].rings[0].size(), 16u);  // the arcs made linear
    EXPECT_NEAR(frames[0].maxY, 5.0, 0.01);
    EXPECT_NEAR(frames[0].minY, -5.0, 0.01);
    EXPECT_EQ(frames[1].rings.size(), 2u);
    EXPECT_DOUBLE_EQ(frames[1].maxX, 30.0);
    // The collection's polygon member alone makes the frame and its bounds.
    ASSERT_EQ(frames[2].rings.size(), 1u);
    EXPECT_DOUBLE_EQ(frames[2].maxX, 50.0);
    EXPECT_DOUBLE_EQ(frames[2].maxY, 10.0);
    EXPECT_EQ(frames[3].name, "plain");
    EXPECT_EQ(frames[3].index, 4);

    // GeoPackage numbers its features from 1.
    EXPECT_EQ(loss.withoutFrame, 3);
    ASSERT_EQ(loss.withoutFrameListed.size(), 3u);
    EXPECT_EQ(loss.withoutFrameListed[0].fid, 4);
    EXPECT_EQ(loss.withoutFrameListed[0].why, "empty POLYGON");
    EXPECT_EQ(loss.withoutFrameListed[1].fid, 5);
    EXPECT_EQ(loss.withoutFrameListed[1].why, "POINT, not a polygon");
    EXPECT_EQ(loss.withoutFrameListed[2].fid, 6);
    EXPECT_EQ(loss.withoutFrameListed[2].why, "no geometry");
    EXPECT_FALSE(loss.lost);
    EXPECT_EQ(layerGeometries(loss),
              "CURVEPOLYGON ×1, GEOMETRYCOLLECTION ×1, MULTISURFACE ×1, POINT ×1, POLYGON ×2, no geometry ×1");

    // A layer of curve polygons alone is a layer of polygons.
    const fs::path curves = dir / "curves.gpkg";
    writeVectorFile(curves, "GPKG", wkbCurvePolygon, {"NAME"}, {{"CURVEPOLYGON (" + circle + ")", {{"NAME", "c"}}}});
    EXPECT_EQ(readPolygonFrames(namedBy(curves, "NAME")).size(), 1u);
}

TEST(PolygonFrameReader, UnopenableFilesThrow)
{
    TempDir dir("shp");
    writeFile(dir / "garbage.shp", "this is not a shapefile at all");
    for (const fs::path& bad : {dir / "missing.shp", dir / "garbage.shp"}) {
        try {
            readNamed(bad, "NAME");
            ADD_FAILURE() << "no exception for " << bad;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "Failed to open SHP: " + bad.string());
        }
    }
}

TEST(PolygonFrameReader, DataFolderOptionsFollowTheWorkingDirectory)
{
    TempDir dir("shp");
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    setDataDirOption("VISTREL_TEST_DATA", "share/gdal", "/fallback/gdal");
    EXPECT_STREQ(CPLGetConfigOption("VISTREL_TEST_DATA", ""), "/fallback/gdal");
    fs::create_directories(dir / "share" / "gdal");
    setDataDirOption("VISTREL_TEST_DATA", "share/gdal", "/fallback/gdal");
    EXPECT_EQ(std::string(CPLGetConfigOption("VISTREL_TEST_DATA", "")), (dir / "share" / "gdal").string());
    fs::current_path(before);
}

namespace {

// A shapefile whose field "ZDMC" holds "XXXX"; `gbk` swaps in the GBK bytes
// of 名称 (field name) and 宗地 (value) and drops GDAL's .cpg, as files of
// Chinese GIS software arrive.
fs::path chineseShapefile(const fs::path& dir, bool gbk, const std::string& cpg, char languageDriver)
{
    const fs::path shp = dir / "zh.shp";
    writeVectorFile(shp, "ESRI Shapefile", wkbPolygon, {"ZDMC"}, {{square(0, 0, 10), {{"ZDMC", "XXXX"}}}});
    fs::remove(dir / "zh.cpg");
    if (!cpg.empty()) {
        writeFile(dir / "zh.cpg", cpg);
    }
    std::string dbf = readFile(dir / "zh.dbf");
    dbf[29] = languageDriver;
    if (gbk) {
        dbf.replace(dbf.find("ZDMC"), 4, "\xC3\xFB\xB3\xC6");
        dbf.replace(dbf.find("XXXX"), 4, "\xD7\xDA\xB5\xD8");
    }
    writeFile(dir / "zh.dbf", dbf);
    return shp;
}

}  // namespace

TEST(ShapefileEncodings, CpgLanguageDriverAndUndeclaredGbkAreDecoded)
{
    const std::string name = "名称";
    for (const auto& [cpg, driver] : {std::pair<std::string, char>{"", 0}, {"936", 0}, {"", 0x4D}}) {
        TempDir dir("zh");
        const auto frames = readNamed(chineseShapefile(dir.path(), true, cpg, driver), name);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].name, "宗地") << "cpg " << cpg << " driver " << int(driver);
        EXPECT_EQ(frames[0].attributes.count(name), 1u);
    }
    // UTF-8 without any declaration stays as it is.
    TempDir dir("zh");
    const fs::path shp = dir / "utf8.shp";
    writeVectorFile(shp, "ESRI Shapefile", wkbPolygon, {"名称"}, {{square(0, 0, 10), {{"名称", "房屋"}}}});
    fs::remove(dir / "utf8.cpg");
    const auto frames = readNamed(shp, name);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].name, "房屋");
}

TEST(DamagedShapefiles, LostFeaturesAreErrorsWithTheirCounts)
{
    TempDir dir("lost");
    const fs::path shp = dir / "lost.shp";
    std::vector<TestFeature> features;
    for (int i = 0; i < 20; ++i) {
        features.push_back({square(i * 20.0, 0, 10), {{"NAME", "p" + std::to_string(i)}}});
    }
    writeVectorFile(shp, "ESRI Shapefile", wkbPolygon, {"NAME"}, features);
    fs::resize_file(shp, fs::file_size(shp) / 2);

    CapturedOutput log;
    const FailuresLogged failures;
    FrameReadLoss loss;
    const auto frames = readPolygonFrames(namedBy(shp, "NAME"), &loss);
    EXPECT_LT(frames.size(), 20u);
    EXPECT_GT(frames.size(), 0u);
    EXPECT_TRUE(loss.lost);
    EXPECT_EQ(loss.declared, 20);
    EXPECT_GT(loss.unreadable, 0);
    EXPECT_NE(log.text().find("[ERROR] GDAL: "), std::string::npos) << log.text();
    EXPECT_NE(log.text().find("[ERROR] Lost features in layer lost of " + shp.string() + ": the layer declares 20, "),
              std::string::npos)
        << log.text();
}

TEST(DamagedShapefiles, RecordsMarkedDeletedAreNotLostFeatures)
{
    TempDir dir("deleted");
    const fs::path shp = dir / "deleted.shp";
    std::vector<TestFeature> features;
    for (int i = 0; i < 3; ++i) {
        features.push_back({square(i * 20.0, 0, 10), {{"NAME", "p" + std::to_string(i)}}});
    }
    writeVectorFile(shp, "ESRI Shapefile", wkbPolygon, {"NAME"}, features);
    // Mark the second record deleted, as editors do without packing the file.
    std::string dbf = readFile(dir / "deleted.dbf");
    const unsigned headerLength = static_cast<unsigned char>(dbf[8]) | (static_cast<unsigned char>(dbf[9]) << 8);
    const unsigned recordLength = static_cast<unsigned char>(dbf[10]) | (static_cast<unsigned char>(dbf[11]) << 8);
    dbf[headerLength + recordLength] = '*';
    writeFile(dir / "deleted.dbf", dbf);

    CapturedOutput log;
    const FailuresLogged failures;
    FrameReadLoss loss;
    const auto frames = readPolygonFrames(namedBy(shp, "NAME"), &loss);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].name, "p2");
    EXPECT_FALSE(loss.lost);
    EXPECT_EQ(log.text().find("Lost features"), std::string::npos) << log.text();
}
