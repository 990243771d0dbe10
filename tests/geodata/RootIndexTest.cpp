// The index of root bounds: its text form and the views it finds roots for.
#include "geodata/RootIndex.h"

#include <gtest/gtest.h>

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
