// Vistrel started as a process: configuration lookup, messages and exit codes.
#include "support/GeoFixtures.h"
#include "support/TestSupport.h"

#include <ogr_core.h>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// A copy of the program in <root>/bin, so "beside the program" is under the
// test's control.
fs::path installProgram(const TempDir& root)
{
    fs::create_directories(root / "bin");
    const fs::path copy = root / "bin" / "Vistrel";
    fs::copy_file(vistrelExecutable(), copy, fs::copy_options::overwrite_existing);
    return copy;
}

// A configuration whose inputs exist (the model folder holds no tiles).
std::string minimalConfig(const std::string& outputDir)
{
    return R"({"osgb_path":"model","shp_path":"parcels.shp","output_dir":")" + outputDir + R"("})";
}

void makeInputs(const fs::path& folder)
{
    fs::create_directories(folder / "model");
    writeFile(folder / "parcels.shp", "not a shapefile");
}

std::string usingConfigLine(const std::string& out)
{
    const auto pos = out.find("Using config: ");
    if (pos == std::string::npos) {
        return {};
    }
    return out.substr(pos + 14, out.find('\n', pos) - pos - 14);
}

}  // namespace

TEST(VistrelProcess, NoArgumentUsesTheConfigBesideTheProgram)
{
    TempDir root("proc");
    const fs::path program = installProgram(root);
    makeInputs(root / "bin" / "config");
    writeFile(root / "bin" / "config" / "render.json", minimalConfig("out"));
    fs::create_directories(root / "elsewhere");

    const auto result = runProcess(program.string(), {}, root / "elsewhere");
    EXPECT_EQ(usingConfigLine(result.out), (root / "bin" / "config" / "render.json").string()) << result.out;
    EXPECT_NE(result.out.find("Starting Vistrel."), std::string::npos) << result.out << result.err;
    EXPECT_TRUE(fs::is_directory(root / "bin" / "config" / "out"));
    // The log folder is made in the working directory, not beside the program.
    EXPECT_TRUE(fs::is_directory(root / "elsewhere" / "logs"));
    EXPECT_FALSE(fs::exists(root / "bin" / "logs"));
    // The summary went to standard output with absolute paths.
    EXPECT_NE(result.out.find("OSGB path: " + (root / "bin" / "config" / "model").string() + "\n"), std::string::npos);
}

TEST(VistrelProcess, NoConfigurationAnywhere)
{
    TempDir root("proc");
    const fs::path program = installProgram(root);
    fs::create_directories(root / "work");

    const auto result = runProcess(program.string(), {}, root / "work");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "Cannot open config: config/render.json\nUsage: Vistrel <config/render.json> (or Vistrel "
                          "--plan <config/render.json>: what a run would do)\n");
    EXPECT_NE(result.out.find("[ERROR] Invalid config."), std::string::npos);
    EXPECT_EQ(usingConfigLine(result.out), "config/render.json");
}

TEST(VistrelProcess, RelativeConfigInTheWorkingDirectoryIsTheFallback)
{
    TempDir root("proc");
    const fs::path program = installProgram(root);
    makeInputs(root / "work" / "config");
    writeFile(root / "work" / "config" / "render.json", minimalConfig("out"));

    const auto result = runProcess(program.string(), {}, root / "work");
    EXPECT_EQ(usingConfigLine(result.out), "config/render.json");
    EXPECT_NE(result.out.find("Starting Vistrel."), std::string::npos) << result.err;
    EXPECT_TRUE(fs::is_directory(root / "work" / "config" / "out"));
}

TEST(VistrelProcess, ChineseConfigPathAndExtraArguments)
{
    TempDir root("proc");
    const fs::path folder = root / "任务" / "配置";
    makeInputs(folder);
    writeFile(folder / "渲染.json", minimalConfig("输出"));

    const auto result =
        runProcess(vistrelExecutable(), {(folder / "渲染.json").string(), "ignored", "--also"}, root.path());
    EXPECT_EQ(usingConfigLine(result.out), (folder / "渲染.json").string());
    EXPECT_NE(result.out.find("Starting Vistrel."), std::string::npos) << result.err;
    EXPECT_TRUE(fs::is_directory(folder / "输出"));
    EXPECT_EQ(result.err.find("ignored"), std::string::npos);
}

TEST(VistrelProcess, InvalidConfigurationExitsOneWithUsage)
{
    TempDir root("proc");
    makeInputs(root.path());
    writeFile(root / "render.json", R"({"osgb_path":"model","shp_path":"parcels.shp","output_format":"gif"})");

    const auto result = runProcess(vistrelExecutable(), {(root / "render.json").string()}, root.path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "Config error: output_format must be png, jpg, or pdf.\nUsage: Vistrel <config/render.json> "
                          "(or Vistrel --plan <config/render.json>: what a run would do)\n");
    // Nothing is created for a rejected configuration.
    EXPECT_FALSE(fs::exists(root / "output"));
}

TEST(VistrelProcess, OutputFolderBelowAFileFailsTheTask)
{
    TempDir root("proc");
    makeInputs(root.path());
    writeFile(root / "blocker", "file");
    writeFile(root / "render.json", minimalConfig("blocker/out"));

    const auto result = runProcess(vistrelExecutable(), {(root / "render.json").string()}, root.path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.out.find("[ERROR] Task failed: "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("create_directories"), std::string::npos) << result.out;
}

TEST(VistrelProcess, WorkingDirectoryWhereLogsCannotBeCreated)
{
    TempDir root("proc");
    makeInputs(root.path());
    writeFile(root / "render.json", minimalConfig("out"));

    // A read-only folder stops an ordinary user; root ignores the permission
    // bits, so for root a read-only file system stands in.
    fs::path workDir;
    TempDir work("ro");
    if (permissionsIgnored()) {
        workDir = "/proc";
    } else {
        workDir = work.path();
        fs::permissions(workDir, fs::perms::owner_read | fs::perms::owner_exec);
    }
    const auto result = runProcess(vistrelExecutable(), {(root / "render.json").string()}, workDir);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.err.find("Cannot create the log folder \"logs\""), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("Using config"), std::string::npos);
}

TEST(VistrelProcess, LogsFolderBlockedByAFile)
{
    TempDir root("proc");
    makeInputs(root.path());
    writeFile(root / "render.json", minimalConfig("out"));
    writeFile(root / "logs", "not a folder");

    const auto result = runProcess(vistrelExecutable(), {(root / "render.json").string()}, root.path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Cannot create the log folder"), std::string::npos) << result.err;
}

namespace {

// A model with one loadable tile, a polygon shapefile and a line shapefile.
void makeLoadableInputs(const fs::path& folder)
{
    writeNode(folder / "model" / "Data" / "T" / "T.osgb",
              *makeBox(osg::Vec3(0, 0, 0), osg::Vec3(10, 10, 5), osg::Vec4(1, 0, 0, 1)));
    writeVectorFile(folder / "parcels.shp", "ESRI Shapefile", wkbPolygon, {"NAME"},
                    {{"POLYGON ((1 1,9 1,9 9,1 9,1 1))", {{"NAME", "p1"}}}});
    writeVectorFile(folder / "lines.shp", "ESRI Shapefile", wkbLineString, {"NAME"},
                    {{"LINESTRING (0 0,5 5)", {{"NAME", "l1"}}}});
}

ProcessResult runWith(const TempDir& root, const std::string& body)
{
    writeFile(root / "render.json", body);
    return runProcess(vistrelExecutable(), {(root / "render.json").string()}, root.path());
}

}  // namespace

TEST(VistrelProcessExitCodes, ModelWithoutTilesExitsTwo)
{
    TempDir root("proc");
    makeLoadableInputs(root.path());
    fs::create_directories(root / "no-tiles");
    const auto result = runWith(root, R"({"osgb_path":"no-tiles","shp_path":"parcels.shp"})");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.out.find("[ERROR] No root .osgb files found in: " + (root / "no-tiles").string()),
              std::string::npos);
    // The output folder exists, but no report was written.
    EXPECT_TRUE(fs::is_directory(root / "output"));
    EXPECT_FALSE(fs::exists(root / "output" / "render_report.csv"));
}

TEST(VistrelProcessExitCodes, LinesOnlyShapefileExitsThree)
{
    TempDir root("proc");
    makeLoadableInputs(root.path());
    const auto result = runWith(root, R"({"osgb_path":"model","shp_path":"lines.shp"})");
    EXPECT_EQ(result.exitCode, 3);
    // It says what the layer holds instead, and names each feature.
    EXPECT_NE(result.out.find("[WARN] No polygon or multipolygon features found in SHP. The layer lines holds: "
                              "LINESTRING ×"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("[WARN] Skipped feature FID 0 of layer lines: LINESTRING, not a polygon\n"),
              std::string::npos);
    EXPECT_TRUE(fs::is_directory(root / "output"));
    EXPECT_FALSE(fs::exists(root / "output" / "render_report.csv"));
}

TEST(VistrelProcessExitCodes, UnreadableShapefileExitsOne)
{
    TempDir root("proc");
    makeLoadableInputs(root.path());
    writeFile(root / "broken.shp", "garbage that no driver reads");
    const auto result = runWith(root, R"({"osgb_path":"model","shp_path":"broken.shp"})");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.out.find("[ERROR] Task failed: Failed to open SHP: " + (root / "broken.shp").string()),
              std::string::npos)
        << result.out;
}

TEST(VistrelProcessExitCodes, LostShapefileFeaturesExitFourAfterTheBatch)
{
    TempDir root("proc");
    makeLoadableInputs(root.path());
    std::vector<TestFeature> features;
    for (int i = 0; i < 8; ++i) {
        features.push_back({"POLYGON ((1 1,9 1,9 9,1 9,1 1))", {{"NAME", "p" + std::to_string(i)}}});
    }
    writeVectorFile(root / "parcels.shp", "ESRI Shapefile", wkbPolygon, {"NAME"}, features);
    fs::resize_file(root / "parcels.shp", fs::file_size(root / "parcels.shp") / 2);
    const auto result = runWith(root, R"({"osgb_path":"model","shp_path":"parcels.shp","width":64,"height":64,)"
                                      R"("warmup_frames":0})");
    EXPECT_EQ(result.exitCode, 4) << result.out;
    EXPECT_NE(result.out.find("[ERROR] Lost features in layer parcels"), std::string::npos) << result.out;
    // What was read was rendered and reported.
    ASSERT_TRUE(fs::exists(root / "output" / "render_report.csv"));
    EXPECT_NE(readFile(root / "output" / "render_report.csv").find("p2"), std::string::npos);
}
