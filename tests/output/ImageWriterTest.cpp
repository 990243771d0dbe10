#include "ImageReadBack.h"
#include "core/OutputFormats.h"
#include "output/ImageWriter.h"
#include "output/Thumbnail.h"
#include "output/WorldFile.h"
#include "support/FileSizeLimit.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace vistrel;
using namespace testsupport;
using namespace outputtest;

namespace {

using Rgb = std::array<int, 3>;

RenderConfig configFor(const std::string& format, int dpi = 300, int quality = 90)
{
    RenderConfig config;
    config.output_format = format;
    config.output_dpi = dpi;
    config.jpg_quality = quality;
    return config;
}

// An RGBA capture of pseudo-random pixels: large files, sensitive to quality.
osg::ref_ptr<osg::Image> noisyCapture(int size)
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(size, size, 1, GL_RGBA, GL_UNSIGNED_BYTE);
    unsigned state = 12345u;
    for (unsigned i = 0; i < image->getTotalSizeInBytes(); ++i) {
        state = state * 1103515245u + 12345u;
        image->data()[i] = static_cast<unsigned char>(state >> 16);
    }
    return image;
}

std::string magic(const fs::path& path)
{
    return readFile(path).substr(0, 4);
}

}  // namespace

TEST(ImageWriter, PngAndJpegAreUprightRgbWithResolution)
{
    TempDir dir("raster");
    const auto capture = bandedCapture(48, 32);
    // The folder does not exist yet: the write step creates it.
    const WriteResult written = writeImageFile(capture.get(), configFor("png", 300), (dir / "a/b/photo").string());
    ASSERT_TRUE(written.written()) << written.reason;
    EXPECT_EQ(written.path, (dir / "a/b/photo.png").string());
    ASSERT_TRUE(writeImageFile(capture.get(), configFor("jpg", 1200), (dir / "photo").string()).written());

    const DecodedImage png = readPng(dir / "a/b/photo.png");
    EXPECT_EQ(png.width, 48);
    EXPECT_EQ(png.height, 32);
    EXPECT_EQ(png.channels, 3);  // alpha dropped
    EXPECT_EQ(png.dpiX, 300);  // 11811 pixels per metre
    EXPECT_EQ(png.dpiY, 300);
    EXPECT_EQ(png.pixel(5, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(png.pixel(5, 7), (Rgb{255, 0, 0}));
    EXPECT_EQ(png.pixel(5, 8), (Rgb{0, 255, 0}));
    EXPECT_EQ(png.pixel(47, 31), (Rgb{0, 0, 255}));

    const DecodedImage jpeg = readJpeg(dir / "photo.jpg");
    EXPECT_EQ(jpeg.width, 48);
    EXPECT_EQ(jpeg.height, 32);
    EXPECT_EQ(jpeg.channels, 3);
    EXPECT_EQ(jpeg.dpiX, 1200);
    EXPECT_EQ(jpeg.dpiY, 1200);
    EXPECT_GT(jpeg.pixel(20, 1)[0], 200);  // lossy: red on top, blue at the bottom
    EXPECT_LT(jpeg.pixel(20, 1)[2], 60);
    EXPECT_GT(jpeg.pixel(20, 30)[2], 200);
    EXPECT_LT(jpeg.pixel(20, 30)[0], 60);
}

TEST(ImageWriter, JpegQualityReachesTheEncoder)
{
    TempDir dir("quality");
    const auto noise = noisyCapture(64);
    ASSERT_TRUE(writeImageFile(noise.get(), configFor("jpg", 300, 1), (dir / "q1.jpg").string()).written());
    ASSERT_TRUE(writeImageFile(noise.get(), configFor("jpg", 300, 100), (dir / "q100.jpg").string()).written());
    EXPECT_LT(fs::file_size(dir / "q1.jpg") * 3, fs::file_size(dir / "q100.jpg"));
}

TEST(ImageWriter, ExtensionDecidesFormatOverConfiguration)
{
    const std::array<const char*, 4> cases[] = {
        {"a", "jpeg", "a.jpg", "jpg"},      {"a", "pdf", "a.pdf", "pdf"},      {"a.png", "jpg", "a.png", "png"},
        {"a.JPEG", "png", "a.JPEG", "jpg"}, {"a.bmp", "jpeg", "a.bmp", "jpg"}, {"a.b/c", "png", "a.b/c.png", "png"},
    };
    for (const auto& [name, outputFormat, path, format] : cases) {
        EXPECT_EQ(resolveOutputPath(name, outputFormat), path) << name;
        EXPECT_EQ(effectiveFormat(path, outputFormat), format) << name;
    }
    TempDir dir("format");
    const auto capture = bandedCapture(8, 8);
    EXPECT_TRUE(writeImageFile(capture.get(), configFor("jpg"), (dir / "x.png").string()).written());
    EXPECT_TRUE(writeImageFile(capture.get(), configFor("png"), (dir / "y.JPEG").string()).written());
    EXPECT_TRUE(writeImageFile(capture.get(), configFor("jpeg"), (dir / "z").string()).written());
    EXPECT_TRUE(writeImageFile(capture.get(), configFor("pdf"), (dir / "w").string()).written());
    EXPECT_EQ(magic(dir / "x.png"), "\x89PNG");
    EXPECT_EQ(magic(dir / "y.JPEG").substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(magic(dir / "z.jpg").substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(magic(dir / "w.pdf"), "%PDF");
}

TEST(ImageWriter, TransparentBackgroundIsBlackAndOtherLayoutsUseTheLastResort)
{
    TempDir dir("clear");
    osg::ref_ptr<osg::Image> clear = new osg::Image;
    clear->allocateImage(16, 16, 1, GL_RGBA, GL_UNSIGNED_BYTE);
    std::fill(clear->data(), clear->data() + clear->getTotalSizeInBytes(), 0);
    ASSERT_TRUE(writeImageFile(clear.get(), configFor("png"), (dir / "t.png").string()).written());
    const DecodedImage png = readPng(dir / "t.png");
    EXPECT_EQ(png.channels, 3);
    EXPECT_EQ(std::count(png.rgb.begin(), png.rgb.end(), 0), 16 * 16 * 3);

    // A layout the encoders do not take goes to OpenSceneGraph's writer.
    osg::ref_ptr<osg::Image> grey = new osg::Image;
    grey->allocateImage(8, 4, 1, GL_LUMINANCE, GL_UNSIGNED_BYTE);
    std::fill(grey->data(), grey->data() + 32, 77);
    ASSERT_TRUE(writeImageFile(grey.get(), configFor("png"), (dir / "g.png").string()).written());
    EXPECT_EQ(readPng(dir / "g.png").pixel(0, 0), (Rgb{77, 77, 77}));
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"g.png", "t.png"}));
}

TEST(ImageWriter, UncreatableFolderIsAnOutcomeWithTheSystemsReason)
{
    TempDir dir("nofolder");
    writeFile(dir / "blocker", "a file where a folder is needed");
    const auto capture = bandedCapture(8, 8);
    CapturedOutput captured;
    const WriteResult result = writeImageFile(capture.get(), configFor("png"), (dir / "blocker/sub/photo").string());
    EXPECT_EQ(captured.text(), "");  // the writer logs nothing
    EXPECT_EQ(result.status, WriteStatus::FolderFailed);
    EXPECT_NE(result.reason.find("create_directories"), std::string::npos) << result.reason;
    EXPECT_NE(result.reason.find((dir / "blocker/sub").string()), std::string::npos) << result.reason;
    EXPECT_FALSE(fs::exists(dir / "blocker/sub"));
}

TEST(ImageWriter, FailedWriteKeepsEarlierFileAndLeavesNoTemporaryFile)
{
    TempDir dir("keep");
    const auto capture = noisyCapture(256);
    for (const std::string format : {"png", "jpg", "pdf"}) {
        const fs::path target = dir / ("photo." + format);
        writeFile(target, "earlier good file");
        WriteResult result;
        {
            FileSizeLimit limit(4096);  // every encoder, the last resort too, runs out of room
            result = writeImageFile(capture.get(), configFor(format), target.string());
        }
        EXPECT_EQ(result.status, WriteStatus::Failed) << format;
        EXPECT_EQ(result.path, target.string());
        EXPECT_EQ(result.reason.substr(0, 14), "File too large") << result.reason;
        EXPECT_TRUE(readFile(target) == "earlier good file") << format;
    }
    // A folder in the way of the file name: the rename fails.
    fs::create_directories(dir / "taken.png/inside");
    EXPECT_FALSE(writeImageFile(capture.get(), configFor("png"), (dir / "taken.png").string()).written());
    EXPECT_EQ(folderEntries(dir / "taken.png"), std::vector<std::string>{"inside"});
    EXPECT_EQ(folderEntries(dir.path()),
              (std::vector<std::string>{"photo.jpg", "photo.pdf", "photo.png", "taken.png"}));
}

TEST(ImageWriter, ALinkedFolderBelowTheOutputIsNotWrittenThrough)
{
    TempDir dir("links");
    TempDir elsewhere("elsewhere");
    RenderConfig config = configFor("png");
    config.output_dir = (dir / "out").string();
    fs::create_directories(dir / "out");
    fs::create_directory_symlink(elsewhere.path(), dir / "out" / "parcel");
    const auto capture = noisyCapture(16);

    for (const fs::path& name : {dir / "out" / "parcel" / "sub" / "top", dir / "out" / "parcel" / "top"}) {
        const WriteResult result = writeImageFile(capture.get(), config, name.string());
        EXPECT_EQ(result.status, WriteStatus::RefusedLink) << name;
        EXPECT_EQ(result.reason, (dir / "out/parcel").string());
    }
    EXPECT_TRUE(folderEntries(elsewhere.path()).empty());
    // A thumbnail is refused the same way.
    const WriteResult thumbnail =
        writeThumbnailBelow(*capture, (dir / "out/parcel/t/top.jpg").string(), config.output_dir);
    EXPECT_EQ(thumbnail.status, WriteStatus::RefusedLink);
    EXPECT_TRUE(folderEntries(elsewhere.path()).empty());

    // Real folders are made level by level as before.
    EXPECT_TRUE(writeImageFile(capture.get(), config, (dir / "out" / "a" / "b" / "top").string()).written());
    EXPECT_TRUE(fs::exists(dir / "out/a/b/top.png"));
}

TEST(ImageWriter, EveryWriterReportsTheDigestOfTheFileItLeft)
{
    TempDir dir("digests");
    const auto capture = noisyCapture(200);
    std::map<std::string, FileDigest> digests;
    for (const std::string name : {"a.png", "a.jpg", "a.pdf"}) {
        const WriteResult result = writeImageFile(capture.get(), configFor("png"), (dir / name).string());
        EXPECT_TRUE(result.written()) << name;
        digests[name] = result.digest;
    }
    std::string reason;
    EXPECT_TRUE(writeThumbnail(*capture, (dir / "t.jpg").string(), reason, 64, &digests["t.jpg"]));
    // The last resort writes this layout.
    osg::ref_ptr<osg::Image> luminance = new osg::Image;
    luminance->allocateImage(16, 8, 1, GL_LUMINANCE, GL_UNSIGNED_BYTE);
    std::fill(luminance->data(), luminance->data() + luminance->getTotalSizeInBytes(), 90);
    const WriteResult lastResort = writeImageFile(luminance.get(), configFor("png"), (dir / "l.png").string());
    EXPECT_TRUE(lastResort.written()) << lastResort.reason;
    digests["l.png"] = lastResort.digest;

    for (const auto& [name, digest] : digests) {
        const int fd = ::open((dir / name).c_str(), O_RDONLY | O_NOFOLLOW);
        FileDigest read;
        ASSERT_TRUE(hashOpenFile(fd, read)) << name;
        ::close(fd);
        EXPECT_EQ(digest.size, fs::file_size(dir / name)) << name;
        EXPECT_EQ(digest.hash, read.hash) << name;
    }
}

TEST(ImageWriter, EveryFormatHasItsWriterAndItsWorldFile)
{
    TempDir dir("formats");
    const auto capture = bandedCapture(16, 8);
    const PicturePlace place{{100.0, 200.0, 16.0, 8.0, 16, 8}, "PROJCS[\"local\"]", ""};
    for (const OutputFormat& format : kOutputFormats) {
        const std::string key(format.key);
        ASSERT_NE(writerFor(key), nullptr) << key;
        // The alias names the same format; names get the key's extension.
        RenderConfig config = configFor(std::string(format.alias.empty() ? format.key : format.alias));
        config.world_file = true;
        const WriteRequest request = writeRequest(capture.get(), config, (dir / key / "top").string(), place);
        ASSERT_EQ(request.path, (dir / key / ("top." + key)).string());
        const WriteResult picture = writeImageFile(request, dir.path().string());
        ASSERT_TRUE(picture.written()) << key << ": " << picture.reason;

        const WriteResult world = writeWorldFiles(request, dir.path().string());
        EXPECT_TRUE(world.written()) << key << ": " << world.reason;
        std::vector<std::string> expected = {"top." + key};
        if (!format.worldFile.empty()) {
            EXPECT_EQ(world.path, (dir / key / ("top" + std::string(format.worldFile))).string());
            EXPECT_EQ(readFile(world.path), "1\n0\n0\n-1\n92.5\n203.5\n");
            EXPECT_EQ(readFile(dir / key / "top.prj"), place.crsWkt);
            expected = {"top." + key, "top" + std::string(format.worldFile), "top.prj"};
            std::sort(expected.begin(), expected.end());
        }
        EXPECT_EQ(folderEntries(dir / key), expected) << key;
    }
}
