// Models and frames in different coordinate systems: an ENU model and WGS 84
// frames give the pictures of the plain run, frames that miss the model end
// the run with exit 6, a disagreeing .prj over the model only warns, and the
// world files place the pictures on the ground, go with their pictures only
// and fail their image when they cannot be written. A frame that cannot be
// moved fails alone, frames that cannot be moved at all keep the log short,
// and a coordinate system is never fetched.
#include "SampleRun.h"

#include "vector/PolygonFrameReader.h"
#include "output/PictureMarks.h"
#include "support/OutputProbes.h"

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

using namespace batchtest;
using namespace testsupport;
using nlohmann::json;

namespace {

double distanceToSegment(double x, double y, const vistrel::RingPoint& a, const vistrel::RingPoint& b)
{
    const double vx = b.x - a.x;
    const double vy = b.y - a.y;
    const double length2 = vx * vx + vy * vy;
    const double t = length2 > 0 ? std::clamp(((x - a.x) * vx + (y - a.y) * vy) / length2, 0.0, 1.0) : 0.0;
    return std::hypot(a.x + t * vx - x, a.y + t * vy - y);
}

double distanceToRings(double x, double y, const vistrel::PolygonFrame& frame)
{
    double nearest = 1e30;
    for (const auto& ring : frame.rings) {
        for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
            nearest = std::min(nearest, distanceToSegment(x, y, ring[i], ring[i + 1]));
        }
    }
    return nearest;
}

std::vector<double> worldFile(const fs::path& path)
{
    std::istringstream in(readFile(path));
    std::vector<double> values(6, 0.0);
    for (double& value : values) {
        in >> value;
    }
    return values;
}

bool rendered(int i)
{
    return !truth().at("frames")[i].at("skip").get<bool>();
}

// Replaces the geometry of the feature `fid` of the GeoPackage's layer.
void setGeometry(const fs::path& gpkg, GIntBig fid, const char* wkt)
{
    GDALAllRegister();
    auto* dataset =
        static_cast<GDALDataset*>(GDALOpenEx(gpkg.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, nullptr, nullptr, nullptr));
    ASSERT_NE(dataset, nullptr);
    OGRLayer* layer = dataset->GetLayer(0);
    OGRFeature* feature = layer->GetFeature(fid);
    ASSERT_NE(feature, nullptr);
    OGRGeometry* geometry = nullptr;
    ASSERT_EQ(OGRGeometryFactory::createFromWkt(wkt, nullptr, &geometry), OGRERR_NONE);
    feature->SetGeometryDirectly(geometry);
    EXPECT_EQ(layer->SetFeature(feature), OGRERR_NONE);
    OGRFeature::DestroyFeature(feature);
    GDALClose(dataset);
}

std::map<std::string, std::size_t> columnsOf(const std::vector<std::string>& header)
{
    std::map<std::string, std::size_t> columns;
    for (std::size_t i = 0; i < header.size(); ++i) {
        columns.emplace(header[i], i);
    }
    return columns;
}

// A TCP port on the loopback that records whether anyone connected.
class Listener {
public:
    Listener()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
        listen(fd_, 4);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        fcntl(fd_, F_SETFL, O_NONBLOCK);
    }
    ~Listener() { close(fd_); }
    int port() const { return port_; }
    bool connected() const
    {
        const int client = accept(fd_, nullptr, nullptr);
        if (client >= 0) {
            close(client);
        }
        return client >= 0;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace

TEST(CoordinateSystems, EnuModelAndWgs84FramesGiveThePlainPictures)
{
    TempDir plainDir("crs");
    TempDir enuDir("crs");
    TempDir gpkgDir("crs");
    // Every picture drawn from the finest tiles, so that only the systems differ.
    const json settled = {{"warmup_until_loaded", true}, {"warmup_frames", 100}};
    json enuConfig = settled;
    enuConfig["osgb_path"] = (sampleDir() / "city_enu").string();
    json gpkgConfig = settled;
    gpkgConfig["shp_path"] = (sampleDir() / "parcels_wgs84.gpkg").string();
    const SampleRun plain = runVistrel(plainDir, outlineConfig(settled));
    const SampleRun enu = runVistrel(enuDir, outlineConfig(enuConfig));
    const SampleRun gpkg = runVistrel(gpkgDir, outlineConfig(gpkgConfig));
    ASSERT_EQ(plain.process.exitCode, 0) << plain.log();
    ASSERT_EQ(enu.process.exitCode, 0) << enu.log();
    ASSERT_EQ(gpkg.process.exitCode, 0) << gpkg.log();
    EXPECT_NE(enu.log().find("[INFO] Model SRS: ENU "), std::string::npos) << enu.log();
    EXPECT_NE(enu.log().find("[INFO] Transforming frames from CGCS2000"), std::string::npos) << enu.log();
    EXPECT_NE(gpkg.log().find("frames CRS: WGS 84"), std::string::npos) << gpkg.log();
    EXPECT_EQ(plain.log().find("[INFO] Transforming frames"), std::string::npos);
    EXPECT_EQ(plain.log().find("[WARN] The declared coordinate systems differ"), std::string::npos);

    const auto names = uniqueFrameNames();
    double largestOffset = 0.0;
    double lowestPsnr = 99.0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!rendered(static_cast<int>(i))) {
            continue;
        }
        const DecodedPng top = readPng(plain.outputDir / names[i] / "top.png");
        const DecodedPng outline = readPng(plain.outputDir / names[i] / "top_range.png");
        for (const SampleRun* other : {&enu, &gpkg}) {
            const double quality = psnr(top, readPng(other->outputDir / names[i] / "top.png"));
            EXPECT_GE(quality, 35.0) << names[i];
            const double offset = outlineOffset(outline, readPng(other->outputDir / names[i] / "top_range.png"));
            EXPECT_LE(offset, 1.0) << names[i];
            if (other == &enu) {
                largestOffset = std::max(largestOffset, offset);
                lowestPsnr = std::min(lowestPsnr, quality);
            }
        }
        // ENU has no CRS a .prj could name.
        EXPECT_FALSE(fs::exists(enu.outputDir / names[i] / "top.prj"));
    }
    std::cout << "ENU against the plain run: largest outline offset " << largestOffset << " px, lowest top PSNR "
              << lowestPsnr << " dB" << std::endl;
}

TEST(CoordinateSystems, FramesThatMissTheModelEndWithExitSix)
{
    TempDir dir("crs");
    const SampleRun run = runVistrel(dir, smallConfig({{"shp_offset_x", 100000.0}, {"preview_limit", 2}}));
    EXPECT_EQ(run.process.exitCode, 6) << run.log();
    // The frames' extent in the numbers of the file (zone prefix and all),
    // never in exponent form.
    const auto errors = linesWith(run.log(), "[ERROR] No frame lies over the model: frames extent (38512");
    ASSERT_EQ(errors.size(), 1u) << run.log();
    EXPECT_EQ(errors[0].find("e+"), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("CGCS2000 / 3-degree Gauss-Kruger CM 114E"), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("检查坐标系、度带前缀或偏移"), std::string::npos) << errors[0];
    EXPECT_TRUE(linesWith(run.log(), "FRAME_PROGRESS ").empty());
}

TEST(CoordinateSystems, TheLayerKeyNamesTheLayerOfTheSource)
{
    const std::string gpkg = (sampleDir() / "parcels_wgs84.gpkg").string();
    TempDir named("crs");
    const SampleRun run =
        runVistrel(named, smallConfig({{"shp_path", gpkg}, {"layer", "parcels"}, {"preview_limit", 1}}));
    EXPECT_EQ(run.process.exitCode, 0) << run.log();
    TempDir missing("crs");
    const SampleRun wrong = runVistrel(missing, smallConfig({{"shp_path", gpkg}, {"layer", "roads"}}));
    EXPECT_EQ(wrong.process.exitCode, 1) << wrong.log();
    EXPECT_NE(wrong.log().find("[ERROR] Task failed: No layer named roads in " + gpkg), std::string::npos)
        << wrong.log();
}

TEST(CoordinateSystems, ADisagreeingPrjOverTheModelOnlyWarns)
{
    TempDir dir("crs");
    for (const char* ext : {".shp", ".shx", ".dbf", ".cpg"}) {
        fs::copy_file(sampleDir() / (std::string("parcels") + ext), dir / (std::string("parcels") + ext));
    }
    // Beijing 1954 / 3-degree Gauss-Kruger zone 38: another datum, the same numbers.
    OGRSpatialReference beijing;
    ASSERT_EQ(beijing.importFromEPSG(2362), OGRERR_NONE);
    char* wkt = nullptr;
    const char* const options[] = {"FORMAT=WKT1_ESRI", nullptr};
    beijing.exportToWkt(&wkt, options);
    writeFile(dir / "parcels.prj", wkt);
    CPLFree(wkt);

    const SampleRun run = runVistrel(dir, smallConfig({{"shp_path", (dir / "parcels.shp").string()}}));
    EXPECT_EQ(run.process.exitCode, 0) << run.log();
    EXPECT_EQ(linesWith(run.log(), "[WARN] The declared coordinate systems differ").size(), 1u) << run.log();
    EXPECT_EQ(run.log().find("[INFO] Transforming frames"), std::string::npos);
    EXPECT_NE(run.log().find("Render finished. Success 18/20"), std::string::npos) << run.log();
}

TEST(CoordinateSystems, WorldFilesPlaceTheOutlineOnThePolygon)
{
    TempDir dir("crs");
    const SampleRun run = runVistrel(dir, outlineConfig({{"world_file", true}, {"preview_limit", 6}}));
    ASSERT_EQ(run.process.exitCode, 0) << run.log();
    std::vector<vistrel::PolygonFrame> frames;
    {
        CapturedOutput quiet;
        frames = vistrel::readPolygonFrames(sampleParcels());
    }
    const auto names = uniqueFrameNames();
    int checked = 0;
    for (int i = 0; i < 6; ++i) {
        if (!rendered(i)) {
            continue;
        }
        const fs::path folder = run.outputDir / names[i];
        EXPECT_NE(readFile(folder / "top.prj").find("CGCS2000"), std::string::npos);
        EXPECT_EQ(worldFile(folder / "top.pgw"), worldFile(folder / "top_range.pgw"));
        const std::vector<double> w = worldFile(folder / "top_range.pgw");
        const DecodedPng outline = readPng(folder / "top_range.png");
        double farthest = 0.0;
        int pixels = 0;
        for (int y = 0; y < outline.height; ++y) {
            for (int x = 0; x < outline.width; ++x) {
                if (isMagenta(outline.pixel(x, y))) {
                    const double distance = distanceToRings(w[4] + w[0] * x, w[5] + w[3] * y, frames[i]);
                    farthest = std::max(farthest, distance / w[0]);
                    ++pixels;
                }
            }
        }
        EXPECT_GT(pixels, 50) << names[i];
        EXPECT_LE(farthest, 1.0) << names[i];
        ++checked;
    }
    EXPECT_GE(checked, 4);

    // A resumed run takes the pictures over and puts back the world files a
    // killed run had not written yet.
    const int first = rendered(0) ? 0 : 1;
    const fs::path folder = run.outputDir / names[first];
    const std::vector<double> before = worldFile(folder / "top_range.pgw");
    fs::remove(folder / "top.pgw");
    fs::remove(folder / "top_range.pgw");
    const SampleRun resumed =
        runVistrel(dir, outlineConfig({{"world_file", true}, {"preview_limit", 6}, {"resume", true}}));
    ASSERT_EQ(resumed.process.exitCode, 0) << resumed.log();
    EXPECT_NE(resumed.log().find("Resumed "), std::string::npos);
    EXPECT_EQ(worldFile(folder / "top.pgw"), before);
    EXPECT_EQ(worldFile(folder / "top_range.pgw"), before);
}

// A GeoTIFF's vertical pictures hold the place their world files give, in
// the model's system (a local engineering one for an ENU model); side views
// and the outline keep their pixels.
TEST(CoordinateSystems, GeoTiffPicturesOpenInPlace)
{
    TempDir pngDir("tif");
    TempDir tifDir("tif");
    TempDir enuDir("tif");
    TempDir jpgDir("tif");
    const json some = {{"preview_limit", 2}, {"angles", {"top", "north"}}, {"jpg_quality", 100}};
    json png = some;
    png["world_file"] = true;
    json tif = some;
    tif["output_format"] = "tif";
    json jpg = some;
    jpg["output_format"] = "jpg";
    json enu = tif;
    enu["osgb_path"] = (sampleDir() / "city_enu").string();
    const SampleRun pngRun = runVistrel(pngDir, outlineConfig(png));
    const SampleRun jpgRun = runVistrel(jpgDir, outlineConfig(jpg));
    const SampleRun tifRun = runVistrel(tifDir, outlineConfig(tif));
    const SampleRun enuRun = runVistrel(enuDir, outlineConfig(enu));
    ASSERT_EQ(tifRun.process.exitCode, 0) << tifRun.log();
    ASSERT_EQ(enuRun.process.exitCode, 0) << enuRun.log();
    const std::string name = uniqueFrameNames()[rendered(0) ? 0 : 1];
    const fs::path folder = tifRun.outputDir / name;

    const ProcessResult info = runProcess("/usr/bin/gdalinfo", {"-json", "top_range.tif"}, folder);
    const json place = json::parse(info.out, nullptr, false);
    EXPECT_NE(place["coordinateSystem"]["wkt"].get<std::string>().find("CGCS2000"), std::string::npos);
    const std::vector<double> w = worldFile(pngRun.outputDir / name / "top_range.pgw");
    const json& gt = place["geoTransform"];
    // Equal to the world file's numbers within their 15 digits.
    EXPECT_NEAR(gt[1].get<double>(), w[0], 1e-9 * w[0]);
    EXPECT_NEAR(gt[5].get<double>(), w[3], 1e-9 * -w[3]);
    EXPECT_NEAR(gt[0].get<double>() + w[0] / 2, w[4], 1e-9 * w[4]);
    EXPECT_NEAR(gt[3].get<double>() + w[3] / 2, w[5], 1e-9 * w[5]);
    EXPECT_FALSE(fs::exists(folder / "top_range.tfw"));  // world files only on request
    const ProcessResult side = runProcess("/usr/bin/gdalinfo", {"north.tif"}, folder);
    EXPECT_EQ(side.out.find("Origin ="), std::string::npos) << side.out;

    // The side view keeps every pixel; the vertical one is the picture as a
    // jpg file holds it.
    for (const std::string view : {"north", "top_range"}) {
        const ProcessResult png =
            runProcess("/usr/bin/gdal_translate", {"-q", "-of", "PNG", view + ".tif", view + ".png"}, folder);
        ASSERT_EQ(png.exitCode, 0) << png.err;
        const DecodedPng plain = readPng(folder / (view + ".png"));
        if (view == "north") {
            EXPECT_EQ(psnr(readPng(pngRun.outputDir / name / "north.png"), plain), 99.0);
        } else {
            const fs::path jpgFile = folder / "jpg.png";
            ASSERT_EQ(runProcess("/usr/bin/gdal_translate",
                                 {"-q", "-of", "PNG", (jpgRun.outputDir / name / "top_range.jpg").string(), "jpg.png"},
                                 folder)
                          .exitCode,
                      0);
            EXPECT_GE(psnr(readPng(jpgFile), plain), 40.0);
        }
    }

    const ProcessResult local = runProcess("/usr/bin/gdalinfo", {"top.tif"}, enuRun.outputDir / name);
    EXPECT_NE(local.out.find("ENGCRS[\"East-North-Up at "), std::string::npos) << local.out;
}

// The marks of a vertical picture follow its own footprint: the scale bar is
// its ground length over the world file's pixel size; nothing outside the
// marks' boxes changes.
TEST(CoordinateSystems, MarksFollowThePicturesFootprint)
{
    TempDir plainDir("marks");
    TempDir marksDir("marks");
    const json some = {{"preview_limit", 1}, {"world_file", true}, {"width", 960}, {"height", 540}};
    json marks = some;
    marks["annotate"] = {"north_arrow", "scale_bar", "caption"};
    const SampleRun plain = runVistrel(plainDir, outlineConfig(some));
    const SampleRun marked = runVistrel(marksDir, outlineConfig(marks));
    ASSERT_EQ(marked.process.exitCode, 0) << marked.log();
    const std::string name = uniqueFrameNames()[rendered(0) ? 0 : 1];
    const DecodedPng before = readPng(plain.outputDir / name / "top.png");
    const DecodedPng after = readPng(marked.outputDir / name / "top.png");
    const double pixelSize = worldFile(marked.outputDir / name / "top.pgw")[0];
    const vistrel::MarkLayout layout = vistrel::layoutMarks(960, 540, {true, true, true, pixelSize, ""});
    ASSERT_EQ(layout.boxes.size(), 3u);
    const vistrel::MarkBox& bar = layout.boxes[2];
    const int row = bar.y + bar.height - 5 - 3;  // the bar's middle: padding 5, thickness 6
    int first = -1;
    int last = -1;
    for (int x = bar.x; x < bar.x + bar.width; ++x) {
        if (after.pixel(x, row)[0] < 60) {
            first = first < 0 ? x : first;
            last = x;
        }
    }
    EXPECT_NEAR(last - first + 1, layout.barMetres / pixelSize, 1.0);
    int changedOutside = 0;
    for (int y = 0; y < 540; ++y) {
        for (int x = 0; x < 960; ++x) {
            const bool boxed = std::any_of(layout.boxes.begin(), layout.boxes.end(), [&](const vistrel::MarkBox& b) {
                return x >= b.x && x < b.x + b.width && y >= b.y && y < b.y + b.height;
            });
            changedOutside += !boxed && std::memcmp(before.pixel(x, y), after.pixel(x, y), 4) != 0 ? 1 : 0;
        }
    }
    EXPECT_EQ(changedOutside, 0);
}

TEST(CoordinateSystems, WorldFilesAreWrittenOnlyWithTheirPictureAndFailItsImage)
{
    TempDir dir("crs");
    TempDir elsewhere("elsewhere");
    const auto names = uniqueFrameNames();
    std::vector<int> picked;  // rendered frames
    for (int i = 0; picked.size() < 4; ++i) {
        if (rendered(i)) {
            picked.push_back(i);
        }
    }
    const fs::path out = dir / "out";
    const fs::path blocked = out / names[picked[0]];
    const fs::path lost = out / names[picked[2]];
    const fs::path fine = out / names[picked[3]];
    // A folder where one world file goes, a frame folder that leads out of
    // the output folder, and a picture that cannot be written beside the
    // world files an earlier run left.
    fs::create_directories(blocked / "top.pgw");
    fs::create_directory_symlink(elsewhere.path(), out / names[picked[1]]);
    fs::create_directories(lost / "top.png");
    writeFile(lost / "top.pgw", "1\n0\n0\n-1\n0\n0\n");
    writeFile(lost / "top.prj", "an earlier system");
    const json config = smallConfig({{"world_file", true}, {"preview_limit", picked[3] + 1}});
    const SampleRun run = runVistrel(dir, config);
    EXPECT_EQ(run.process.exitCode, 4) << run.log();
    EXPECT_NE(run.log().find("[ERROR] Failed to write world file: " + (blocked / "top.pgw").string() + ": "),
              std::string::npos)
        << run.log();
    EXPECT_NE(run.log().find(", failed 3, hidden "), std::string::npos) << run.log();
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    EXPECT_FALSE(fs::exists(lost / "top.pgw"));
    EXPECT_FALSE(fs::exists(lost / "top.prj"));
    EXPECT_EQ(worldFile(fine / "top.pgw").size(), 6u);
    EXPECT_NE(readFile(fine / "top.prj").find("CGCS2000"), std::string::npos);
    const auto rows = parseCsv(readFile(run.outputDir / "render_report.csv"));
    ASSERT_GT(rows.size(), static_cast<std::size_t>(picked[3] + 1));
    const auto column = [&](const char* title) {
        return static_cast<std::size_t>(std::find(rows[0].begin(), rows[0].end(), title) - rows[0].begin());
    };
    const std::size_t outcome = column("正射结果");
    ASSERT_LT(outcome, rows[0].size());
    EXPECT_EQ(rows[picked[0] + 1][outcome], "失败");
    EXPECT_NE(rows[picked[0] + 1][column("正射备注")].find("世界文件写入失败"), std::string::npos);
    EXPECT_EQ(rows[picked[3] + 1][outcome], "成功");

    // A resumed run puts back the world files of the pictures it takes over
    // the same way: one that cannot be written fails its image.
    fs::remove(fine / "top.pgw");
    fs::create_directory(fine / "top.pgw");
    json resume = config;
    resume["resume"] = true;
    const SampleRun resumed = runVistrel(dir, resume);
    EXPECT_EQ(resumed.process.exitCode, 4) << resumed.log();
    EXPECT_NE(resumed.log().find("Resumed " + (fine / "top.png").string()), std::string::npos) << resumed.log();
    EXPECT_NE(resumed.log().find("[ERROR] Failed to write world file: " + (fine / "top.pgw").string() + ": "),
              std::string::npos)
        << resumed.log();
    EXPECT_NE(resumed.log().find(", failed 4, hidden "), std::string::npos) << resumed.log();
    EXPECT_EQ(parseCsv(readFile(resumed.outputDir / "render_report.csv"))[picked[3] + 1][outcome], "失败");
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

TEST(CoordinateSystems, AFrameThatCannotBeMovedFailsAlone)
{
    TempDir dir("crs");
    const fs::path gpkg = dir / "parcels.gpkg";
    fs::copy_file(sampleDir() / "parcels_wgs84.gpkg", gpkg);
    // The second parcel lies beyond the pole.
    setGeometry(gpkg, 2,
                "MULTIPOLYGON(((114.1262 30.6320,114.1263 30.6320,114.1263 91,114.1262 91,114.1262 30.6320)))");
    const SampleRun run = runVistrel(dir, smallConfig({{"shp_path", gpkg.string()}, {"preview_limit", 4}}));
    EXPECT_EQ(run.process.exitCode, 4) << run.log();
    const auto names = uniqueFrameNames();
    const std::string name = truth().at("frames")[1].at("name");
    const auto errors = linesWith(run.log(), "[ERROR] ");
    ASSERT_EQ(errors.size(), 1u) << run.log();
    EXPECT_NE(errors[0].find("Failed frame " + name +
                             " angle top: the frame cannot be placed in the model's system: "
                             "its point (114.1263, 91) cannot be transformed"),
              std::string::npos)
        << errors[0];
    EXPECT_NE(run.log().find("[WARN] 1 of 20 frames cannot be placed in CGCS2000"), std::string::npos);
    for (int i : {0, 2, 3}) {
        EXPECT_TRUE(fs::exists(run.outputDir / names[i] / "top.png")) << names[i];
    }
    EXPECT_FALSE(fs::exists(run.outputDir / names[1] / "top.png"));
    const auto rows = parseCsv(readFile(run.outputDir / "render_report.csv"));
    ASSERT_EQ(rows.size(), 5u);
    const auto col = columnsOf(rows[0]);
    EXPECT_EQ(rows[2][col.at("正射结果")], "失败");
    EXPECT_EQ(rows[2][col.at("正射备注")].rfind("图斑坐标无法转换到模型坐标系: its point (114.1263, 91)", 0), 0u)
        << rows[2][col.at("正射备注")];
    EXPECT_EQ(rows[3][col.at("正射结果")], "成功");
}

TEST(CoordinateSystems, MetresDeclaredAsDegreesKeepTheLogShort)
{
    TempDir dir("crs");
    for (const char* ext : {".shp", ".shx", ".dbf", ".cpg"}) {
        fs::copy_file(sampleDir() / (std::string("parcels") + ext), dir / (std::string("parcels") + ext));
    }
    writeFile(dir / "parcels.prj", "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,"
                                   "298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]");
    const SampleRun run =
        runVistrel(dir, smallConfig({{"shp_path", (dir / "parcels.shp").string()}, {"reproject_frames", "always"}}));
    const std::string log = run.log();
    EXPECT_EQ(run.process.exitCode, 6) << log.substr(0, 20000);
    EXPECT_LT(std::count(log.begin(), log.end(), '\n'), 200) << log.substr(0, 20000);
    EXPECT_NE(log.find("[WARN] 20 of 20 frames cannot be placed in CGCS2000"), std::string::npos) << log;
    EXPECT_EQ(linesWith(log, "[ERROR] No frame lies over the model").size(), 1u) << log;
}

TEST(CoordinateSystems, ACoordinateSystemIsNeverFetched)
{
    const Listener listener;
    const std::string url = "http://127.0.0.1:" + std::to_string(listener.port()) + "/crs";
    // Configured: a configuration error naming the key.
    for (const std::string& text : {url, std::string("ENU:30.6,114.1,1e308"),
                                    std::string("+proj=pipeline +step +proj=utm +zone=50 +step +proj=axisswap")}) {
        TempDir dir("crs");
        const SampleRun run = runVistrel(dir, smallConfig({{"model_srs", text}}));
        EXPECT_EQ(run.process.exitCode, 1) << run.log();
        EXPECT_NE(run.log().find("[ERROR] Task failed: model_srs: "), std::string::npos) << run.log();
    }
    // Declared in metadata.xml: unknown, with a WARN naming the file.
    TempDir dir("crs");
    fs::copy(sampleDir() / "city", dir / "city", fs::copy_options::recursive);
    writeFile(dir / "city" / "metadata.xml",
              "<ModelMetadata><SRS>" + url + "</SRS><SRSOrigin>512000,3390000,0</SRSOrigin></ModelMetadata>");
    const SampleRun run = runVistrel(dir, smallConfig({{"osgb_path", (dir / "city").string()}, {"preview_limit", 1}}));
    EXPECT_EQ(run.process.exitCode, 0) << run.log();
    EXPECT_NE(run.log().find("[WARN] The model's SRS of " + (dir / "city" / "metadata.xml").string() +
                             " cannot be used and counts as unknown: Unknown coordinate system \"" + url +
                             "\" (a URL is not read"),
              std::string::npos)
        << run.log();
    EXPECT_FALSE(listener.connected());
}
