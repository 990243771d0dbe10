#include "ImageReadBack.h"
#include "output/JpegEncoder.h"
#include "output/PngEncoder.h"
#include "output/StagedFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

using namespace vistrel;
using namespace testsupport;
using namespace outputtest;

namespace {

std::string hostName()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    std::string text(name);
    for (char& c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.';
        c = plain ? c : '_';
    }
    return text;
}

}  // namespace

TEST(StagedFile, TemporaryNamesSayWhoseTheyAreAndFailuresSayWhy)
{
    TempDir dir("staged");
    StagedFile file((dir / "photo.png").string());
    ASSERT_TRUE(file.open());
    const std::string temp = fs::path(file.tempPath()).filename().string();
    const std::string owner = ".photo.png.vistrel-" + hostName() + "-" + std::to_string(getpid()) + "-";
    EXPECT_EQ(temp.rfind(owner, 0), 0u) << temp;
    EXPECT_EQ(temp.substr(temp.size() - 4), ".tmp");
    std::fputs("data", file.stream());
    ASSERT_TRUE(file.commit());
    EXPECT_EQ(readFile(dir / "photo.png"), "data");

    StagedFile missing((dir / "no" / "such" / "folder.png").string());
    EXPECT_FALSE(missing.open());
    EXPECT_EQ(missing.error(), "No such file or directory");
}

TEST(StagedFile, OnlyStaleTemporaryFilesOfThisProgramAreRemoved)
{
    TempDir dir("stale");
    const std::string host = hostName();
    const auto name = [&](const std::string& owner, long pid) {
        return ".top.png.vistrel-" + owner + "-" + std::to_string(pid) + "-3.tmp";
    };
    fs::create_directories(dir / "a" / "b");
    // Killed writers of this host: removed, at any depth.
    writeFile(dir / name(host, 999999999), "x");
    writeFile(dir / "a" / "b" / name(host, 999999998), "x");
    // A writer of this host that still runs (the test's parent): kept.
    writeFile(dir / "a" / name(host, getppid()), "x");
    // Another machine sharing the folder: kept while recent, removed when old.
    writeFile(dir / name("other-node", 12), "x");
    writeFile(dir / "a" / name("old-node", 12), "x");
    fs::last_write_time(dir / "a" / name("old-node", 12),
                        fs::file_time_type::clock::now() - std::chrono::hours(48));
    // Names that only look alike, and the finished files: kept.
    writeFile(dir / ".top.png.123-4.tmp", "x");
    writeFile(dir / ("x" + name(host, 999999999)), "x");
    writeFile(dir / "top.png", "x");
    fs::create_symlink(dir / "top.png", dir / name(host, 999999997));

    EXPECT_EQ(removeStaleTemporaryFiles(dir.path().string()), 3);
    EXPECT_FALSE(fs::exists(dir / name(host, 999999999)));
    EXPECT_FALSE(fs::exists(dir / "a" / "b" / name(host, 999999998)));
    EXPECT_FALSE(fs::exists(dir / "a" / name("old-node", 12)));
    for (const fs::path& kept : {dir / "a" / name(host, getppid()), dir / name("other-node", 12),
                                dir / ".top.png.123-4.tmp", dir / ("x" + name(host, 999999999)), dir / "top.png"}) {
        EXPECT_TRUE(fs::exists(kept)) << kept;
    }
    EXPECT_TRUE(fs::is_symlink(dir / name(host, 999999997)));
    EXPECT_EQ(removeStaleTemporaryFiles((dir / "missing").string()), 0);
}

TEST(StagedFile, AFullDiskFailsTheWriteCleanlyWithTheSystemsReason)
{
    TempDir dir("full");
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    const auto capture = noiseCapture(300, 200);
    const std::vector<char> block(100000, 'x');  // bigger than the stream's buffer: written directly
    const std::map<std::string, std::function<bool(std::FILE*)>> writers = {
        {"png", [&](std::FILE* out) { return encodePng(*capture, 300, out); }},
        {"jpg", [&](std::FILE* out) { return encodeJpeg(*capture, 300, 90, out); }},
        {"block",
         [&](std::FILE* out) {
             // Taking a failed write for a huge count, the C library would
             // claim part of it written and read on past the block.
             const std::size_t count = std::fwrite(block.data(), 1, block.size(), out);
             EXPECT_EQ(count, 0u);
             return count == block.size();
         }},
    };
    for (const auto& [name, write] : writers) {
        StagedFile file((dir / name).string());
        ASSERT_TRUE(file.open());
        ASSERT_GE(::dup2(full, file.descriptor()), 0);  // the file now lives on a full disk
        const bool written = write(file.stream()) && file.commit();
        EXPECT_FALSE(written) << name;
        EXPECT_EQ(file.error(), "No space left on device") << name;
    }
    ::close(full);
    EXPECT_TRUE(folderEntries(dir.path()).empty());
}

TEST(StagedFile, DigestIsOfTheBytesThatReachedTheFile)
{
    TempDir dir("digest");
    StagedFile file((dir / "data").string());
    ASSERT_TRUE(file.open());
    std::fputs("discarded", file.stream());
    ASSERT_TRUE(file.open());  // a new start forgets what went before
    const std::string text(70000, 'y');
    std::fputs("abc", file.stream());
    std::fputs(text.c_str(), file.stream());
    ASSERT_TRUE(file.commit());
    ContentHasher expected;
    expected.add("abc", 3);
    expected.add(text.data(), text.size());
    EXPECT_EQ(file.digest().hash, expected.digest().hash);
    EXPECT_EQ(file.digest().size, 70003u);
}
