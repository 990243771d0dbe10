// The root index kept in the output folder: reused while the roots are
// unchanged, read again for a root that changed, rebuilt when damaged.
#include "app/ShardScene.h"
#include "support/SampleData.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

int rootsReadOnOpen(const vistrel::RenderConfig& config)
{
    auto model = vistrel::ShardScene::open(config);
    return model ? model->lazy().rootsReadForIndex() : -1;
}

}  // namespace

TEST(ShardScene, TheRootIndexIsReadOnceAndAgainOnlyForWhatChanged)
{
    TempDir dir("root-index");
    fs::copy(sampleDir() / "city", dir / "city", fs::copy_options::recursive);
    vistrel::RenderConfig config;
    config.osgb_path = (dir / "city").string();
    config.output_dir = (dir / "out").string();
    const int roots = static_cast<int>(truth().at("tiles").size());

    ASSERT_EQ(rootsReadOnOpen(config), roots);
    const fs::path cache = vistrel::rootIndexCachePath(config.output_dir);
    const std::string first = readFile(cache);
    EXPECT_EQ(rootsReadOnOpen(config), 0);
    EXPECT_EQ(readFile(cache), first);

    // A root with a new time (same size) is read again, and only it.
    fs::path tile;
    for (const auto& entry : fs::recursive_directory_iterator(dir / "city" / "Data")) {
        if (entry.path().extension() == ".osgb" && entry.path().stem() == entry.path().parent_path().filename()) {
            tile = entry.path();
            break;
        }
    }
    ASSERT_FALSE(tile.empty());
    fs::last_write_time(tile, fs::last_write_time(tile) + std::chrono::seconds(5));
    EXPECT_EQ(rootsReadOnOpen(config), 1);
    EXPECT_EQ(rootsReadOnOpen(config), 0);

    // A damaged index is ignored and written anew.
    std::string text = readFile(cache);
    text[text.size() / 2] ^= 0x20;
    writeFile(cache, text);
    EXPECT_EQ(rootsReadOnOpen(config), roots);
    EXPECT_EQ(rootsReadOnOpen(config), 0);
    writeFile(cache, "vistrel root index 1\n");
    EXPECT_EQ(rootsReadOnOpen(config), roots);

    // A root whose size changed: read again (and now unreadable, so absent);
    // a root the index marks unreadable is read again at every start.
    const std::string bytes = readFile(tile);
    writeFile(tile, bytes.substr(0, bytes.size() / 2));
    EXPECT_EQ(rootsReadOnOpen(config), 1);
    EXPECT_EQ(rootsReadOnOpen(config), 1);
}
