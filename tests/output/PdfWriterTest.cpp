#include "ImageReadBack.h"
#include "output/PdfWriter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <regex>

using namespace vistrel;
using namespace testsupport;
using namespace outputtest;

namespace {

bool writePdfAt(const osg::Image* image, int dpi, const fs::path& path)
{
    WriteRequest request;
    request.pixels = image;
    request.path = path.string();
    request.dpi = dpi;
    std::string reason;
    FileDigest digest;
    return writePdf(request, reason, digest);
}

}  // namespace

TEST(PdfWriter, WorkedExampleLayoutAndReader)
{
    TempDir dir("pdf");
    const fs::path file = dir / "page.pdf";
    ASSERT_TRUE(writePdfAt(bandedCapture(3840, 2160).get(), 300, file));
    const std::string pdf = readFile(file);

    EXPECT_EQ(pdf.substr(0, 15), "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    EXPECT_NE(pdf.find("/MediaBox [0 0 921.600 518.400]"), std::string::npos);
    const std::string image = "/Length 24883200 >>\nstream\n";
    const std::size_t samples = pdf.find(image) + image.size();
    EXPECT_EQ(pdf.substr(samples, 6), std::string("\xFF\0\0\xFF\0\0", 6));  // top row first, no alpha
    EXPECT_EQ(pdf.substr(samples + 24883200 - 3, 14), std::string("\0\0\xFF\nendstream\n", 14));
    EXPECT_NE(pdf.find("5 0 obj\n<< /Length 39 >>\nstream\nq\n921.600 0 0 518.400 0 0 cm\n/Im0 Do\nQ\nendstream"),
              std::string::npos);

    // Every cross-reference entry points at the first digit of its object.
    const std::size_t table = pdf.rfind("xref\n0 6\n0000000000 65535 f \n");
    ASSERT_NE(table, std::string::npos);
    std::vector<std::size_t> offsets;
    for (int i = 0; i < 5; ++i) {
        const std::string entry = pdf.substr(table + 29 + 20 * i, 20);
        ASSERT_TRUE(std::regex_match(entry, std::regex("\\d{10} 00000 n \n"))) << entry;
        offsets.push_back(std::stoul(entry));
        EXPECT_EQ(pdf.substr(offsets.back(), 8), std::to_string(i + 1) + " 0 obj\n");
    }
    EXPECT_EQ(offsets[0], 15u);
    EXPECT_EQ(offsets[1], 64u);
    EXPECT_EQ(offsets[2], 121u);
    const std::string tail = "trailer\n<< /Size 6 /Root 1 0 R /Info << /Producer (Tavrin) >> >>\nstartxref\n" +
                             std::to_string(table) + "\n%%EOF\n";
    EXPECT_EQ(pdf.substr(pdf.size() - tail.size()), tail);

    const ProcessResult info = runProcess("/usr/bin/pdfinfo", {file.string()}, dir.path());
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_TRUE(std::regex_search(info.out, std::regex("Page size: +921.6 x 518.4 pts"))) << info.out;
}

TEST(PdfWriter, PageSizeFollowsResolution)
{
    TempDir dir("pdfdpi");
    const auto capture = bandedCapture(3840, 2160);
    ASSERT_TRUE(writePdfAt(capture.get(), 1200, dir / "a.pdf"));
    EXPECT_NE(readFile(dir / "a.pdf").find("/MediaBox [0 0 230.400 129.600]"), std::string::npos);
    ASSERT_TRUE(writePdfAt(bandedCapture(100, 50).get(), 72, dir / "b.pdf"));
    EXPECT_NE(readFile(dir / "b.pdf").find("/MediaBox [0 0 100.000 50.000]"), std::string::npos);

    osg::ref_ptr<osg::Image> empty = new osg::Image;
    EXPECT_FALSE(writePdfAt(empty.get(), 300, dir / "c.pdf"));
    EXPECT_FALSE(writePdfAt(capture.get(), 300, dir / "missing/c.pdf"));
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"a.pdf", "b.pdf"}));
}
