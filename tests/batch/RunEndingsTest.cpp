// How a run ends when it is stopped, its output is closed or its report
// cannot be written.
#include "SampleRun.h"

#include "support/OutputProbes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

using namespace batchtest;
using namespace testsupport;

TEST(RunEndings, SigtermFinishesTheImageInHandWritesTheReportAndExitsFive)
{
    TempDir dir("stop");
    testsupport::writeFile(dir / "render.json",
                           smallConfig({{"angles", {"top", "north"}}, {"warmup_frames", 2}}).dump());
    bool sent = false;
    const ProcessResult process = runProcess(
        vistrelExecutable(), {(dir / "render.json").string()}, dir.path(), {{"DISPLAY", ""}}, 600,
        [&](const std::string& out, int pid) {
            if (!sent && countOccurrences(out, "IMAGE_PROGRESS ") >= 3) {
                kill(pid, SIGTERM);
                sent = true;
            }
        });
    ASSERT_TRUE(sent) << process.out;
    EXPECT_EQ(process.exitCode, 5) << process.out;
    EXPECT_NE(process.out.find("[WARN] Stopped by signal"), std::string::npos) << process.out;

    // Every image that was reported is on disk; the run stopped well before the end.
    const auto progress = linesWith(process.out, "IMAGE_PROGRESS ");
    ASSERT_GE(progress.size(), 3u);
    EXPECT_LT(progress.size(), 20u);
    const auto wrote = linesWith(process.out, "] Wrote /");
    for (const auto& line : wrote) {
        EXPECT_TRUE(fs::exists(line.substr(line.find("Wrote ") + 6))) << line;
    }
    const auto rows = parseCsv(readFile(dir / "out" / "render_report.csv"));
    ASSERT_EQ(rows.size(), truth().at("frames").size() + 1);
    int done = 0;
    int notDone = 0;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        for (const auto& cell : rows[r]) {
            done += cell == "成功" || cell == "跳过" ? 1 : 0;
            notDone += cell == "未完成" ? 1 : 0;
        }
    }
    EXPECT_EQ(done, static_cast<int>(progress.size()));
    EXPECT_EQ(done + notDone, 2 * static_cast<int>(rows.size() - 1));
}

TEST(RunEndings, AClosedStandardOutputDoesNotEndTheRun)
{
    TempDir dir("pipe");
    testsupport::writeFile(dir / "render.json", smallConfig({{"preview_limit", 3}}).dump());
    // The reader goes away after the first line, as `Vistrel cfg | head -1` does.
    const ProcessResult process =
        runProcess("/bin/bash", {"-c", "\"$0\" \"$1\" | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}",
                                 vistrelExecutable(), (dir / "render.json").string()},
                   dir.path(), {{"DISPLAY", ""}});
    EXPECT_EQ(process.exitCode, 0) << process.err;
    EXPECT_EQ(parseCsv(readFile(dir / "out" / "render_report.csv")).size(), 4u);
}

TEST(RunEndings, AReportThatCannotBeWrittenFailsTheRun)
{
    TempDir dir("report");
    fs::create_directories(dir / "out" / "render_report.csv");
    const SampleRun run = runVistrel(dir, smallConfig({{"preview_limit", 2}}));
    EXPECT_EQ(run.process.exitCode, 4) << run.log();
    EXPECT_NE(run.log().find("[ERROR] Failed to write CSV report: "), std::string::npos) << run.log();
}

TEST(RunEndings, AStopBeforeTheBatchOrDuringTheReportsStillReportsAndExitsFive)
{
    // Before the batch: the report lists every image as not done.
    TempDir dir("edges");
    const auto stoppedAt = [&](const std::string& config, const std::string& keyword) {
        testsupport::writeFile(dir / config, smallConfig({{"preview_limit", 3}, {"html_report", true},
                                                          {"output_dir", config + ".out"}}).dump());
        bool sent = false;
        const ProcessResult process = runProcess(
            vistrelExecutable(), {(dir / config).string()}, dir.path(), {{"DISPLAY", ""}}, 600,
            [&](const std::string& out, int pid) {
                if (!sent && out.find(keyword) != std::string::npos) {
                    kill(pid, SIGTERM);
                    sent = true;
                }
            });
        EXPECT_TRUE(sent) << process.out;
        EXPECT_EQ(process.exitCode, 5) << process.out;
        return parseCsv(readFile(dir / (config + ".out") / "render_report.csv"));
    };
    const auto early = stoppedAt("early.json", "Starting Vistrel.");
    ASSERT_EQ(early.size(), 4u);
    for (std::size_t r = 1; r < early.size(); ++r) {
        EXPECT_NE(std::find(early[r].begin(), early[r].end(), "未完成"), early[r].end()) << r;
    }

    // At the last image: the reports are finished, then the run ends as stopped.
    const auto late = stoppedAt("late.json", "IMAGE_PROGRESS image=3 total_images=3");
    ASSERT_EQ(late.size(), 4u);
    EXPECT_TRUE(fs::exists(dir / "late.json.out" / "render_report.html"));
    for (std::size_t r = 1; r < late.size(); ++r) {
        EXPECT_EQ(std::find(late[r].begin(), late[r].end(), "未完成"), late[r].end()) << r;
    }
}
