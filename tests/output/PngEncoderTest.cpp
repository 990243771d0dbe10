#include "ImageReadBack.h"
#include "output/ImageWriter.h"
#include "output/PngEncoder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <zlib.h>

using namespace vistrel;
using namespace testsupport;
using namespace outputtest;

namespace {

std::uint32_t bigEndianWord(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

// The chunk types of a PNG file in order, "bad CRC" for a chunk whose CRC
// does not match, "cut" for a chunk that runs past the end.
std::vector<std::string> chunkTypes(const std::string& png)
{
    std::vector<std::string> types;
    for (std::size_t at = 8; at < png.size();) {
        const std::size_t length = at + 8 <= png.size() ? bigEndianWord(png, at) : png.size();
        if (at + 12 + length > png.size()) {
            types.push_back("cut");
            break;
        }
        const auto* typeAndData = reinterpret_cast<const Bytef*>(png.data() + at + 4);
        const bool crcGood = crc32(0, typeAndData, static_cast<uInt>(4 + length)) == bigEndianWord(png, at + 8 + length);
        types.push_back(crcGood ? png.substr(at + 4, 4) : "bad CRC");
        at += 12 + length;
    }
    return types;
}

}  // namespace

TEST(PngEncoder, DecodesToExactlyThePixelsGivenForEveryLayoutAndSize)
{
    TempDir dir("png");
    struct Case {
        int width, height;
        GLenum format;
        int packing;
    };
    // Single rows and pixels, odd widths, padded rows, and a picture whose
    // compressed pixels need more than one IDAT chunk.
    for (const Case c : {Case{1, 1, GL_RGB, 1}, Case{1, 1, GL_RGBA, 1}, Case{333, 1, GL_RGBA, 1},
                         Case{7, 5, GL_RGB, 4}, Case{333, 17, GL_RGB, 1}, Case{101, 64, GL_RGBA, 1},
                         Case{1800, 1700, GL_RGB, 1}}) {
        const auto capture = noiseCapture(c.width, c.height, c.format, c.packing);
        RenderConfig config;
        config.output_dpi = 96;
        const fs::path file = dir / "noise.png";
        const std::string label = std::to_string(c.width) + "x" + std::to_string(c.height) + "/" +
                                  std::to_string(capture->getPixelSizeInBits() / 8);
        ASSERT_TRUE(writeImageFile(capture.get(), config, file.string()).written()) << label;

        const DecodedImage png = readPng(file);
        ASSERT_EQ(png.width, c.width) << label;
        ASSERT_EQ(png.height, c.height) << label;
        EXPECT_EQ(png.channels, 3) << label;
        EXPECT_EQ(png.dpiX, 96) << label;
        EXPECT_EQ(png.dpiY, 96) << label;
        int wrong = 0;
        for (int row = 0; row < c.height; ++row) {
            for (int x = 0; x < c.width; ++x) {
                const unsigned char* p = capture->data(x, c.height - 1 - row);
                wrong += png.pixel(x, row) != std::array<int, 3>{p[0], p[1], p[2]};
            }
        }
        EXPECT_EQ(wrong, 0) << label;
        const std::vector<std::string> chunks = chunkTypes(readFile(file));
        std::vector<std::string> expected = {"IHDR", "pHYs", "IDAT", "IEND"};
        if (c.width == 1800) {
            expected.insert(expected.begin() + 2, "IDAT");
        }
        EXPECT_EQ(chunks, expected) << label;
    }
}

TEST(PngEncoder, ResolutionIsLeftOutBelowOneDotPerInchAndWriteErrorsAreReported)
{
    TempDir dir("png-dpi");
    const auto capture = bandedCapture(9, 4);
    std::FILE* out = std::fopen((dir / "plain.png").c_str(), "wb");
    ASSERT_TRUE(encodePng(*capture, 0, out));
    std::fclose(out);
    EXPECT_EQ(chunkTypes(readFile(dir / "plain.png")), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    EXPECT_EQ(readPng(dir / "plain.png").pixel(8, 0), (std::array<int, 3>{255, 0, 0}));

    std::FILE* readOnly = std::fopen((dir / "plain.png").c_str(), "rb");
    EXPECT_FALSE(encodePng(*capture, 300, readOnly));
    std::fclose(readOnly);
}
