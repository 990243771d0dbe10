// Files below the output folder are reached and made without symbolic links.
#include "core/PathBelow.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace vistrel;
using testsupport::TempDir;
using testsupport::writeFile;
namespace fs = std::filesystem;

TEST(PathBelow, OnlyARegularFileReachedWithoutLinksOpens)
{
    TempDir dir("below");
    TempDir elsewhere("beside");
    const std::string out = (dir / "out").string();
    writeFile(dir / "out" / "a" / "top.png", "png");
    writeFile(elsewhere / "top.png", "png");
    fs::create_directory_symlink(dir / "out" / "a", dir / "out" / "linked");
    fs::create_symlink(elsewhere / "top.png", dir / "out" / "a" / "link.png");
    ASSERT_EQ(::mkfifo((dir / "out" / "a" / "fifo.png").c_str(), 0600), 0);

    std::string why;
    const int fd = openRegularBelow(out, out + "/a/top.png", why);
    EXPECT_GE(fd, 0) << why;
    ::close(fd);
    const std::vector<std::pair<std::string, std::string>> refused = {
        {out + "/linked/top.png", out + "/linked is a symbolic link"},
        {out + "/a/link.png", out + "/a/link.png is a symbolic link"},
        {out + "/a/fifo.png", out + "/a/fifo.png is not a regular file"},
        {out + "/a", out + "/a is not a regular file"},
        {(elsewhere / "top.png").string(), (elsewhere / "top.png").string() + " is not below the output folder"},
    };
    for (const auto& [path, reason] : refused) {
        EXPECT_EQ(openRegularBelow(out, path, why), -1) << path;
        EXPECT_EQ(why, reason);
    }

    // Folders are made level by level; a link on the way is named, not followed.
    EXPECT_EQ(makeFolderBelow(dir / "out" / "b" / "c", out), "");
    EXPECT_TRUE(fs::is_directory(dir / "out" / "b" / "c"));
    EXPECT_EQ(makeFolderBelow(dir / "out" / "linked" / "d", out), out + "/linked");
    EXPECT_FALSE(fs::exists(dir / "out" / "a" / "d"));
}
