#include "core/ContentHash.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

using namespace vistrel;
using namespace testsupport;

namespace {

std::string pseudoRandomBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    unsigned state = 7u;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return bytes;
}

}  // namespace

TEST(ContentHash, IsXxh3OfTheBytesHoweverTheyArriveOrAreRead)
{
    ContentHasher hasher;
    EXPECT_EQ(hasher.digest().hash, 0x2D06800538D394C2ull);  // XXH3-64 of no bytes, seed 0
    EXPECT_EQ(hasher.digest().size, 0u);

    const std::string bytes = pseudoRandomBytes(3 * 1024 * 1024 + 17);
    hasher.add(bytes.data(), bytes.size());
    const FileDigest whole = hasher.digest();
    EXPECT_EQ(whole.size, bytes.size());
    hasher.reset();
    for (std::size_t at = 0, piece = 1; at < bytes.size(); at += piece, piece = piece * 3 + 1) {
        hasher.add(bytes.data() + at, std::min(piece, bytes.size() - at));
    }
    EXPECT_EQ(hasher.digest().hash, whole.hash);
    EXPECT_EQ(hasher.digest().size, whole.size);

    // Read through a descriptor from the first byte, wherever its position is.
    TempDir dir("hash");
    writeFile(dir / "file", bytes);
    const int fd = ::open((dir / "file").c_str(), O_RDONLY | O_NOFOLLOW);
    ASSERT_GE(fd, 0);
    ::lseek(fd, 1000, SEEK_SET);
    FileDigest read;
    EXPECT_TRUE(hashOpenFile(fd, read));
    EXPECT_EQ(read.hash, whole.hash);
    EXPECT_EQ(read.size, whole.size);
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 1000);
    ::close(fd);

    const int writeOnly = ::open((dir / "file").c_str(), O_WRONLY);
    std::string reason;
    EXPECT_FALSE(hashOpenFile(writeOnly, read, &reason));
    EXPECT_EQ(reason, "Bad file descriptor");
    ::close(writeOnly);
}

TEST(ContentHash, TextIsExactlySixteenHexDigits)
{
    EXPECT_EQ(formatContentHash(0), "0000000000000000");
    EXPECT_EQ(formatContentHash(0x2D06800538D394C2ull), "2d06800538d394c2");
    std::uint64_t hash = 1;
    EXPECT_TRUE(parseContentHash("2D06800538d394c2", hash));
    EXPECT_EQ(hash, 0x2D06800538D394C2ull);
    EXPECT_TRUE(parseContentHash(formatContentHash(~0ull), hash));
    EXPECT_EQ(hash, ~0ull);
    for (const std::string bad : {"", "2d06800538d394c", "2d06800538d394c20", "0x06800538d394c2", "+d06800538d394c2",
                                  "-000000000000001", " d06800538d394c2", "2d06800538d394cg"}) {
        hash = 5;
        EXPECT_FALSE(parseContentHash(bad, hash)) << bad;
        EXPECT_EQ(hash, 5u) << bad;
    }
}
