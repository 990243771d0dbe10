#include "app/SaveImage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace vistrel;
using namespace testsupport;

TEST(SaveImage, WrittenOrFailedWithTheReasonLogged)
{
    TempDir dir("save");
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(8, 4, 1, GL_RGBA, GL_UNSIGNED_BYTE, 1);
    std::fill(image->data(), image->data() + image->getTotalSizeInBytes(), 128);
    RenderConfig config;

    CapturedOutput log;
    EXPECT_TRUE(saveImage(image.get(), config, (dir / "a" / "top").string()));
    EXPECT_TRUE(fs::exists(dir / "a" / "top.png"));

    // A file where the folder should be: the image fails, nothing is thrown.
    writeFile(dir / "blocker", "a file");
    EXPECT_FALSE(saveImage(image.get(), config, (dir / "blocker" / "sub" / "top").string()));
    EXPECT_NE(log.text().find("[ERROR] Render failed: "), std::string::npos) << log.text();
    EXPECT_FALSE(fs::exists(dir / "blocker" / "sub"));
}
