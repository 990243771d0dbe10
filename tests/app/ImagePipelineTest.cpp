// The ordered pipeline on its own: lines and steps in the order they were
// handed over, whatever order the writers finish in.
#include "app/ImagePipeline.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

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
    testing::internal::CaptureStdout();
    {
        ImagePipeline pipeline(config, 3);
        Logger::instance().info("first line");  // nothing pending: out at once
        const std::string early = testing::internal::GetCapturedStdout();
        EXPECT_NE(early.find("first line"), std::string::npos);
        testing::internal::CaptureStdout();
        for (int i = 0; i < 6; ++i) {
            const osg::ref_ptr<osg::Image> source = picture(sizes[i]);
            const std::string name = (dir / ("p" + std::to_string(i))).string();
            Logger::instance().info("before " + std::to_string(i));
            const auto handle = pipeline.write(pipeline.forWriting(*source), name);
            pipeline.then([handle, i] {
                Logger::instance().emit(Logger::Info, "after " + std::to_string(i) +
                                                          (handle.get().written ? " written" : " failed"));
            });
            expected += "before " + std::to_string(i) + "|Wrote " + name + ".png|after " + std::to_string(i) +
                        " written|";
        }
        pipeline.drain();
    }
    std::string order;
    std::istringstream lines(testing::internal::GetCapturedStdout());
    for (std::string line; std::getline(lines, line);) {
        order += line.substr(line.find("] ") + 2) + "|";
    }
    EXPECT_EQ(order, expected);
}
