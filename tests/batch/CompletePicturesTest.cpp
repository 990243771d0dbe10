// Pictures that do not depend on timing: a run, a killed and resumed run,
// shards with their last step and a run with slow tile reads write the same
// bytes. Names follow the rendered frames, one count holds everywhere, and a
// picture whose tiles never arrive fails.
#include "SampleRun.h"

#include "core/RunProtocol.h"
#include "support/OutputProbes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <regex>
#include <set>

using namespace batchtest;
using namespace testsupport;

namespace {

nlohmann::json withKeys(nlohmann::json config, const nlohmann::json& overrides)
{
    for (const auto& [key, value] : overrides.items()) {
        config[key] = value;
    }
    return config;
}

void expectSameImages(const fs::path& output, const std::map<std::string, std::string>& expected,
                      const std::string& what)
{
    const auto actual = pngFilesBelow(output);
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (const auto& [path, bytes] : expected) {
        ASSERT_TRUE(actual.count(path)) << what << ": " << path;
        EXPECT_TRUE(actual.at(path) == bytes) << what << ": " << path;
    }
}

// Runs `config` and kills it with SIGKILL after `killAt` progress lines;
// then resumes it to the end.
SampleRun killAndResume(const TempDir& dir, const nlohmann::json& config, int killAt)
{
    bool killed = false;
    const SampleRun first = runVistrelWith(dir, "killed.json", config, {}, [&](const std::string& out, int pid) {
        if (!killed && countOccurrences(out, "IMAGE_PROGRESS ") >= killAt) {
            kill(pid, SIGKILL);
            killed = true;
        }
    });
    EXPECT_TRUE(killed) << first.log();
    EXPECT_EQ(first.process.exitCode, 128 + SIGKILL);
    return runVistrelWith(dir, "resumed.json", withKeys(config, {{"resume", true}}));
}

std::optional<vistrel::RunFinished> summaryOf(const std::string& log)
{
    const auto lines = linesWith(log, "Render finished. ");
    if (lines.size() != 1) {
        return std::nullopt;
    }
    return vistrel::parseRunFinished(lines[0].substr(lines[0].find("Render finished. ")));
}

}  // namespace

TEST(CompletePictures, OneRunAKilledRunShardsAndSlowReadsWriteTheSameBytes)
{
    for (const nlohmann::json& warmup : {nlohmann::json{{"warmup_until_loaded", false}, {"warmup_frames", 4}},
                                         nlohmann::json{{"warmup_until_loaded", true}}}) {
        SCOPED_TRACE(warmup.dump());
        TempDir dir("complete");
        const nlohmann::json config =
            withKeys(smallConfig({{"angles", {"top", "north"}}, {"output_top_range", true}}), warmup);
        const SampleRun one = runVistrelWith(dir, "one.json", withKeys(config, {{"output_dir", "one"}}));
        ASSERT_EQ(one.process.exitCode, 0) << one.log();
        const auto expected = pngFilesBelow(one.outputDir);
        ASSERT_GT(expected.size(), 40u);

        const SampleRun resumed = killAndResume(dir, withKeys(config, {{"output_dir", "killed"}}), 9);
        EXPECT_EQ(resumed.process.exitCode, 0) << resumed.log();
        expectSameImages(resumed.outputDir, expected, "killed and resumed");

        std::vector<std::future<SampleRun>> shards;
        for (int k = 0; k < 3; ++k) {
            shards.push_back(std::async(std::launch::async, [&, k] {
                return runVistrelWith(dir, "shard" + std::to_string(k) + ".json",
                                      withKeys(config, {{"output_dir", "shards"}, {"shard_index", k},
                                                        {"shard_count", 3}}));
            }));
        }
        for (auto& shard : shards) {
            const SampleRun run = shard.get();
            EXPECT_EQ(run.process.exitCode, 0) << run.log();
        }
        const SampleRun last = runVistrelWith(dir, "last.json",
                                              withKeys(config, {{"output_dir", "shards"}, {"resume", true}}));
        EXPECT_EQ(last.process.exitCode, 0) << last.log();
        EXPECT_TRUE(linesWith(last.log(), "] Wrote /").empty()) << last.log();
        expectSameImages(last.outputDir, expected, "three shards and the last step");

        const SampleRun slow = runVistrelWith(dir, "slow.json", withKeys(config, {{"output_dir", "slow"}}),
                                              {{"VISTREL_TEST_TILE_READ_DELAY_MS", "50"}});
        EXPECT_EQ(slow.process.exitCode, 0) << slow.log();
        expectSameImages(slow.outputDir, expected, "tile reads slowed by 50 ms");
    }
}

TEST(CompletePictures, NumbersCountTheRenderedFramesAlsoAfterAResume)
{
    TempDir dir("numbers");
    // The layer has frames the pre-check skips; their images take no number.
    const nlohmann::json config = smallConfig({{"angles", {"top", "north"}}, {"photo_name_template", "照片_#"}});
    const SampleRun one = runVistrelWith(dir, "one.json", withKeys(config, {{"output_dir", "one"}}));
    ASSERT_EQ(one.process.exitCode, 0) << one.log();
    const int skippedFrames = countOccurrences(one.log(), "SKIP_FRAME ");
    ASSERT_GT(skippedFrames, 0);
    const auto images = pngFilesBelow(one.outputDir);
    const int rendered = 2 * (static_cast<int>(truth().at("frames").size()) - skippedFrames);
    std::set<std::string> contiguous;
    for (int n = 1; n <= rendered; ++n) {
        contiguous.insert("照片_" + std::to_string(n) + ".png");
    }
    std::set<std::string> names;
    for (const auto& entry : images) {
        names.insert(entry.first);
    }
    EXPECT_EQ(names, contiguous);

    const SampleRun resumed = killAndResume(dir, withKeys(config, {{"output_dir", "killed"}}), 15);
    EXPECT_EQ(resumed.process.exitCode, 0) << resumed.log();
    expectSameImages(resumed.outputDir, images, "killed and resumed");
}

TEST(CompletePictures, TilesPastTheTimeoutFailThePictureAndEveryCountAgrees)
{
    TempDir dir("timeout");
    const SampleRun run = runVistrelWith(dir, "slow.json",
                                         smallConfig({{"angles", {"top", "north"}},
                                                      {"output_top_range", true},
                                                      {"html_report", true},
                                                      {"tile_load_timeout", 1}}),
                                         {{"VISTREL_TEST_TILE_READ_DELAY_MS", "600"}});
    EXPECT_EQ(run.process.exitCode, 4) << run.log();
    EXPECT_FALSE(linesWith(run.log(), "[WARN] Tiles still loading after tile_load_timeout 1 s: frame ").empty())
        << run.log();

    // Result cells of the report, and the pictures written though they failed.
    const auto rows = parseCsv(readFile(run.outputDir / "render_report.csv"));
    ASSERT_GT(rows.size(), 1u);
    std::map<std::string, int> cells;
    int writtenButFailed = 0;
    for (std::size_t c = 0; c < rows[0].size(); ++c) {
        const std::string& title = rows[0][c];
        if (title.size() < 6 || title.compare(title.size() - 6, 6, "结果") != 0) {
            continue;
        }
        for (std::size_t r = 1; r < rows.size(); ++r) {
            ++cells[rows[r][c]];
            const bool hasRemark = c + 4 < rows[0].size() && rows[0][c + 4].find("备注") != std::string::npos;
            if (rows[r][c] == "失败" && hasRemark && rows[r][c + 4] == "瓦片未加载完成" && !rows[r][c - 1].empty() &&
                fs::exists(fs::path(rows[r][3]) / rows[r][c - 1])) {
                ++writtenButFailed;
            }
        }
    }
    EXPECT_GT(writtenButFailed, 0) << readFile(run.outputDir / "render_report.csv");

    const auto summary = summaryOf(run.log());
    ASSERT_TRUE(summary) << run.log();
    const int planned = static_cast<int>(truth().at("frames").size()) * 3;
    EXPECT_EQ(summary->totalImages, planned);
    EXPECT_EQ(summary->succeeded + summary->skipped + summary->failed, planned);
    EXPECT_EQ(cells["成功"], summary->succeeded);
    EXPECT_EQ(cells["跳过"], summary->skipped);
    EXPECT_EQ(cells["失败"], summary->failed);
    EXPECT_GT(summary->failed, 0);

    const std::string page = readFile(run.outputDir / "render_report.html");
    std::smatch sheet;
    ASSERT_TRUE(std::regex_search(page, sheet, std::regex("共 (\\d+) 张，成功 (\\d+) 张，跳过 (\\d+) 张，失败 (\\d+) 张")));
    EXPECT_EQ(std::stoi(sheet[1]), planned);
    EXPECT_EQ(std::stoi(sheet[2]), summary->succeeded);
    EXPECT_EQ(std::stoi(sheet[3]), summary->skipped);
    EXPECT_EQ(std::stoi(sheet[4]), summary->failed);
}
