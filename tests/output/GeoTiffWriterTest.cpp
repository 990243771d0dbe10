#include "ImageReadBack.h"
#include "output/GeoTiffWriter.h"
#include "output/WorldFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <ogr_spatialref.h>

#include <sstream>

using namespace vistrel;
using namespace testsupport;
using namespace outputtest;

namespace {

std::string epsgWkt(int code)
{
    OGRSpatialReference srs;
    srs.importFromEPSG(code);
    char* wkt = nullptr;
    srs.exportToWkt(&wkt);
    std::string text = wkt;
    CPLFree(wkt);
    return text;
}

nlohmann::json gdalInfo(const fs::path& file)
{
    const ProcessResult info = runProcess("/usr/bin/gdalinfo", {"-json", file.string()}, file.parent_path());
    EXPECT_EQ(info.exitCode, 0) << info.err;
    return nlohmann::json::parse(info.out, nullptr, false);
}

bool writeTif(const osg::Image* image, const fs::path& path, std::optional<PicturePlace> place)
{
    WriteRequest request;
    request.pixels = image;
    request.path = path.string();
    request.dpi = 300;
    request.quality = 90;
    request.place = std::move(place);
    std::string reason;
    FileDigest digest;
    return writeGeoTiff(request, reason, digest);
}

}  // namespace

// A vertical picture opens in place: the model's system, the world file's
// geotransform, JPEG tiles with overviews; a side view is a plain TIFF.
TEST(GeoTiffWriter, VerticalPictureCarriesItsPlaceAndSideViewNone)
{
    TempDir dir("geotiff");
    const auto capture = bandedCapture(1024, 576);
    const PictureFootprint footprint{512345.678, 3391234.5, 120.0, 67.5, 1024, 576};
    ASSERT_TRUE(writeTif(capture.get(), dir / "top.tif", PicturePlace{footprint, "", epsgWkt(4547)}));
    const nlohmann::json top = gdalInfo(dir / "top.tif");
    EXPECT_NE(top["coordinateSystem"]["wkt"].get<std::string>().find("ID[\"EPSG\",4547]"), std::string::npos);
    EXPECT_EQ(top["metadata"]["IMAGE_STRUCTURE"]["COMPRESSION"], "YCbCr JPEG");
    EXPECT_EQ(top["metadata"]["IMAGE_STRUCTURE"]["LAYOUT"], "COG");
    EXPECT_EQ(top["bands"][0]["overviews"].size(), 1u);
    std::istringstream world(worldFileText(footprint));
    double a, d, b, e, c, f;
    world >> a >> d >> b >> e >> c >> f;
    const auto& gt = top["geoTransform"];
    EXPECT_NEAR(gt[1].get<double>(), a, 1e-9);
    EXPECT_NEAR(gt[5].get<double>(), e, 1e-9);
    EXPECT_NEAR(gt[0].get<double>() + a / 2, c, 1e-9);  // the world file names the first pixel's centre
    EXPECT_NEAR(gt[3].get<double>() + e / 2, f, 1e-9);

    ASSERT_TRUE(writeTif(capture.get(), dir / "north.tif", std::nullopt));
    const nlohmann::json side = gdalInfo(dir / "north.tif");
    EXPECT_FALSE(side.contains("geoTransform"));
    EXPECT_EQ(side["metadata"]["IMAGE_STRUCTURE"]["COMPRESSION"], "DEFLATE");
    EXPECT_EQ(side["metadata"][""]["TIFFTAG_XRESOLUTION"], "300");
    const ProcessResult png =
        runProcess("/usr/bin/gdal_translate", {"-of", "PNG", "north.tif", "north.png"}, dir.path());
    ASSERT_EQ(png.exitCode, 0) << png.err;
    const DecodedImage upright = readPng(dir / "north.png");
    EXPECT_EQ(upright.pixel(0, 0), (std::array<int, 3>{255, 0, 0}));  // top row first, alpha dropped
    EXPECT_EQ(upright.pixel(1023, 575), (std::array<int, 3>{0, 0, 255}));

    // The same picture gives the same bytes, and a folder that takes no file
    // leaves nothing.
    ASSERT_TRUE(writeTif(capture.get(), dir / "again.tif", PicturePlace{footprint, "", epsgWkt(4547)}));
    EXPECT_EQ(readFile(dir / "top.tif"), readFile(dir / "again.tif"));
    EXPECT_FALSE(writeTif(capture.get(), dir / "missing" / "x.tif", std::nullopt));
}
