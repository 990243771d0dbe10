// The ordered pipeline on its own: lines and steps in the order they were
// handed over, whatever order the writers finish in.
#include "app/ImagePipeline.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

#include <sstream>

using namespace vistrel;
using namespace testsupport;

namespace {

osg::ref_ptr<osg::Image> picture(int size)
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(size, size, 1, GL_RGBA, GL_UNSIGNED_BYTE, 1);
    std::fill(image->data(), image->data() + image->getTotalSizeInBytes(), 90);
    return image;
}

}  // namespace

TEST(ImagePipeline, LinesStepsAndWritesKeepTheirOrder)
{
    TempDir dir("pipeline");
    RenderConfig config;
    config.output_dir = dir.path().string();
    // Large and small pictures: with three writers the small ones finish first.
    const int sizes[] = {1024, 8, 512, 8, 1024, 8};
    std::string expected;
    auto captured = std::make_unique<CapturedOutput>();
    {
        ImagePipeline pipeline(config, 3);
        Logger::instance().info("first line");  // nothing pending: out at once
        const std::string early = captured->text();
        EXPECT_NE(early.find("first line"), std::string::npos);
        captured = std::make_unique<CapturedOutput>();
        for (int i = 0; i < 6; ++i) {
            const osg::ref_ptr<osg::Image> source = picture(sizes[i]);
            const std::string name = (dir / ("p" + std::to_string(i))).string();
            Logger::instance().info("before " + std::to_string(i));
            const auto handle = pipeline.write(pipeline.forWriting(*source), name);
            pipeline.then([handle, i] {
                Logger::instance().emit(Logger::Info,
                                        "after " + std::to_string(i) + (handle.get().written ? " written" : " failed"));
            });
            expected +=
                "before " + std::to_string(i) + "|Wrote " + name + ".png|after " + std::to_string(i) + " written|";
        }
        pipeline.drain();
    }
    std::string order;
    std::istringstream lines(captured->text());
    for (std::string line; std::getline(lines, line);) {
        order += line.substr(line.find("] ") + 2) + "|";
    }
    EXPECT_EQ(order, expected);
}

TEST(ImagePipeline, WriteOutcomesBecomeTheirLogLines)
{
    TempDir dir("outcomes");
    RenderConfig config;
    config.output_dir = dir.path().string();
    writeFile(dir / "blocker", "a file where a folder is needed");
    fs::create_directory_symlink(dir / "elsewhere", dir / "linked");
    const osg::ref_ptr<osg::Image> source = picture(8);
    CapturedOutput log;
    {
        ImagePipeline pipeline(config, 0);
        EXPECT_TRUE(pipeline.write(pipeline.forWriting(*source), (dir / "a" / "top").string()).get().written);
        // The image is written; its thumbnail's folder cannot be made.
        const auto thumbnailFailed = pipeline.write(pipeline.forWriting(*source), (dir / "b" / "top").string(),
                                                    (dir / "blocker" / "t.jpg").string());
        EXPECT_TRUE(thumbnailFailed.get().written);
        EXPECT_FALSE(thumbnailFailed.get().refused);
        const auto thumbnailRefused = pipeline.write(pipeline.forWriting(*source), (dir / "c" / "top").string(),
                                                     (dir / "linked" / "t.jpg").string());
        EXPECT_TRUE(thumbnailRefused.get().refused);
        // A folder that cannot be made fails the image as a render failure; nothing is thrown.
        EXPECT_FALSE(
            pipeline.write(pipeline.forWriting(*source), (dir / "blocker" / "sub" / "top").string()).get().written);
    }
    const std::string text = log.text();
    EXPECT_NE(text.find("[INFO] Wrote " + (dir / "a" / "top.png").string()), std::string::npos) << text;
    EXPECT_NE(text.find("[WARN] Failed to write thumbnail: " + (dir / "blocker" / "t.jpg").string() + ": "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[ERROR] Refused to write through a symbolic link below the output folder: " +
                        (dir / "linked").string()),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[ERROR] Render failed: "), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(dir / "blocker" / "sub"));
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}
