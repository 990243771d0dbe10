// The batch's own decisions (names, resume, skips, counts) with pictures from
// a stand-in renderer: no GPU and no model.
#include "app/RenderBatch.h"
#include "app/RenderReport.h"
#include "core/RunProtocol.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <osg/Group>

#include <fstream>
#include <set>

using namespace vistrel;
using namespace testsupport;

namespace {

constexpr int kWidth = 32;
constexpr int kHeight = 18;

// Frame i lies around x = 100 i; a setup is told apart by its centre.
PolygonFrame frameAt(int i, const std::string& name)
{
    PolygonFrame frame;
    frame.index = i + 1;
    frame.name = frame.uniqueName = name;
    frame.minX = 100.0 * i;
    frame.maxX = frame.minX + 10.0;
    frame.minY = 0.0;
    frame.maxY = 10.0;
    frame.rings = {{{frame.minX, 0.0}, {frame.maxX, 0.0}, {frame.maxX, 10.0}, {frame.minX, 10.0}}};
    frame.maxZ = 5.0;
    frame.centerZ = 2.5;
    return frame;
}

// Pictures with a pattern (a model in view), or for the frames marked so:
// white ones (nothing in view), none at all, or ones taken with tiles still
// loading.
class FakePictures final : public PictureSource {
public:
    std::set<int> empty, failing, loading;  // frame numbers (the i of frameAt)
    int draws = 0;

    bool initialize(osg::Node*, std::vector<std::string>&) override { return true; }
    bool renderModel(const CameraSetup& setup) override { return draw(setup); }
    bool renderOutline(const CameraSetup& setup, const PolygonFrame&, bool) override { return draw(setup); }
    bool measurePicture(const CameraSetup&, const PolygonFrame&, MeasureParts, PictureMeasure&) override { return true; }
    osg::Image* captureImage() const override { return picture_.get(); }
    const std::string& renderError() const override { return error_; }
    bool tilesIncomplete() const override { return incomplete_; }
    int incompleteRequests() const override { return incomplete_ ? 3 : 0; }

private:
    bool draw(const CameraSetup& setup)
    {
        ++draws;
        const int frame = static_cast<int>(setup.center.x() / 100.0);
        incomplete_ = loading.count(frame) > 0;
        error_ = failing.count(frame) > 0 ? "no picture of frame " + std::to_string(frame) : std::string();
        if (!error_.empty()) {
            return false;
        }
        picture_ = new osg::Image;
        picture_->allocateImage(kWidth, kHeight, 1, GL_RGBA, GL_UNSIGNED_BYTE);
        unsigned char* data = picture_->data();
        for (int i = 0; i < kWidth * kHeight * 4; ++i) {
            data[i] = empty.count(frame) > 0 ? 255 : static_cast<unsigned char>((i * 37 + frame * 11) % 251);
        }
        return true;
    }

    osg::ref_ptr<osg::Image> picture_;
    std::string error_;
    bool incomplete_ = false;
};

RenderConfig smallConfig(const TempDir& dir)
{
    RenderConfig config;
    config.output_dir = (dir / "out").string();
    config.width = kWidth;
    config.height = kHeight;
    config.angles = {"top", "north"};
    config.output_top_range = true;
    config.avoid_occlusion = false;
    config.photo_name_template = "#_<ANGLE>";
    return config;
}

struct BatchEnd {
    bool succeeded = false;
    ResultsTable results;
    std::string log;
};

BatchEnd runBatch(const RenderConfig& config, FakePictures& pictures, const std::vector<PolygonFrame>& frames)
{
    osg::ref_ptr<osg::Group> scene = new osg::Group;
    CapturedOutput out;
    BatchOptions options;
    options.pipelined = false;
    RenderBatch batch(config, pictures, options);
    BatchEnd end;
    end.succeeded = batch.run(scene.get(), frames);
    end.results = batch.results();
    end.log = out.text();
    return end;
}

std::string fileName(const ResultsTable& results, std::size_t frame, const std::string& key)
{
    return fs::path(results.at(frame).at(key).path).filename().string();
}

}  // namespace

TEST(BatchDecisions, NamesCountRenderedImagesOnlyUnlessTheBatchIsSplit)
{
    TempDir dir("batch-names");
    const std::vector<PolygonFrame> frames = {frameAt(0, "a"), frameAt(1, "b"), frameAt(2, "c")};
    FakePictures pictures;
    pictures.empty = {1};
    RenderConfig config = smallConfig(dir);

    const BatchEnd whole = runBatch(config, pictures, frames);
    EXPECT_TRUE(whole.succeeded) << whole.log;
    EXPECT_EQ(fileName(whole.results, 0, "top"), "1_top.png");
    EXPECT_EQ(fileName(whole.results, 0, "top_range"), "2_top_range.png");
    EXPECT_EQ(fileName(whole.results, 0, "north"), "3_north.png");
    EXPECT_TRUE(whole.results[1].at("top_range").skipped);
    EXPECT_TRUE(whole.results[1].at("north").path.empty());
    EXPECT_EQ(fileName(whole.results, 2, "top"), "4_top.png");
    EXPECT_EQ(fileName(whole.results, 2, "north"), "6_north.png");
    EXPECT_TRUE(fs::is_regular_file(dir / "out" / "6_north.png"));

    // Shard 0 of 2 names the skipped frame and the other shard's too.
    config.output_dir = (dir / "shards").string();
    config.shard_count = 2;
    const BatchEnd shard = runBatch(config, pictures, frames);
    EXPECT_TRUE(shard.succeeded) << shard.log;
    EXPECT_EQ(fileName(shard.results, 0, "north"), "3_north.png");
    EXPECT_TRUE(shard.results[1].empty());
    EXPECT_EQ(fileName(shard.results, 2, "top"), "7_top.png");
    EXPECT_EQ(fileName(shard.results, 2, "north"), "9_north.png");
}

TEST(BatchDecisions, ResumeReplaysTheSkipsAndTakesOverOnlyIntactImages)
{
    TempDir dir("batch-resume");
    const std::vector<PolygonFrame> frames = {frameAt(0, "a"), frameAt(1, "b"), frameAt(2, "c")};
    FakePictures pictures;
    pictures.empty = {1};
    RenderConfig config = smallConfig(dir);
    ASSERT_TRUE(runBatch(config, pictures, frames).succeeded);

    // The skipped frame would show a model now, and one picture was changed.
    pictures.empty.clear();
    pictures.draws = 0;
    std::ofstream(dir / "out" / "4_top.png", std::ios::app) << "changed";
    config.resume = true;
    const BatchEnd resumed = runBatch(config, pictures, frames);
    EXPECT_TRUE(resumed.succeeded) << resumed.log;
    EXPECT_TRUE(resumed.results[1].at("top").skipped);  // as the journal says, so that the names stay
    EXPECT_EQ(fileName(resumed.results, 2, "top"), "4_top.png");
    EXPECT_EQ(fileName(resumed.results, 2, "north"), "6_north.png");
    EXPECT_EQ(pictures.draws, 1) << resumed.log;  // only the changed picture is drawn again
    EXPECT_NE(resumed.log.find("Rendering " + (dir / "out" / "4_top.png").string() + " again: "), std::string::npos)
        << resumed.log;
    EXPECT_EQ(countOccurrences(resumed.log, std::string(kResumedPrefix)), 5) << resumed.log;
    EXPECT_EQ(readFile(dir / "out" / "4_top.png").find("changed"), std::string::npos);
}

TEST(BatchDecisions, EveryOutcomeIsCountedOnceInTheReportAndTheSummary)
{
    TempDir dir("batch-outcomes");
    std::vector<PolygonFrame> frames = {frameAt(0, "ok"),      frameAt(1, "empty"), frameAt(2, "no picture"),
                                        frameAt(3, "loading"), frameAt(4, "far"),   frameAt(5, "bad\xff")};
    frames[4].unusable = "no transformation";
    FakePictures pictures;
    pictures.empty = {1};
    pictures.failing = {2};
    pictures.loading = {3};
    RenderConfig config = smallConfig(dir);
    config.angles = {"top"};
    config.photo_name_template.clear();  // the frame's name is its folder, where it can be one

    const BatchEnd end = runBatch(config, pictures, frames);
    EXPECT_FALSE(end.succeeded);
    const ImageCounts counts = countImages(config, end.results);
    EXPECT_EQ(counts.written, 2);
    EXPECT_EQ(counts.skipped, 2);
    EXPECT_EQ(counts.failed, 8);
    EXPECT_EQ(counts.notDone, 0);
    EXPECT_NE(end.log.find(formatLine(RunFinished{2, 12, 2, 8, 0, 1, 0})), std::string::npos) << end.log;

    EXPECT_TRUE(fs::is_regular_file(end.results[3].at("top").path));  // written, but its tiles were loading
    EXPECT_EQ(end.results[3].at("top_range").note, kRemarkTilesIncomplete);
    EXPECT_EQ(end.results[4].at("top").note, std::string(kRemarkFrameUnplaced) + "no transformation");
    EXPECT_FALSE(end.results[5].at("top").note.empty());
    EXPECT_EQ(end.results[5].at("top_range").note, end.results[5].at("top").note);  // fails with its image
}
