// The index of root bounds: its text form and the views it finds roots for.
#include "model/RootGrid.h"
#include "model/RootIndex.h"

#include "core/ContentHash.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

vistrel::RootEntry entry(const std::string& path, float x, float y, float radius)
{
    vistrel::RootEntry e;
    e.path = path;
    e.size = 1234;
    e.mtime = -987654321;
    e.readable = true;
    e.bound.set(osg::Vec3(x, y, 10.0f), radius);
    return e;
}

// `body` (the header and entry lines) closed with a valid checksum line, as
// encodeRootIndex closes it.
std::string withChecksum(const std::string& body, int count)
{
    vistrel::ContentHasher hasher;
    hasher.add(body.data(), body.size());
    return body + "end " + std::to_string(count) + ' ' + vistrel::formatContentHash(hasher.digest().hash) + '\n';
}

}  // namespace

TEST(RootIndex, TheTextFormKeepsEveryBitAndRefusesAnyDamage)
{
    std::vector<vistrel::RootEntry> entries = {entry("a b/T1.osgb", 0.1f, 1e6f / 3.0f, 35.5f),
                                               entry("T2.osgb", -7.25f, 2.0f, 1e-3f)};
    entries[1].readable = false;
    const std::string text = vistrel::encodeRootIndex(entries);
    std::vector<vistrel::RootEntry> back;
    ASSERT_TRUE(vistrel::decodeRootIndex(text, back));
    ASSERT_EQ(back.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(back[i].path, entries[i].path);
        EXPECT_EQ(back[i].size, entries[i].size);
        EXPECT_EQ(back[i].mtime, entries[i].mtime);
        EXPECT_EQ(back[i].readable, entries[i].readable);
        EXPECT_EQ(back[i].bound.center(), entries[i].bound.center());
        EXPECT_EQ(back[i].bound.radius(), entries[i].bound.radius());
    }
    for (std::size_t at : {std::size_t(0), std::size_t(30), text.size() - 3}) {
        std::string damaged = text;
        damaged[at] ^= 0x01;
        EXPECT_FALSE(vistrel::decodeRootIndex(damaged, back)) << at;
        EXPECT_TRUE(back.empty());
    }
    EXPECT_FALSE(vistrel::decodeRootIndex(text.substr(0, text.size() - 1), back));
    EXPECT_FALSE(vistrel::decodeRootIndex("", back));
}

TEST(RootIndex, AViewFindsTheRootsItCanShowAndNoOthers)
{
    // A row of roots 100 m apart along x, radius 60, at z = 10; the scene is
    // moved by (1000, 2000, 0).
    std::vector<vistrel::RootEntry> entries;
    for (int i = 0; i < 10; ++i) {
        entries.push_back(entry("T" + std::to_string(i), 100.0f * i, 0.0f, 60.0f));
    }
    entries[5].readable = false;
    const vistrel::RootGrid grid(entries, osg::Vec3d(1000, 2000, 0));

    // Straight down on x = 1300: 20 m wide, only root 3 reaches into it;
    // 100 m wide, roots 2 and 4 as well.
    vistrel::ViewPrism top{{1300, 2000, 500}, {1300, 2000, 0}, {0, 1, 0}, 20, 10};
    EXPECT_EQ(grid.inPrism(top), (std::vector<std::size_t>{3}));
    top.width = 100;
    EXPECT_EQ(grid.inPrism(top), (std::vector<std::size_t>{2, 3, 4}));
    // Looking east along the row, level: every readable root is in line.
    vistrel::ViewPrism level{{0, 2000, 10}, {1, 2000, 10}, {0, 0, 1}, 20, 10};
    EXPECT_EQ(grid.inPrism(level), (std::vector<std::size_t>{0, 1, 2, 3, 4, 6, 7, 8, 9}));
    // Looking down at 45 degrees towards +x onto x = 1300, 200 m high: a
    // root is in view when its centre lies within 100 / cos 45 + its reach
    // of x = 1300 (root 5 would be, but cannot be read).
    vistrel::ViewPrism slanted{{1000, 2000, 310}, {1300, 2000, 10}, {0, 0, 1}, 10, 200};
    EXPECT_EQ(grid.inPrism(slanted), (std::vector<std::size_t>{1, 2, 3, 4}));
    EXPECT_EQ(grid.overRectangle(1355, 1990, 1410, 2010), (std::vector<std::size_t>{3, 4}));
    EXPECT_TRUE(grid.overRectangle(5000, 5000, 5001, 5001).empty());
}

// Bounds no root can have (a sphere larger than the Earth, a centre that is
// not a point) come from damaged tiles and forged indexes: they stay off the
// grid, so that it finds for the good roots what it finds without them, and
// the index marks them to be read again rather than failing as a whole.
TEST(RootIndex, BoundsThatPlaceNoRootStayOffTheGridAndAreReadAgain)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<vistrel::RootEntry> good;
    for (int i = 0; i < 10; ++i) {
        good.push_back(entry("T" + std::to_string(i), 100.0f * i, 0.0f, 60.0f));
    }
    std::vector<vistrel::RootEntry> mixed = good;
    mixed.push_back(entry("inf", 300.0f, 0.0f, inf));
    mixed.push_back(entry("nan", nan, 0.0f, 60.0f));
    mixed.push_back(entry("huge", 300.0f, 0.0f, 1e30f));
    mixed.push_back(entry("far", 1e30f, -1e30f, 60.0f));
    mixed.push_back(entry("beyond", 2e8f, 0.0f, 10.0f));
    std::string why;
    for (std::size_t i = good.size(); i < mixed.size(); ++i) {
        EXPECT_FALSE(vistrel::checkRootBound(mixed[i].bound, why)) << mixed[i].path;
        EXPECT_FALSE(why.empty());
    }
    EXPECT_TRUE(vistrel::checkRootBound(osg::BoundingSphere(), why));  // empty: places nothing

    const osg::Vec3d offset(512000, 3390000, 0);
    const vistrel::RootGrid clean(good, offset), grid(mixed, offset);
    const vistrel::ViewPrism top{{512300, 3390000, 500}, {512300, 3390000, 0}, {0, 1, 0}, 100, 10};
    const vistrel::ViewPrism level{{0, 3390000, 10}, {1, 3390000, 10}, {0, 0, 1}, 20, 10};
    const vistrel::ViewPrism slanted{{512000, 3390000, 310}, {512300, 3390000, 10}, {0, 0, 1}, 10, 200};
    for (const vistrel::ViewPrism& prism : {top, level, slanted}) {
        EXPECT_EQ(grid.inPrism(prism), clean.inPrism(prism));
        EXPECT_FALSE(grid.inPrism(prism).empty());
    }
    EXPECT_EQ(grid.overRectangle(512355, 3389990, 512410, 3390010), (std::vector<std::size_t>{3, 4}));
    EXPECT_TRUE(grid.overRectangle(-1e300, -1e300, 1e300, 1e300).size() == good.size());
    EXPECT_TRUE(grid.overRectangle(nan, 0, 1, 1).empty());
    // No root placed at all: nothing is found, nothing breaks.
    EXPECT_TRUE(vistrel::RootGrid({mixed.begin() + 10, mixed.end()}, offset).inPrism(top).empty());

    // An index with a radius no float holds, under a valid checksum, is read
    // with that root to be read again; an entry whose bound places nothing is
    // written so.
    std::string text = vistrel::encodeRootIndex({good[0], good[1]});
    std::string forged = text.substr(0, text.rfind("end "));
    const std::size_t at = forged.rfind("0x1.ep+5 T1");  // radius 60
    ASSERT_NE(at, std::string::npos) << forged;
    forged.replace(at, 8, "0x1p+1023");
    std::vector<vistrel::RootEntry> back;
    ASSERT_TRUE(vistrel::decodeRootIndex(withChecksum(forged, 2), back)) << forged;
    ASSERT_EQ(back.size(), 2u);
    EXPECT_TRUE(back[0].readable);
    EXPECT_FALSE(back[1].readable);
    ASSERT_TRUE(vistrel::decodeRootIndex(vistrel::encodeRootIndex({mixed[10], mixed[11], good[2]}), back));
    ASSERT_EQ(back.size(), 3u);
    EXPECT_FALSE(back[0].readable);
    EXPECT_FALSE(back[1].readable);
    EXPECT_TRUE(back[2].readable);
}
