// What the report says of each picture agrees with what the picture shows:
// a view hidden behind a tower and a parcel half off the model are remarked
// (and stay successes), and the outline is drawn in the side views only on
// request.
#include "SampleRun.h"

#include "support/GeoFixtures.h"
#include "support/OutputProbes.h"

#include <ogr_core.h>

#include <gtest/gtest.h>

using namespace batchtest;
using namespace testsupport;
using nlohmann::json;

namespace {

constexpr const char* kHidden = "图斑大部分被遮挡";
constexpr const char* kPartlyOutside = "图斑部分在模型范围外";

// Header title -> column.
std::map<std::string, std::size_t> columnsOf(const std::vector<std::string>& header)
{
    std::map<std::string, std::size_t> columns;
    for (std::size_t i = 0; i < header.size(); ++i) {
        columns.emplace(header[i], i);
    }
    return columns;
}

bool holds(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(PictureMeasures, TheViewBehindTheTowerIsRemarkedHiddenAndTheOthersAreNot)
{
    // The default sample step does not reach the tower 33 m south of the
    // house: the occlusion check keeps 50 degrees, the picture shows the tower.
    TempDir dir("measures");
    const SampleRun run = runVistrel(dir, smallConfig({{"angles", {"top", "south", "north", "east", "west"}}}));
    ASSERT_EQ(run.process.exitCode, 0) << run.log();
    const auto rows = parseCsv(readFile(run.outputDir / "render_report.csv"));
    const auto col = columnsOf(rows[0]);
    const json& house = frameByRole("occluded_house");
    const auto& row = rows.at(house.at("index").get<std::size_t>());
    EXPECT_EQ(row[col.at("南侧结果")], "成功");
    EXPECT_TRUE(holds(row[col.at("南侧备注")], kHidden)) << row[col.at("南侧备注")];
    EXPECT_LT(std::stod(row[col.at("南侧可见比例")]), 0.3);
    for (const char* side : {"正射", "北侧", "东侧", "西侧"}) {
        EXPECT_FALSE(holds(row[col.at(std::string(side) + "备注")], kHidden)) << side;
        EXPECT_GE(std::stod(row[col.at(std::string(side) + "可见比例")]), 0.3) << side;
    }
    EXPECT_NE(run.log().find("[WARN] Frame " + house.at("name").get<std::string>() + " angle south shows "),
              std::string::npos)
        << run.log();
    // The summary counts the remarks the report holds.
    int hidden = 0;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        for (const auto& cell : rows[r]) {
            hidden += holds(cell, kHidden) ? 1 : 0;
        }
    }
    EXPECT_GE(hidden, 1);
    EXPECT_NE(run.log().find(", failed 0, hidden " + std::to_string(hidden) + ", partly outside 0"), std::string::npos)
        << run.log();
}

TEST(PictureMeasures, AParcelHalfOffTheModelIsRemarkedWithItsModelShare)
{
    // 40 x 20 m across the edge of the sample's empty corner tile (local x = 240).
    TempDir dir("half-off");
    const json& t = truth();
    const double x0 = t.at("zone_prefix").get<double>() + t.at("origin").at("x").get<double>() + 220.0;
    const double y0 = t.at("origin").at("y").get<double>() + 335.0;
    const std::string wkt = "POLYGON((" + std::to_string(x0) + " " + std::to_string(y0) + "," +
                            std::to_string(x0 + 40) + " " + std::to_string(y0) + "," + std::to_string(x0 + 40) + " " +
                            std::to_string(y0 + 20) + "," + std::to_string(x0) + " " + std::to_string(y0 + 20) + "," +
                            std::to_string(x0) + " " + std::to_string(y0) + "))";
    std::vector<std::string> fields;
    std::map<std::string, std::string> values;
    for (const auto& field : t.at("shapefiles").at("field_names")) {
        fields.push_back(field.get<std::string>());
        values[field.get<std::string>()] = "half";
    }
    writeVectorFile(dir / "half.shp", "ESRI Shapefile", wkbPolygon, fields, {{wkt, values}});
    fs::copy_file(sampleDir() / "parcels.prj", dir / "half.prj");

    const SampleRun run = runVistrel(dir, smallConfig({{"shp_path", (dir / "half.shp").string()}}));
    ASSERT_EQ(run.process.exitCode, 0) << run.log();
    const auto rows = parseCsv(readFile(run.outputDir / "render_report.csv"));
    ASSERT_EQ(rows.size(), 2u);
    const auto col = columnsOf(rows[0]);
    EXPECT_EQ(rows[1][col.at("正射结果")], "成功");
    EXPECT_TRUE(holds(rows[1][col.at("正射备注")], kPartlyOutside)) << rows[1][col.at("正射备注")];
    const double share = std::stod(rows[1][col.at("正射模型覆盖比例")]);
    EXPECT_GT(share, 0.4);
    EXPECT_LT(share, 0.6);
    EXPECT_NE(run.log().find(", hidden 0, partly outside 1"), std::string::npos) << run.log();
}

TEST(PictureMeasures, TheOutlineIsInTheSideViewsOnlyOnRequest)
{
    TempDir dir("all-views");
    const json angles = {"top", "north", "se45"};
    const SampleRun plain = runVistrel(dir, smallConfig({{"angles", angles}, {"preview_limit", 2}}));
    const SampleRun off = runVistrel(
        dir,
        smallConfig({{"angles", angles}, {"preview_limit", 2}, {"outline_all_views", false}, {"output_dir", "off"}}));
    const SampleRun on = runVistrel(
        dir,
        smallConfig({{"angles", angles}, {"preview_limit", 2}, {"outline_all_views", true}, {"output_dir", "on"}}));
    for (const SampleRun* run : {&plain, &off, &on}) {
        ASSERT_EQ(run->process.exitCode, 0) << run->log();
    }
    const auto plainImages = pngFilesBelow(plain.outputDir);
    const auto onImages = pngFilesBelow(on.outputDir);
    ASSERT_EQ(plainImages.size(), 6u);
    EXPECT_TRUE(plainImages == pngFilesBelow(off.outputDir));
    ASSERT_EQ(onImages.size(), 6u);
    for (const auto& [path, bytes] : plainImages) {
        // The vertical view keeps its picture; the side views gain the outline.
        const bool vertical = holds(path, "top");
        EXPECT_EQ(onImages.at(path) == bytes, vertical) << path;
    }
}
