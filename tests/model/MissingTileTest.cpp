// Missing tile files: the database pager asks for them again and again; each
// is logged once, looked up on disk once, and the library's own notices go
// into the log instead of standard error.
#include "model/SceneLoader.h"
#include "model/TileReadLedger.h"
#include "support/GeoFixtures.h"
#include "support/TestSupport.h"

#include <osg/FrameStamp>
#include <osg/Notify>
#include <osg/PagedLOD>
#include <osgDB/DatabasePager>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace vistrel;
using namespace testsupport;

namespace {

// A tile whose root pages in T_L1.osgb, which pages in the absent T_L2.osgb.
void writeTileChain(const fs::path& tileDir)
{
    fs::create_directories(tileDir);
    const auto pagedBox = [](float size, const std::string& child) {
        osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
        lod->addChild(makeBox(osg::Vec3(0, 0, 0), osg::Vec3(size, size, 5), osg::Vec4(1, 1, 1, 1)), 0.0f, 50.0f);
        lod->setFileName(1, child);
        lod->setRange(1, 0.0f, 50.0f);
        return lod;
    };
    writeNode(tileDir / "T.osgb", *pagedBox(40, "T_L1.osgb"));
    writeNode(tileDir / "T_L1.osgb", *pagedBox(20, "T_L2.osgb"));
}

osg::PagedLOD* firstPagedLod(osg::Node* node)
{
    if (auto* lod = dynamic_cast<osg::PagedLOD*>(node)) {
        return lod;
    }
    osg::Group* group = node ? node->asGroup() : nullptr;
    for (unsigned int i = 0; group && i < group->getNumChildren(); ++i) {
        if (osg::PagedLOD* found = firstPagedLod(group->getChild(i))) {
            return found;
        }
    }
    return nullptr;
}

// Asks the pager for `lod`'s child file frame after frame, as a culling
// traversal near the tile does, until `done` or 10 s passed.
void pageRepeatedly(osgDB::DatabasePager& pager, osg::Group& root, osg::PagedLOD& lod,
                    const std::function<bool()>& done)
{
    osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
    osg::ref_ptr<osg::Referenced> request;
    const std::string file = lod.getDatabasePath() + lod.getFileName(1);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (unsigned int frame = 1; std::chrono::steady_clock::now() < end; ++frame) {
        stamp->setFrameNumber(frame);
        pager.signalBeginFrame(stamp.get());
        osg::NodePath path{&root, &lod};
        pager.requestNodeFile(file, path, 1.0f, stamp.get(), request, lod.getDatabaseOptions());
        pager.signalEndFrame();
        pager.updateSceneGraph(*stamp);
        if (done()) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

TEST(MissingTiles, PagerRequestsForAMissingChildAreLoggedAndLookedUpOnce)
{
    TempDir dir("missing");
    writeTileChain(dir / "Data" / "T");
    CapturedOutput log;
    osg::ref_ptr<osg::Node> scene = loadScene((dir / "Data").string());
    ASSERT_TRUE(scene.valid());
    osg::ref_ptr<osg::Group> root = scene->asGroup();
    osg::PagedLOD* top = firstPagedLod(scene.get());
    ASSERT_NE(top, nullptr);

    const TileReadCounts start = tileReadCounts();
    osg::ref_ptr<osgDB::DatabasePager> pager = new osgDB::DatabasePager;
    // T_L1 exists: read and merged below the top level.
    pageRepeatedly(*pager, *root, *top, [&] { return top->getNumChildren() == 2; });
    ASSERT_EQ(top->getNumChildren(), 2u);
    EXPECT_EQ(tileReadCounts().missing, start.missing);
    osg::PagedLOD* middle = firstPagedLod(top->getChild(1));
    ASSERT_NE(middle, nullptr);
    const TileReadCounts beforeMissing = tileReadCounts();
    pageRepeatedly(*pager, *root, *middle,
                   [&] { return tileReadCounts().repeatRequests - beforeMissing.repeatRequests >= 8; });
    pager->cancel();

    const TileReadCounts after = tileReadCounts();
    EXPECT_EQ(after.missing - beforeMissing.missing, 1u);
    EXPECT_GE(after.repeatRequests - beforeMissing.repeatRequests, 8u);
    EXPECT_EQ(after.diskLookups - beforeMissing.diskLookups, 1u);
    const std::string missing = (dir / "Data" / "T" / "T_L2.osgb").string();
    const std::string text = log.text();
    EXPECT_EQ(countOccurrences(text, "[WARN] Missing tile file: " + missing), 1) << text;
    EXPECT_EQ(countOccurrences(text, "T_L2.osgb"), 1) << text;
}

TEST(MissingTiles, LibraryNoticesGoToTheLogOnceAtTheirLevel)
{
    TempDir dir("notices");
    writeTileChain(dir / "T");
    CapturedOutput log;
    ASSERT_TRUE(loadScene((dir / "T").string()).valid());  // installs the notice handler
    const std::size_t before = tileReadCounts().repeatedNotices;
    for (int i = 0; i < 3; ++i) {
        osg::notify(osg::WARN) << "test warning about a shader" << std::endl;
    }
    osg::notify(osg::NOTICE) << "test notice about a context" << std::endl;
    osg::notify(osg::FATAL) << "test fatal failure" << std::endl;
    const std::string text = log.text();
    EXPECT_EQ(countOccurrences(text, "[WARN] OpenSceneGraph: test warning about a shader\n"), 1) << text;
    EXPECT_EQ(countOccurrences(text, "[INFO] OpenSceneGraph: test notice about a context\n"), 1) << text;
    EXPECT_EQ(countOccurrences(text, "[ERROR] OpenSceneGraph: test fatal failure\n"), 1) << text;
    EXPECT_EQ(tileReadCounts().repeatedNotices - before, 2u);
}
