// A batch that is killed and resumed, or split into shards and completed by
// a last resumed run, gives what one uninterrupted run gives.
#include "SampleRun.h"

#include "support/OutputProbes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <map>
#include <set>

using namespace batchtest;
using namespace testsupport;

namespace {

// Drawn until loaded, so every run sees the whole model; a template with
// numbering and shared folders, over a layer with repeated names and skipped
// frames, so that the names depend on every frame before.
nlohmann::json batchConfig(const std::string& output, const nlohmann::json& overrides = nlohmann::json::object())
{
    nlohmann::json config = smallConfig({{"output_dir", output},
                                         {"angles", {"top", "north"}},
                                         {"output_top_range", true},
                                         {"warmup_until_loaded", true},
                                         {"num_threads", 1},
                                         {"photo_name_template", "<ZDDM>/#_<ANGLE>"}});
    for (const auto& [key, value] : overrides.items()) {
        config[key] = value;
    }
    return config;
}

ProcessResult runWith(const TempDir& dir, const std::string& name, const nlohmann::json& config,
                      const std::map<std::string, std::string>& env = {},
                      const std::function<void(const std::string&, int)>& watch = {})
{
    writeFile(dir / name, config.dump());
    std::map<std::string, std::string> environment = env;
    environment["DISPLAY"] = "";
    return runProcess(vistrelExecutable(), {(dir / name).string()}, dir.path(), environment, 600, watch);
}

// Relative path -> bytes of every image below `root`.
std::map<std::string, std::string> imagesBelow(const fs::path& root)
{
    std::map<std::string, std::string> images;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && entry.path().extension() == ".png") {
            images[fs::relative(entry.path(), root).string()] = readFile(entry.path());
        }
    }
    return images;
}

// The report with the time columns blanked and the output folder named <out>.
std::vector<std::vector<std::string>> comparableReport(const fs::path& report, const fs::path& output)
{
    std::string text = readFile(report);
    for (std::string::size_type at; (at = text.find(output.string())) != std::string::npos;) {
        text.replace(at, output.string().size(), "<out>");
    }
    auto rows = parseCsv(text);
    for (std::size_t c = 0; !rows.empty() && c < rows[0].size(); ++c) {
        if (rows[0][c].find("耗时秒") != std::string::npos) {
            for (auto& row : rows) {
                row[c].clear();
            }
        }
    }
    return rows;
}

std::vector<std::string> wrotePaths(const std::string& log)
{
    std::vector<std::string> paths;
    for (const auto& line : linesWith(log, "] Wrote /")) {
        paths.push_back(line.substr(line.find("Wrote ") + 6));
    }
    return paths;
}

void expectSameAsOneRun(const fs::path& output, const fs::path& reference)
{
    const auto expected = imagesBelow(reference);
    const auto actual = imagesBelow(output);
    ASSERT_EQ(actual.size(), expected.size());
    for (const auto& [path, bytes] : expected) {
        ASSERT_TRUE(actual.count(path)) << path;
        EXPECT_TRUE(actual.at(path) == bytes) << path;
    }
    EXPECT_EQ(comparableReport(output / "render_report.csv", output),
              comparableReport(reference / "render_report.csv", reference));
}

}  // namespace

TEST(ResumeAndShards, KilledRunsResumeToWhatOneRunWrites)
{
    TempDir dir("resume");
    ASSERT_EQ(runWith(dir, "one.json", batchConfig("one")).exitCode, 0);

    // Killed three times, at the first images, in the middle and near the end.
    std::vector<std::string> written;
    int kills = 0;
    for (const int killAt : {3, 14, 30, -1}) {
        bool killed = false;
        const nlohmann::json config = batchConfig("out", {{"resume", kills > 0}});
        const ProcessResult run = runWith(dir, "out.json", config, {}, [&](const std::string& out, int pid) {
            if (killAt > 0 && !killed && countOccurrences(out, "IMAGE_PROGRESS ") >= killAt) {
                kill(pid, SIGKILL);
                killed = true;
            }
        });
        if (killAt > 0) {
            ASSERT_TRUE(killed) << run.out;
            EXPECT_EQ(run.exitCode, 128 + SIGKILL);
            ++kills;
        } else {
            ASSERT_EQ(run.exitCode, 0) << run.out;
            EXPECT_NE(run.out.find("] Resumed /"), std::string::npos);
        }
        const auto paths = wrotePaths(run.out);
        written.insert(written.end(), paths.begin(), paths.end());
    }
    expectSameAsOneRun(dir / "out", dir / "one");

    // Only images in flight at a kill (handed to the writer, not yet in the
    // journal) are written a second time.
    std::map<std::string, int> times;
    for (const auto& path : written) {
        ++times[path];
    }
    int again = 0;
    for (const auto& [path, count] : times) {
        again += count - 1;
    }
    EXPECT_LE(again, kills * 2);
    EXPECT_EQ(times.size(), imagesBelow(dir / "one").size());
}

TEST(ResumeAndShards, ShardsFromSlurmAndKubernetesThenAFinalRunEqualOneRun)
{
    TempDir dir("shards");
    ASSERT_EQ(runWith(dir, "one.json", batchConfig("one")).exitCode, 0);

    // Three shards at once: two as Slurm array tasks 7..9, one as a Kubernetes
    // Indexed Job pod. The configuration names no shard.
    writeFile(dir / "shard.json", batchConfig("out").dump());
    const std::vector<std::map<std::string, std::string>> engines = {
        {{"SLURM_ARRAY_TASK_ID", "7"}, {"SLURM_ARRAY_TASK_MIN", "7"}, {"SLURM_ARRAY_TASK_COUNT", "3"}},
        {{"JOB_COMPLETION_INDEX", "1"}, {"VISTREL_SHARD_COUNT", "3"}},
        {{"SLURM_ARRAY_TASK_ID", "9"}, {"SLURM_ARRAY_TASK_MIN", "7"}, {"SLURM_ARRAY_TASK_COUNT", "3"}},
    };
    std::vector<std::future<ProcessResult>> shards;
    for (auto env : engines) {
        env["DISPLAY"] = "";
        shards.push_back(std::async(std::launch::async, [&dir, env] {
            return runProcess(vistrelExecutable(), {(dir / "shard.json").string()}, dir.path(), env);
        }));
    }
    int shardImages = 0;
    for (int k = 0; k < 3; ++k) {
        const ProcessResult run = shards[k].get();
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_NE(run.out.find("RUN_STATE shard_index=" + std::to_string(k) + " shard_count=3 resume=0"),
                  std::string::npos);
        EXPECT_NE(run.out.find("(shard " + std::to_string(k + 1) + " of 3, shard_index " + std::to_string(k) + ")"),
                  std::string::npos);
        EXPECT_TRUE(fs::exists(dir / "out" / ("render_report.shard-" + std::to_string(k) + "-of-3.csv")));
        shardImages += static_cast<int>(wrotePaths(run.out).size());
    }
    EXPECT_EQ(shardImages, static_cast<int>(imagesBelow(dir / "one").size()));

    // The last step of the job: unsharded, resumed, it renders nothing new:
    // it names as the shards did, over every frame. One run names only the
    // rendered frames, so its pictures are the same under other numbers.
    const ProcessResult last = runWith(dir, "last.json", batchConfig("out", {{"resume", true}}));
    ASSERT_EQ(last.exitCode, 0) << last.out;
    EXPECT_TRUE(wrotePaths(last.out).empty()) << last.out;
    const auto contents = [](const fs::path& root) {
        std::multiset<std::string> bytes;
        for (const auto& [path, image] : imagesBelow(root)) {
            bytes.insert(image);
        }
        return bytes;
    };
    EXPECT_TRUE(contents(dir / "out") == contents(dir / "one"));
    const auto withoutNames = [](std::vector<std::vector<std::string>> rows) {
        for (std::size_t c = 0; !rows.empty() && c < rows[0].size(); ++c) {
            if (rows[0][c].find("图片") != std::string::npos) {
                for (auto& row : rows) {
                    row[c].clear();
                }
            }
        }
        return rows;
    };
    EXPECT_EQ(withoutNames(comparableReport(dir / "out" / "render_report.csv", dir / "out")),
              withoutNames(comparableReport(dir / "one" / "render_report.csv", dir / "one")));
}

TEST(ResumeAndShards, ATornJournalLineAndAMissingOrShortFileAreRenderedAgain)
{
    TempDir dir("torn");
    const ProcessResult first = runWith(dir, "out.json", batchConfig("out"));
    ASSERT_EQ(first.exitCode, 0);
    const auto written = wrotePaths(first.out);
    ASSERT_GT(written.size(), 6u);

    // The journal torn by a kill in the line of the last image written, one
    // file deleted, one cut short.
    const fs::path journal = dir / "out" / ".vistrel" / "journal-0-of-1.jsonl";
    const std::string lines = readFile(journal);
    const auto lastImage = lines.rfind(fs::relative(written.back(), dir / "out").string());
    ASSERT_NE(lastImage, std::string::npos);
    writeFile(journal, lines.substr(0, lines.rfind('\n', lastImage) + 40));
    fs::remove(written[0]);
    writeFile(written[2], readFile(written[2]).substr(0, 100));

    const ProcessResult again = runWith(dir, "again.json", batchConfig("out", {{"resume", true}}));
    ASSERT_EQ(again.exitCode, 0) << again.out;
    const auto rendered = wrotePaths(again.out);
    EXPECT_EQ(std::set<std::string>(rendered.begin(), rendered.end()),
              (std::set<std::string>{written[0], written[2], written.back()}));
    EXPECT_EQ(readFile(written[2]).size(), fs::file_size(written[2]));
    EXPECT_GT(fs::file_size(written[2]), 100u);
}

TEST(ResumeAndShards, BadShardSettingsAreConfigurationErrors)
{
    TempDir dir("badshard");
    const std::vector<std::pair<nlohmann::json, std::map<std::string, std::string>>> cases = {
        {{{"shard_index", 3}, {"shard_count", 3}}, {}},
        {{{"shard_count", 0}}, {}},
        {nlohmann::json::object(), {{"JOB_COMPLETION_INDEX", "one"}, {"VISTREL_SHARD_COUNT", "3"}}},
        {nlohmann::json::object(), {{"JOB_COMPLETION_INDEX", "1"}}},
        {nlohmann::json::object(), {{"SLURM_ARRAY_TASK_ID", "4"}, {"SLURM_ARRAY_TASK_COUNT", "x3"}}},
        {nlohmann::json::object(), {{"SLURM_ARRAY_TASK_ID", "9"}, {"SLURM_ARRAY_TASK_COUNT", "3"}}},
    };
    const std::vector<std::string> messages = {
        "Config error: shard_index must be from 0 to shard_count - 1 (shard_index 3, shard_count 3).",
        "Config error: shard_count must be at least 1.",
        "Config error: JOB_COMPLETION_INDEX is not a whole number: \"one\"",
        "Config error: JOB_COMPLETION_INDEX is set but VISTREL_SHARD_COUNT is not",
        "Config error: SLURM_ARRAY_TASK_COUNT is not a whole number: \"x3\"",
        "Config error: shard_index must be from 0 to shard_count - 1 (shard_index 9, shard_count 3).",
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const ProcessResult run = runWith(dir, "bad.json", batchConfig("out", cases[i].first), cases[i].second);
        EXPECT_EQ(run.exitCode, 1) << i << run.out;
        EXPECT_NE(run.err.find(messages[i]), std::string::npos) << i << ": " << run.err;
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

TEST(ResumeAndShards, AnotherBatchesJournalIsNotTakenOver)
{
    // The same folder, a changed camera: every image is rendered anew.
    TempDir dir("otherbatch");
    ASSERT_EQ(runWith(dir, "first.json", batchConfig("out", {{"preview_limit", 3}})).exitCode, 0);
    const nlohmann::json changed = batchConfig("out", {{"preview_limit", 3}, {"resume", true}, {"camera_padding", 1.3}});
    const ProcessResult again = runWith(dir, "again.json", changed);
    ASSERT_EQ(again.exitCode, 0) << again.out;
    EXPECT_EQ(again.out.find("] Resumed "), std::string::npos);
    EXPECT_EQ(wrotePaths(again.out).size(), imagesBelow(dir / "out").size());

    // The same batch resumed takes every image over.
    const ProcessResult same = runWith(dir, "same.json", changed);
    EXPECT_TRUE(wrotePaths(same.out).empty()) << same.out;
}
