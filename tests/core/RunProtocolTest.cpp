// The run protocol: every line kind survives build -> parse, lines that are
// not quite the protocol are refused, and the failure messages and exit codes
// are one table that the README follows.

#include "core/RunProtocol.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

using namespace vistrel;

TEST(RunProtocol, EveryLineKindRoundTrips)
{
    const FrameProgress frame{12, 340, "宗地 A=1 reason=x"};
    const auto frameBack = parseFrameProgress(formatLine(frame));
    ASSERT_TRUE(frameBack);
    EXPECT_EQ(frameBack->frame, 12);
    EXPECT_EQ(frameBack->totalFrames, 340);
    EXPECT_EQ(frameBack->name, frame.name);

    // A name holding " reason=" still gives the renderer's own reason.
    const SkipFrame skip{"a reason=b", "正射图斑范围内疑似无有效模型"};
    const auto skipBack = parseSkipFrame(formatLine(skip));
    ASSERT_TRUE(skipBack);
    EXPECT_EQ(skipBack->name, skip.name);
    EXPECT_EQ(skipBack->reason, skip.reason);

    const ImageProgress image{7, 90, 3, 30, 12.345, 1.5, "se45", true};
    const std::string imageText = formatLine(image);
    EXPECT_EQ(imageText,
              "IMAGE_PROGRESS image=7 total_images=90 frame=3 total_frames=30 elapsed=12.35 eta=1.50 angle=se45 "
              "success=1");
    const auto imageBack = parseImageProgress(imageText);
    ASSERT_TRUE(imageBack);
    EXPECT_EQ(imageBack->image, 7);
    EXPECT_EQ(imageBack->totalImages, 90);
    EXPECT_EQ(imageBack->frame, 3);
    EXPECT_EQ(imageBack->totalFrames, 30);
    EXPECT_DOUBLE_EQ(imageBack->elapsed, 12.35);
    EXPECT_EQ(imageBack->angle, "se45");
    EXPECT_TRUE(imageBack->success);

    RunFinished remarked{6, 9, 1, 1, 1, 2, 1};
    remarked.hidden = 3;
    remarked.partlyOutside = 2;
    for (const RunFinished& finished : {RunFinished{8, 12, 2, 2, 0, 1}, RunFinished{4, 6, 1, 1, 2, 3},
                                        RunFinished{1, 6, 1, 1, 0, 1, 3}, RunFinished{0, 4, 0, 1, 1, 2, 3}, remarked}) {
        const auto back = parseRunFinished(formatLine(finished));
        ASSERT_TRUE(back) << formatLine(finished);
        EXPECT_EQ(back->succeeded, finished.succeeded);
        EXPECT_EQ(back->totalImages, finished.totalImages);
        EXPECT_EQ(back->skipped, finished.skipped);
        EXPECT_EQ(back->failed, finished.failed);
        EXPECT_EQ(back->shardIndex, finished.shardIndex);
        EXPECT_EQ(back->shardCount, finished.shardCount);
        EXPECT_EQ(back->notDone, finished.notDone);
        EXPECT_EQ(back->hidden, finished.hidden);
        EXPECT_EQ(back->partlyOutside, finished.partlyOutside);
    }
    // Lines of earlier versions, without the remark counts, still read.
    const auto earlier =
        parseRunFinished("Render finished. Success 5/6, skipped 1, failed 0, not done 2 (shard 2 of 3, "
                         "shard_index 1)");
    ASSERT_TRUE(earlier);
    EXPECT_EQ(earlier->notDone, 2);
    EXPECT_EQ(earlier->shardCount, 3);
    EXPECT_EQ(earlier->hidden, 0);

    const auto state = parseRunState(formatLine(RunState{2, 3, true}));
    ASSERT_TRUE(state);
    EXPECT_EQ(state->shardIndex, 2);
    EXPECT_EQ(state->shardCount, 3);
    EXPECT_TRUE(state->resume);

    const auto log = parseLogLine("[2026-12-07 10:00:00.123][WARN] SKIP_FRAME name=a reason=b");
    ASSERT_TRUE(log);
    EXPECT_EQ(log->level, "WARN");
    EXPECT_EQ(log->message, "SKIP_FRAME name=a reason=b");
}

TEST(RunProtocol, NearMissesAreNotProtocolLines)
{
    EXPECT_FALSE(parseImageProgress("IMAGE_PROGRESS image=1 total_images=2 frame=1 total_frames=1 elapsed=0.10 "
                                    "eta=0.10 angle=top success=2"));
    EXPECT_FALSE(parseImageProgress("IMAGE_PROGRESS image=x total_images=2 frame=1 total_frames=1 elapsed=0.10 "
                                    "eta=0.10 angle=top success=1"));
    EXPECT_FALSE(parseFrameProgress("FRAME_PROGRESS frame=1 name=a"));
    EXPECT_FALSE(parseRunFinished("Render finished. Success 1/2, skipped 0"));
    EXPECT_FALSE(parseRunFinished("Render finished. Success 1/2, skipped 0, failed 1 trailing"));
    EXPECT_FALSE(parseRunFinished("Render finished. Success 1/3, skipped 0, failed 1, not done"));
    EXPECT_FALSE(parseRunFinished("Render finished. Success 1/3, skipped 0, failed 1, pending 1"));
    EXPECT_FALSE(parseRunFinished("Render finished. Success 1/3, skipped 0, failed 1, hidden 1"));
    EXPECT_FALSE(parseRunFinished("Render finished. Success 1/3, skipped 0, failed 1, hidden x, partly outside 0"));
    EXPECT_FALSE(parseRunState("RUN_STATE shard_index=0 shard_count=1 resume=yes"));
    EXPECT_FALSE(parseLogLine("[x][DEBUG] text"));
    EXPECT_FALSE(parseLogLine("Config error: width and height must be positive."));
}

TEST(RunProtocol, FailureMessagesAreOneTable)
{
    std::set<RunMessage> seen;
    for (const RunMessageText& text : runMessageTexts()) {
        EXPECT_TRUE(seen.insert(text.id).second) << text.pattern;
        // Values that look like the pattern's own words still come back whole.
        std::vector<std::string> values;
        for (int i = 0; i < patternValueCount(text.pattern); ++i) {
            values.push_back("/data/a: b " + std::to_string(i));
        }
        const std::string message = runMessage(text.id, values);
        const auto matched = matchRunMessage(message);
        ASSERT_TRUE(matched) << message;
        EXPECT_EQ(matched->id, text.id) << message;
        std::string rebuilt = runMessage(matched->id, matched->values);
        EXPECT_EQ(rebuilt, message);
    }
    EXPECT_FALSE(matchRunMessage("Something else entirely"));
}

TEST(RunProtocol, ReadmeListsTheExitCodesOfTheTable)
{
    std::ifstream in(VISTREL_SOURCE_DIR "/README.md");
    std::stringstream readme;
    readme << in.rdbuf();
    for (const ExitCodeText& code : exitCodeTexts()) {
        const std::string row = "| " + std::to_string(code.code) + " | " + code.english + " |";
        EXPECT_NE(readme.str().find(row), std::string::npos) << row;
    }
}
