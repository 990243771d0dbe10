// `Vistrel --plan` tells what the run does (its frames, images, overlap and
// take-overs) and writes nothing; `where` selects the frames a run renders;
// retry_failed_only renders again only the frames that failed or were skipped.
#include "SampleRun.h"

#include "app/RunJournal.h"
#include "core/PlanProtocol.h"
#include "core/RunProtocol.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using namespace batchtest;
using namespace testsupport;

namespace {

struct PlanRun {
    ProcessResult process;
    std::optional<vistrel::PlanSummary> summary;
    std::vector<vistrel::PlanFrame> frames;
    int tiles = 0;
};

PlanRun runPlan(const TempDir& dir, const nlohmann::json& config)
{
    writeFile(dir / "plan.json", config.dump());
    PlanRun plan;
    plan.process =
        runProcess(vistrelExecutable(), {"--plan", (dir / "plan.json").string()}, dir.path(), {{"DISPLAY", ""}});
    std::istringstream lines(plan.process.out);
    for (std::string line; std::getline(lines, line);) {
        const auto parsed = vistrel::parseLogLine(line);
        if (!parsed) {
            continue;
        }
        if (auto summary = vistrel::parsePlanSummary(parsed->message)) {
            plan.summary = summary;
        } else if (auto frame = vistrel::parsePlanFrame(parsed->message)) {
            plan.frames.push_back(*frame);
        } else if (vistrel::parsePlanTile(parsed->message)) {
            ++plan.tiles;
        }
    }
    return plan;
}

std::optional<vistrel::RunFinished> finishedLine(const std::string& log)
{
    std::istringstream lines(log);
    std::optional<vistrel::RunFinished> finished;
    for (std::string line; std::getline(lines, line);) {
        if (const auto parsed = vistrel::parseLogLine(line)) {
            finished = finished ? finished : vistrel::parseRunFinished(parsed->message);
        }
    }
    return finished;
}

// Every file below `root` with its bytes and modification time.
std::map<std::string, std::string> folderState(const fs::path& root)
{
    std::map<std::string, std::string> state;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            state[fs::relative(entry.path(), root).string()] =
                readFile(entry.path()) + std::to_string(entry.last_write_time().time_since_epoch().count());
        }
    }
    return state;
}

int countOf(const std::string& text, const std::string& part)
{
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

std::set<std::string> skippedFrameNames()
{
    std::set<std::string> names;
    for (const auto& frame : truth().at("frames")) {
        if (frame.at("skip").get<bool>()) {
            names.insert(frame.at("name").get<std::string>());
        }
    }
    return names;
}

}  // namespace

TEST(PlanMode, GivesTheRunsCountsAndWritesNothing)
{
    TempDir dir("plan-counts");
    const nlohmann::json config = smallConfig({{"angles", {"top", "north"}}, {"output_top_range", true}});
    const PlanRun plan = runPlan(dir, config);
    ASSERT_EQ(plan.process.exitCode, 0) << plan.process.out << plan.process.err;
    EXPECT_FALSE(fs::exists(dir / "out"));
    EXPECT_FALSE(fs::exists(dir / "logs"));
    ASSERT_TRUE(plan.summary) << plan.process.out;
    const int frames = static_cast<int>(truth().at("frames").size());
    EXPECT_EQ(plan.summary->frames, frames);
    EXPECT_EQ(static_cast<int>(plan.frames.size()), frames);
    EXPECT_EQ(plan.summary->over + plan.summary->partly, frames);
    EXPECT_EQ(plan.tiles, static_cast<int>(truth().at("tiles").size()));
    EXPECT_EQ(plan.summary->systems, vistrel::PlanSystems::Same);
    EXPECT_GT(plan.summary->estimatedSeconds, 0.0);
    EXPECT_GT(plan.summary->parcelsExtent.x0, 1e7);  // the zone prefix, as the parcels give it

    const SampleRun run = runVistrel(dir, config);
    ASSERT_EQ(run.process.exitCode, 0) << run.log();
    const auto finished = finishedLine(run.log());
    ASSERT_TRUE(finished);
    EXPECT_EQ(plan.summary->imagesPlanned, finished->totalImages);
    EXPECT_EQ(plan.summary->imagesToRender, finished->totalImages);
    EXPECT_EQ(countOf(run.log(), "FRAME_PROGRESS "), plan.summary->frames);

    // A plan of the resume takes over what the run wrote and leaves the folder as it was.
    const std::map<std::string, std::string> before = folderState(run.outputDir);
    nlohmann::json resume = config;
    resume["resume"] = true;
    const PlanRun again = runPlan(dir, resume);
    ASSERT_TRUE(again.summary) << again.process.out;
    EXPECT_EQ(again.summary->imagesTakenOver, finished->succeeded);
    EXPECT_EQ(again.summary->imagesToRender, 0);
    EXPECT_EQ(folderState(run.outputDir), before);

    // Parcels nowhere near the model: the plan is printed, then exit 6 as a run gives.
    nlohmann::json away = config;
    away["shp_offset_x"] = 100000.0;
    away["output_dir"] = "away";
    const PlanRun outside = runPlan(dir, away);
    EXPECT_EQ(outside.process.exitCode, vistrel::ExitNothingToRender);
    ASSERT_TRUE(outside.summary) << outside.process.out;
    EXPECT_EQ(outside.summary->outside, frames);
    EXPECT_EQ(outside.summary->estimatedSeconds, -1.0);
    EXPECT_EQ(runVistrel(dir, away).process.exitCode, vistrel::ExitNothingToRender);
}

TEST(PlanMode, WhereSelectsTheFramesAndABadOneIsAConfigError)
{
    TempDir dir("plan-where");
    const PlanRun plan = runPlan(dir, smallConfig({{"where", "ZDDM LIKE '%GB0001%'"}}));
    ASSERT_EQ(plan.process.exitCode, 0) << plan.process.out;
    std::set<std::string> expected;
    for (const auto& frame : truth().at("frames")) {
        if (frame.at("attributes").at("ZDDM").get<std::string>().find("GB0001") != std::string::npos) {
            expected.insert(frame.at("name").get<std::string>());
        }
    }
    std::set<std::string> planned;
    for (const vistrel::PlanFrame& frame : plan.frames) {
        planned.insert(frame.name);
    }
    EXPECT_EQ(planned, expected);

    const SampleRun bad = runVistrel(dir, smallConfig({{"where", "NO_SUCH_FIELD = 1"}}));
    EXPECT_EQ(bad.process.exitCode, vistrel::ExitConfigOrTaskFailure);
    const std::size_t at = bad.log().find("Config error: where ");
    ASSERT_NE(at, std::string::npos) << bad.log();
    const auto message = vistrel::matchRunMessage(bad.log().substr(at, bad.log().find('\n', at) - at));
    ASSERT_TRUE(message);
    EXPECT_EQ(message->id, vistrel::RunMessage::ConfigWhere);
    EXPECT_EQ(message->values.front(), "parcels");
}

TEST(PlanMode, RetryFailedOnlyRendersOnlyTheFailedAndSkippedFrames)
{
    TempDir dir("plan-retry");
    nlohmann::json config = smallConfig({{"resume", true}, {"retry_failed_only", true}});
    // Without a journal to read it is refused, and nothing is made.
    EXPECT_EQ(runVistrel(dir, config).process.exitCode, vistrel::ExitConfigOrTaskFailure);
    EXPECT_FALSE(fs::exists(dir / "out"));
    nlohmann::json first = config;
    first.erase("retry_failed_only");
    ASSERT_EQ(runVistrel(dir, first).process.exitCode, 0);

    // The journal forgets frame 1, as if the run had stopped before it.
    const fs::path journal = vistrel::journalPath((dir / "out").string(), 0, 1);
    std::istringstream lines(readFile(journal));
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
        vistrel::JournalEntry entry;
        if (!vistrel::parseJournalLine(line, entry) || entry.frame != 0) {
            kept += line + "\n";
        }
    }
    writeFile(journal, kept);
    const std::set<std::string> skipped = skippedFrameNames();
    const int frames = static_cast<int>(truth().at("frames").size());
    const PlanRun plan = runPlan(dir, config);
    ASSERT_TRUE(plan.summary) << plan.process.out;
    EXPECT_EQ(plan.summary->imagesToRender, static_cast<int>(skipped.size()));
    EXPECT_EQ(plan.summary->imagesTakenOver, frames - 1 - static_cast<int>(skipped.size()));
    EXPECT_NE(plan.process.out.find("retry_failed_only: " + std::to_string(skipped.size()) + " of "),
              std::string::npos);
    // Another filter is another batch: nothing of this one is taken over.
    nlohmann::json other = first;
    other["where"] = "ZDDM LIKE '4413%'";
    const PlanRun otherPlan = runPlan(dir, other);
    ASSERT_TRUE(otherPlan.summary) << otherPlan.process.out;
    EXPECT_EQ(otherPlan.summary->imagesTakenOver, 0);

    const SampleRun retry = runVistrel(dir, config);
    ASSERT_EQ(retry.process.exitCode, 0) << retry.log();
    // Only the skipped frames were looked at again (and journaled anew).
    std::istringstream after(readFile(journal).substr(kept.size()));
    std::set<std::string> journaled;
    for (std::string line; std::getline(after, line);) {
        vistrel::JournalEntry entry;
        if (vistrel::parseJournalLine(line, entry)) {
            journaled.insert(entry.frameName);
        }
    }
    EXPECT_EQ(journaled, skipped);
    const auto finished = finishedLine(retry.log());
    ASSERT_TRUE(finished);
    EXPECT_EQ(finished->notDone, 1);  // frame 1's image is left out
    EXPECT_EQ(finished->succeeded, frames - 1 - static_cast<int>(skipped.size()));
}
