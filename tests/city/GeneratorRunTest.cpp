// make_sample_city as a program: the same bytes on every run, within its
// size budget, and careful with the folders it replaces.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <map>

using namespace testsupport;

namespace {

std::string generator() { return std::string(VISTREL_BIN_DIR) + "/make_sample_city"; }

// Relative path -> file content of everything under `root`.
std::map<std::string, std::string> snapshot(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files[entry.path().lexically_relative(root).generic_string()] = readFile(entry.path());
        }
    }
    return files;
}

}  // namespace

TEST(MakeSampleCity, TwoRunsWriteIdenticalFilesAndReplaceAnEarlierCity)
{
    TempDir temp("sample_city");
    const fs::path first = temp / "first";
    const fs::path second = temp / "second";
    // An interrupted earlier run left its staging folder behind.
    writeFile(temp / "first.tmp" / ".make_sample_city-staging", "");
    writeFile(temp / "first.tmp" / "city" / "half-written.osgb", "x");
    // An earlier city with a file the current generator no longer writes.
    writeFile(second / "truth.json", "{}");
    writeFile(second / "city" / "metadata.xml", "old");
    writeFile(second / "stale.txt", "old");

    const auto start = std::chrono::steady_clock::now();
    const ProcessResult a = runProcess(generator(), {first.string()}, temp.path());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const ProcessResult b = runProcess(generator(), {second.string()}, temp.path());
    std::cout << "one run of make_sample_city took " << seconds << " s" << std::endl;
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(b.exitCode, 0) << b.err;

    const std::map<std::string, std::string> one = snapshot(first);
    const std::map<std::string, std::string> two = snapshot(second);
    EXPECT_EQ(two.count("stale.txt"), 0u);
    ASSERT_EQ(one.size(), two.size());
    std::uintmax_t bytes = 0;
    for (const auto& [path, content] : one) {
        ASSERT_TRUE(two.count(path)) << path;
        EXPECT_TRUE(content == two.at(path)) << path << " differs between runs";
        bytes += content.size();
    }
    EXPECT_LT(bytes, 20u * 1024u * 1024u);
    for (const char* expected : {"truth.json", "parcels.shp", "parcels.shx", "parcels.dbf", "parcels.prj",
                                 "parcels.cpg", "lines.shp", "city/metadata.xml", "city_dsm/Data.dsm"}) {
        EXPECT_EQ(one.count(expected), 1u) << expected;
    }
    EXPECT_FALSE(fs::exists(temp / "first.tmp"));
    EXPECT_FALSE(fs::exists(temp / "second.tmp"));
}

TEST(MakeSampleCity, LeavesAFolderThatIsNotASampleCityAlone)
{
    TempDir temp("sample_city");
    const fs::path target = temp / "documents";
    writeFile(target / "thesis.txt", "keep me");

    const ProcessResult result = runProcess(generator(), {target.string()}, temp.path());
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.err.find("not a sample city"), std::string::npos) << result.err;
    EXPECT_EQ(readFile(target / "thesis.txt"), "keep me");
    EXPECT_FALSE(fs::exists(target / "truth.json"));
    EXPECT_FALSE(fs::exists(temp / "documents.tmp"));
}

TEST(MakeSampleCity, LeavesAForeignStagingFolderAlone)
{
    TempDir temp("sample_city");
    writeFile(temp / "out.tmp" / "notes.txt", "keep me");

    const ProcessResult result = runProcess(generator(), {(temp / "out").string()}, temp.path());
    EXPECT_NE(result.exitCode, 0);
    EXPECT_EQ(readFile(temp / "out.tmp" / "notes.txt"), "keep me");
    EXPECT_FALSE(fs::exists(temp / "out"));
}

TEST(MakeSampleCity, WithoutAnOutputFolderPrintsUsage)
{
    TempDir temp("sample_city");
    const ProcessResult result = runProcess(generator(), {}, temp.path());
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("usage"), std::string::npos);

    // Options are never taken for the folder: --help prints the usage, an
    // unknown option is refused.
    const ProcessResult help = runProcess(generator(), {"--help"}, temp.path());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: make_sample_city"), std::string::npos) << help.out;
    const ProcessResult unknown = runProcess(generator(), {"--colour", "city"}, temp.path());
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("unknown option \"--colour\""), std::string::npos) << unknown.err;
    // A 3D Tiles variant alone would silently write nothing of it.
    const ProcessResult draco = runProcess(generator(), {"--draco", "city"}, temp.path());
    EXPECT_EQ(draco.exitCode, 2);
    EXPECT_NE(draco.err.find("go with --3dtiles"), std::string::npos) << draco.err;
    EXPECT_TRUE(fs::is_empty(temp.path()));
}
