// A batch that is killed and resumed, or split into shards and completed by
// a last resumed run, gives what one uninterrupted run gives.
#include "SampleRun.h"

#include "app/RunJournal.h"
#include "support/OutputProbes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <future>
#include <map>
#include <set>
#include <unistd.h>

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
        {{{"shard_count", 3}}, {}},
        {nlohmann::json::object(), {{"JOB_COMPLETION_INDEX", "+1"}, {"VISTREL_SHARD_COUNT", "3"}}},
        {nlohmann::json::object(), {{"JOB_COMPLETION_INDEX", "1"}, {"VISTREL_SHARD_COUNT", " 3"}}},
        {nlohmann::json::object(),
         {{"SLURM_ARRAY_TASK_ID", "4"}, {"SLURM_ARRAY_TASK_COUNT", "3"}, {"SLURM_ARRAY_TASK_STEP", "0"}}},
    };
    const std::vector<std::string> messages = {
        "Config error: shard_index must be from 0 to shard_count - 1 (shard_index 3, shard_count 3).",
        "Config error: shard_count must be at least 1.",
        "Config error: JOB_COMPLETION_INDEX is not a whole number: \"one\"",
        "Config error: JOB_COMPLETION_INDEX is set but VISTREL_SHARD_COUNT is not",
        "Config error: SLURM_ARRAY_TASK_COUNT is not a whole number: \"x3\"",
        "Config error: shard_index must be from 0 to shard_count - 1 (shard_index 9, shard_count 3).",
        "Config error: shard_count is 3 but no shard index is given",
        "Config error: JOB_COMPLETION_INDEX is not a whole number: \"+1\"",
        "Config error: VISTREL_SHARD_COUNT is not a whole number: \" 3\"",
        "Config error: SLURM_ARRAY_TASK_STEP must be at least 1, got \"0\"",
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const ProcessResult run = runWith(dir, "bad.json", batchConfig("out", cases[i].first), cases[i].second);
        EXPECT_EQ(run.exitCode, 1) << i << run.out;
        EXPECT_NE(run.err.find(messages[i]), std::string::npos) << i << ": " << run.err;
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

TEST(ResumeAndShards, IndexAndCountComeFromConfigurationAndEnvironmentIndependently)
{
    TempDir dir("mixedshard");
    const ProcessResult run = runWith(dir, "mixed.json", batchConfig("out", {{"shard_count", 3}, {"preview_limit", 3}}),
                                      {{"JOB_COMPLETION_INDEX", "2"}});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("RUN_STATE shard_index=2 shard_count=3 resume=0"), std::string::npos) << run.out;
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
    EXPECT_EQ(countOccurrences(again.out,
                               "[WARN] Resume takes nothing over: the configuration changed: camera_padding differs\n"),
              1)
        << again.out;

    // The same batch resumed takes every image over.
    const ProcessResult same = runWith(dir, "same.json", changed);
    EXPECT_TRUE(wrotePaths(same.out).empty()) << same.out;
}

namespace {

// Journal lines of the folder's single-machine journal.
std::vector<nlohmann::json> journalOf(const fs::path& output)
{
    std::vector<nlohmann::json> lines;
    for (const auto& line : readLines(output / ".vistrel" / "journal-0-of-1.jsonl")) {
        nlohmann::json entry = nlohmann::json::parse(line);
        if (!entry.contains("identity")) {  // the line that says what the batch is
            lines.push_back(std::move(entry));
        }
    }
    return lines;
}

// Moves every point (and the box) of the shapefile's first record by (dx, dy).
void moveFirstPolygon(const fs::path& shp, double dx, double dy)
{
    std::string bytes = readFile(shp);
    const auto number = [&bytes](std::size_t at) {
        double value;
        std::memcpy(&value, &bytes[at], 8);
        return value;
    };
    const auto store = [&bytes](std::size_t at, double value) { std::memcpy(&bytes[at], &value, 8); };
    const std::size_t content = 100 + 8;  // the first record's content
    std::int32_t points = 0;
    std::int32_t parts = 0;
    std::memcpy(&parts, &bytes[content + 36], 4);
    std::memcpy(&points, &bytes[content + 40], 4);
    for (int i = 0; i < 2; ++i) {
        store(content + 4 + 16 * i, number(content + 4 + 16 * i) + dx);
        store(content + 12 + 16 * i, number(content + 12 + 16 * i) + dy);
    }
    const std::size_t first = content + 44 + 4 * static_cast<std::size_t>(parts);
    for (std::int32_t p = 0; p < points; ++p) {
        store(first + 16 * p, number(first + 16 * p) + dx);
        store(first + 16 * p + 8, number(first + 16 * p + 8) + dy);
    }
    writeFile(shp, bytes);
}

}  // namespace

TEST(ResumeAndShards, OnlyTheBatchsOwnUntouchedFilesAreTakenOver)
{
    TempDir dir("takeover");
    const nlohmann::json first = batchConfig("out", {{"preview_limit", 3}});
    ASSERT_EQ(runWith(dir, "first.json", first).exitCode, 0);
    std::vector<std::string> written;
    for (const auto& line : journalOf(dir / "out")) {
        if (line.at("result") == "written") {
            written.push_back((dir / "out" / line.at("path").get<std::string>()).string());
        }
    }
    ASSERT_GE(written.size(), 3u);

    // A link to a copy outside the output folder, and a zero-filled file of
    // the recorded size: both rendered again, for their reasons.
    TempDir elsewhere("elsewhere");
    fs::copy_file(written[0], elsewhere / "copy.png");
    fs::remove(written[0]);
    fs::create_symlink(elsewhere / "copy.png", written[0]);
    writeFile(written[1], std::string(fs::file_size(written[1]), '\0'));
    const nlohmann::json resumed = batchConfig("out", {{"preview_limit", 3}, {"resume", true}});
    const ProcessResult again = runWith(dir, "again.json", resumed);
    ASSERT_EQ(again.exitCode, 0) << again.out;
    const auto rendered = wrotePaths(again.out);
    EXPECT_EQ(std::set<std::string>(rendered.begin(), rendered.end()),
              (std::set<std::string>{written[0], written[1]}));
    EXPECT_NE(again.out.find("Rendering " + written[0] + " again: " + written[0] + " is a symbolic link"),
              std::string::npos) << again.out;
    EXPECT_NE(again.out.find("Rendering " + written[1] + " again: " + written[1] +
                             " does not have the content the journal recorded"),
              std::string::npos);

    // A frame folder that is a link to a copy of itself: nothing is taken
    // over through it, and nothing is written through it.
    const fs::path folder = fs::path(written[2]).parent_path();
    fs::copy(folder, elsewhere / "folder");
    fs::remove_all(folder);
    fs::create_directory_symlink(elsewhere / "folder", folder);
    const ProcessResult linked = runWith(dir, "again.json", resumed);
    EXPECT_EQ(linked.exitCode, 4) << linked.out;
    EXPECT_EQ(linked.out.find("] Resumed " + folder.string() + "/"), std::string::npos) << linked.out;
    EXPECT_NE(linked.out.find("[ERROR] Refused to write through a symbolic link below the output folder: " +
                              folder.string()),
              std::string::npos);
    EXPECT_EQ(readFile(elsewhere / "folder" / fs::path(written[2]).filename()), readFile(written[2]));
}

TEST(ResumeAndShards, AMovedPolygonOrAChangedModelIsRenderedAgain)
{
    TempDir dir("inputs");
    fs::copy(sampleDir() / "city", dir / "city", fs::copy_options::recursive);
    for (const char* extension : {".shp", ".shx", ".dbf", ".prj", ".cpg"}) {
        fs::copy_file(sampleDir() / (std::string("parcels") + extension), dir / (std::string("parcels") + extension));
    }
    const auto config = [&](bool resume) {
        return batchConfig("out", {{"preview_limit", 3}, {"resume", resume}, {"osgb_path", (dir / "city").string()},
                                   {"shp_path", (dir / "parcels.shp").string()}});
    };
    ASSERT_EQ(runWith(dir, "c.json", config(false)).exitCode, 0);
    int others = 0;
    int firsts = 0;
    for (const auto& line : journalOf(dir / "out")) {
        others += line.at("result") == "written" && line.at("frame") != 0 ? 1 : 0;
        firsts += line.at("result") == "written" && line.at("frame") == 0 ? 1 : 0;
    }
    ASSERT_GT(firsts, 0);

    // The first polygon moved by (120, 50) m: its images alone are not taken over.
    moveFirstPolygon(dir / "parcels.shp", 120.0, 50.0);
    const ProcessResult moved = runWith(dir, "c.json", config(true));
    EXPECT_EQ(moved.exitCode, 0) << moved.out;
    EXPECT_EQ(countOccurrences(moved.out, "] Resumed /"), others) << moved.out;

    // A root tile of the model replaced (a new time): the batch starts afresh.
    const auto roots = linesWith(moved.out, "Loading OSGB/scene: ");
    ASSERT_FALSE(roots.empty());
    const fs::path root = roots[0].substr(roots[0].find("scene: ") + 7);
    fs::last_write_time(root, fs::last_write_time(root) + std::chrono::hours(1));
    const ProcessResult replaced = runWith(dir, "c.json", config(true));
    EXPECT_EQ(replaced.exitCode, 0) << replaced.out;
    EXPECT_EQ(replaced.out.find("] Resumed "), std::string::npos) << replaced.out;
    // One line says why.
    EXPECT_EQ(countOccurrences(replaced.out, "Resume takes nothing over"), 1) << replaced.out;
    EXPECT_NE(replaced.out.find("[WARN] Resume takes nothing over: the model changed: " +
                                fs::relative(root, dir / "city").generic_string() + " size/time differ\n"),
              std::string::npos)
        << replaced.out;
}

TEST(ResumeAndShards, ARunOnTheFolderOfALiveRunLeavesItAloneAndOldJournalsArePruned)
{
    TempDir dir("locked");
    const fs::path journals = dir / "out" / ".vistrel";
    const std::string line = R"({"batch":"0123456789abcdef","frame":0})";
    writeFile(journals / "journal-0-of-1.jsonl", line + "\n");
    {
        // This process works on the folder: a run without resume stops.
        vistrel::RunJournal live;
        std::string error;
        ASSERT_TRUE(live.open((dir / "out").string(), 0, 1, true, "", error)) << error;
        const ProcessResult second = runWith(dir, "second.json", batchConfig("out", {{"preview_limit", 1}}));
        EXPECT_EQ(second.exitCode, 1) << second.out;
        EXPECT_NE(second.out.find("[ERROR] Another run (process " + std::to_string(getpid()) + " on "),
                  std::string::npos)
            << second.out;
        EXPECT_NE(second.out.find("is working on the output folder " + (dir / "out").string() + " (its journal " +
                                  (journals / "journal-0-of-1.jsonl").string() + ")"),
                  std::string::npos)
            << second.out;
        EXPECT_EQ(second.out.find("Render finished"), std::string::npos);
        EXPECT_EQ(readFile(journals / "journal-0-of-1.jsonl"), line + "\n");
        EXPECT_FALSE(fs::exists(journals / "journal-0-of-1.jsonl.1.old"));
    }
    // Free again: a fresh journal, the earlier one moved aside, three kept.
    for (int n = 1; n <= 4; ++n) {
        writeFile(journals / ("journal-0-of-1.jsonl." + std::to_string(n) + ".old"), "");
    }
    vistrel::RunJournal next;
    std::string error;
    ASSERT_TRUE(next.open((dir / "out").string(), 0, 1, false, "", error)) << error;
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(journals)) {
        if (entry.path().filename().string().rfind("journal-", 0) == 0) {
            names.insert(entry.path().filename().string());
        }
    }
    EXPECT_EQ(names, (std::set<std::string>{"journal-0-of-1.jsonl", "journal-0-of-1.lock", "journal-0-of-1.jsonl.3.old",
                                            "journal-0-of-1.jsonl.4.old", "journal-0-of-1.jsonl.5.old"}));
    EXPECT_EQ(readFile(journals / "journal-0-of-1.jsonl.5.old"), line + "\n");
}

TEST(ResumeAndShards, LinkedJournalsAndThumbnailFoldersAreRefused)
{
    TempDir dir("linked");
    TempDir elsewhere("target");
    const auto refused = [&](const std::string& name, const fs::path& link, bool resume) {
        fs::create_directories(dir / name);
        if (link.has_extension()) {
            writeFile(elsewhere / "journal.jsonl", "");
            fs::create_directories((dir / name / link).parent_path());
            fs::create_symlink(elsewhere / "journal.jsonl", dir / name / link);
        } else {
            fs::create_directory_symlink(elsewhere.path(), dir / name / link);
        }
        const ProcessResult run = runWith(
            dir, name + ".json", batchConfig(name, {{"preview_limit", 2}, {"html_report", true}, {"resume", resume}}));
        EXPECT_EQ(run.exitCode, 4) << name << run.out;
        EXPECT_NE(run.out.find("[ERROR] Refused to write through a symbolic link below the output folder: " +
                               (dir / name / link).string()),
                  std::string::npos)
            << run.out;
        // Nothing arrived where the link leads.
        if (link.has_extension()) {
            EXPECT_EQ(readFile(elsewhere / "journal.jsonl"), "");
            fs::remove(elsewhere / "journal.jsonl");
        }
        EXPECT_TRUE(fs::is_empty(elsewhere.path())) << name;
    };
    refused("journal", ".vistrel", false);
    refused("thumbnails", "render_report_files", false);
    refused("file", ".vistrel/journal-0-of-1.jsonl", true);
}
