#include "output/StagedFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <unistd.h>

using namespace vistrel;
using namespace testsupport;

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
    for (const fs::path kept : {dir / "a" / name(host, getppid()), dir / name("other-node", 12),
                                dir / ".top.png.123-4.tmp", dir / ("x" + name(host, 999999999)), dir / "top.png"}) {
        EXPECT_TRUE(fs::exists(kept)) << kept;
    }
    EXPECT_TRUE(fs::is_symlink(dir / name(host, 999999997)));
    EXPECT_EQ(removeStaleTemporaryFiles((dir / "missing").string()), 0);
}
