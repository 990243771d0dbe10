#include "ImageReadBack.h"
#include "output/JpegWriter.h"
#include "output/PdfWriter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <regex>

using namespace vistrel;
using namespace testsupport;
using namespace outputtest;

namespace {

WriteRequest requestFor(const osg::Image* image, int dpi, const fs::path& path, bool lossless = false)
{
    WriteRequest request;
    request.pixels = image;
    request.path = path.string();
    request.dpi = dpi;
    request.quality = 90;
    request.lossless = lossless;
    return request;
}

bool writePdfAt(const osg::Image* image, int dpi, const fs::path& path, bool lossless = false)
{
    std::string reason;
    FileDigest digest;
    return writePdf(requestFor(image, dpi, path, lossless), reason, digest);
}

std::string pdfInfo(const fs::path& file)
{
    const ProcessResult info = runProcess("/usr/bin/pdfinfo", {file.string()}, file.parent_path());
    EXPECT_EQ(info.exitCode, 0) << info.err;
    return info.out;
}

// The one image of the page, extracted as the PDF holds it ("-j": a JPEG
// stays a JPEG, "-png": anything else becomes a PNG).
fs::path extractImage(const fs::path& file, const std::string& mode)
{
    const fs::path prefix = file.parent_path() / (file.stem().string() + "-img");
    const ProcessResult run =
        runProcess("/usr/bin/pdfimages", {mode, file.string(), prefix.string()}, file.parent_path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return prefix.string() + (mode == "-j" ? "-000.jpg" : "-000.png");
}

void expectUprightBands(const DecodedImage& image, int width, int height)
{
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    EXPECT_GT(image.pixel(5, 2)[0], 230);  // top quarter red
    EXPECT_GT(image.pixel(5, height / 2)[1], 230);  // middle green
    EXPECT_GT(image.pixel(5, height - 3)[2], 230);  // bottom quarter blue
}

}  // namespace

// A 4K page holds the picture as the JPEG a jpg file would hold, upright, at
// the picture's printed size, and costs little more than that JPEG.
TEST(PdfWriter, PageEmbedsTheJpegAtItsPrintedSize)
{
    TempDir dir("pdf");
    const auto capture = noiseCapture(3840, 2160);
    ASSERT_TRUE(writePdfAt(capture.get(), 300, dir / "page.pdf"));
    EXPECT_TRUE(std::regex_search(pdfInfo(dir / "page.pdf"), std::regex("Page size: +921.6 x 518.4 pts")));

    std::string reason;
    FileDigest digest;
    ASSERT_TRUE(writeJpeg(requestFor(capture.get(), 300, dir / "same.jpg"), reason, digest));
    EXPECT_LE(fs::file_size(dir / "page.pdf"), 1.3 * fs::file_size(dir / "same.jpg"));

    const auto banded = bandedCapture(320, 180);
    ASSERT_TRUE(writePdfAt(banded.get(), 300, dir / "bands.pdf"));
    const ProcessResult list = runProcess("/usr/bin/pdfimages", {"-list", (dir / "bands.pdf").string()}, dir.path());
    EXPECT_TRUE(std::regex_search(list.out, std::regex("image +320 +180 +rgb +3 +8 +jpeg"))) << list.out;
    expectUprightBands(readJpeg(extractImage(dir / "bands.pdf", "-j")), 320, 180);

    // The same picture gives the same bytes: no creation date, no random id.
    ASSERT_TRUE(writePdfAt(banded.get(), 300, dir / "again.pdf"));
    EXPECT_EQ(readFile(dir / "bands.pdf"), readFile(dir / "again.pdf"));
}

TEST(PdfWriter, LosslessPageKeepsEveryPixel)
{
    TempDir dir("pdflossless");
    const auto banded = bandedCapture(320, 180);
    ASSERT_TRUE(writePdfAt(banded.get(), 300, dir / "page.pdf", true));
    const ProcessResult list = runProcess("/usr/bin/pdfimages", {"-list", (dir / "page.pdf").string()}, dir.path());
    EXPECT_TRUE(std::regex_search(list.out, std::regex("image +320 +180 +rgb +3 +8 +image"))) << list.out;
    const DecodedImage image = readPng(extractImage(dir / "page.pdf", "-png"));
    expectUprightBands(image, 320, 180);
    EXPECT_EQ(image.pixel(0, 0), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(image.pixel(319, 179), (std::array<int, 3>{0, 0, 255}));
    EXPECT_LT(fs::file_size(dir / "page.pdf"), 20000u);  // Flate-compressed, not 172,800 raw bytes
}

TEST(PdfWriter, PageSizeFollowsResolution)
{
    TempDir dir("pdfdpi");
    const auto capture = bandedCapture(3840, 2160);
    ASSERT_TRUE(writePdfAt(capture.get(), 1200, dir / "a.pdf"));
    EXPECT_TRUE(std::regex_search(pdfInfo(dir / "a.pdf"), std::regex("Page size: +230.4 x 129.6 pts")));
    ASSERT_TRUE(writePdfAt(bandedCapture(100, 50).get(), 72, dir / "b.pdf"));
    EXPECT_TRUE(std::regex_search(pdfInfo(dir / "b.pdf"), std::regex("Page size: +100 x 50 pts")));

    osg::ref_ptr<osg::Image> empty = new osg::Image;
    EXPECT_FALSE(writePdfAt(empty.get(), 300, dir / "c.pdf"));
    EXPECT_FALSE(writePdfAt(capture.get(), 300, dir / "missing/c.pdf"));
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"a.pdf", "b.pdf"}));
}
