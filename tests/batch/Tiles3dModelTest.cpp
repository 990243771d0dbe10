// The sample city as 3D Tiles, in each of its encodings, against the same
// city as OSGB tiles in the same east-north-up frame: everything after the
// model must come out the same.

#include "SampleRun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace batchtest;
using namespace testsupport;
using nlohmann::json;

namespace {

// Every picture drawn from the finest tiles, so that only the models differ.
json settledConfig(const std::string& model)
{
    return outlineConfig({{"osgb_path", (sampleDir() / model).string()},
                          {"angles", {"top", "north"}},
                          {"warmup_until_loaded", true},
                          {"warmup_frames", 100}});
}

// Report rows by folder name: the heights and each image's result.
struct ReportRow {
    double minZ = NAN, maxZ = NAN;
    std::string top, north;
};

std::map<std::string, ReportRow> reportRows(const fs::path& output)
{
    const auto rows = parseCsv(readFile(output / "render_report.csv"));
    std::map<std::string, std::size_t> column;
    for (std::size_t c = 0; c < rows.at(0).size(); ++c) {
        column[rows[0][c]] = c;
    }
    const auto number = [](const std::string& text) { return text.empty() ? NAN : std::strtod(text.c_str(), nullptr); };
    std::map<std::string, ReportRow> byFolder;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const auto& row = rows[r];
        byFolder[row.at(column.at("文件夹名称"))] = {number(row.at(column.at("最低高程"))),
                                                     number(row.at(column.at("最高高程"))),
                                                     row.at(column.at("正射结果")), row.at(column.at("北侧结果"))};
    }
    return byFolder;
}

}  // namespace

TEST(Tiles3dModel, EveryEncodingRendersWhatTheOsgbCityRenders)
{
    TempDir osgbDir("t3");
    const SampleRun osgb = runVistrel(osgbDir, settledConfig("city_enu"));
    ASSERT_EQ(osgb.process.exitCode, 0) << osgb.log();
    const auto expected = reportRows(osgb.outputDir);
    for (const char* model : {"city_3dtiles", "city_3dtiles_draco", "city_3dtiles_meshopt", "city_3dtiles_webp"}) {
        TempDir dir("t3");
        const SampleRun run = runVistrel(dir, settledConfig(model));
        ASSERT_EQ(run.process.exitCode, 0) << model << run.log();
        EXPECT_NE(run.log().find("[INFO] Model SRS: ENU "), std::string::npos) << model;
        EXPECT_NE(run.log().find("Loading 3D Tiles/scene: "), std::string::npos) << model;
        EXPECT_EQ(run.log().find("[WARN] Skipped part"), std::string::npos) << model << run.log();
        const auto actual = reportRows(run.outputDir);
        ASSERT_EQ(actual.size(), expected.size()) << model;
        double lowestPsnr = 99.0, largestOffset = 0.0, largestHeight = 0.0;
        for (const auto& [folder, row] : expected) {
            ASSERT_TRUE(actual.count(folder)) << model << ' ' << folder;
            const ReportRow& other = actual.at(folder);
            // The same frames skipped, the same results.
            EXPECT_EQ(other.top, row.top) << model << ' ' << folder;
            EXPECT_EQ(other.north, row.north) << model << ' ' << folder;
            if (row.top != "成功") {
                continue;
            }
            largestHeight = std::max({largestHeight, std::abs(other.minZ - row.minZ), std::abs(other.maxZ - row.maxZ)});
            const fs::path a = osgb.outputDir / folder;
            const fs::path b = run.outputDir / folder;
            lowestPsnr = std::min(lowestPsnr, psnr(readPng(a / "top.png"), readPng(b / "top.png")));
            largestOffset =
                std::max(largestOffset, outlineOffset(readPng(a / "top_range.png"), readPng(b / "top_range.png")));
        }
        EXPECT_GE(lowestPsnr, 35.0) << model;
        EXPECT_LE(largestOffset, 1.0) << model;
        EXPECT_LE(largestHeight, 0.5) << model;
        std::printf("%s: lowest top PSNR %.1f dB, outline within %.0f px, heights within %.3f m\n", model, lowestPsnr,
                    largestOffset, largestHeight);
    }
}

TEST(Tiles3dModel, ThreeShardsAndAResumeGiveWhatOneRunGives)
{
    TempDir dir("t3shards");
    json one = settledConfig("city_3dtiles_meshopt");
    one["output_dir"] = (dir / "one").string();
    ASSERT_EQ(runVistrel(dir, one).process.exitCode, 0);
    json shard = one;
    shard["output_dir"] = (dir / "shards").string();
    for (int k = 0; k < 3; ++k) {
        shard["shard_index"] = k;
        shard["shard_count"] = 3;
        const SampleRun run = runVistrel(dir, shard);
        ASSERT_EQ(run.process.exitCode, 0) << run.log();
    }
    json last = one;
    last["output_dir"] = shard["output_dir"];
    last["resume"] = true;
    const SampleRun resumed = runVistrel(dir, last);
    ASSERT_EQ(resumed.process.exitCode, 0) << resumed.log();
    // The resumed run takes every picture over from the shards' journals.
    EXPECT_EQ(resumed.log().find("] Wrote /"), std::string::npos) << resumed.log();
    const auto bytes = [](const fs::path& root) {
        std::multiset<std::string> all;
        for (const auto& [path, image] : pngFilesBelow(root)) {
            all.insert(image);
        }
        return all;
    };
    EXPECT_TRUE(bytes(dir / "shards") == bytes(dir / "one"));
}

TEST(Tiles3dModel, ADamagedContentFileIsWarnedAndTheRestRenders)
{
    TempDir dir("t3damaged");
    const fs::path model = dir / "model";
    fs::copy(sampleDir() / "city_3dtiles", model, fs::copy_options::recursive);
    // A finest-level glb cut in its binary chunk: the chunk is longer than the file.
    const fs::path cut = model / "Data" / "Tile_+001_+001" / "Tile_+001_+001_L19_00.glb";
    fs::resize_file(cut, fs::file_size(cut) / 2);
    json config = settledConfig("city_3dtiles");
    config["osgb_path"] = model.string();
    const SampleRun run = runVistrel(dir, config);
    ASSERT_EQ(run.process.exitCode, 0) << run.log();
    bool warned = false;
    for (const auto& line : linesWith(run.log(), "[WARN]")) {
        warned = warned || line.find(cut.string()) != std::string::npos;
    }
    EXPECT_TRUE(warned) << run.log();
    const auto rows = reportRows(run.outputDir);
    int written = 0;
    for (const auto& [folder, row] : rows) {
        written += row.top == "成功" ? 1 : 0;
    }
    // The frames over the cut tile are drawn from its coarser level.
    EXPECT_EQ(written, static_cast<int>(rows.size()) - 2);
}
