// Reading coordinate systems, the decision to move frames, and the move.
#include "vector/CoordinateSystem.h"
#include "vector/FrameReprojection.h"
#include "vector/PolygonFrameReader.h"
#include "support/TestSupport.h"

#include "core/Logger.h"

#include <cpl_error.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <memory>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

using namespace vistrel;

TEST(CoordinateSystemText, EnuIsLatitudeFirstWithAnOptionalHeight)
{
    const CoordinateSystem plain = parseCoordinateSystem(" ENU:30.6318,114.1272 ");
    EXPECT_EQ(plain.kind, CoordinateSystem::Kind::Enu);
    EXPECT_DOUBLE_EQ(plain.enuLat, 30.6318);
    EXPECT_DOUBLE_EQ(plain.enuLon, 114.1272);
    EXPECT_DOUBLE_EQ(plain.enuHeight, 0.0);
    const CoordinateSystem raised = parseCoordinateSystem("enu: -33.5, 151.25, 42.5");
    EXPECT_DOUBLE_EQ(raised.enuLat, -33.5);
    EXPECT_DOUBLE_EQ(raised.enuLon, 151.25);
    EXPECT_DOUBLE_EQ(raised.enuHeight, 42.5);
    EXPECT_EQ(shortName(raised), "ENU -33.500000,151.250000");

    // Longitude first (latitude 114), missing or extra numbers, text.
    // A height far off the ground, no horizontal CRS, an operation instead of
    // a system, and systems to be fetched or read from a file.
    for (const char* bad :
         {"ENU:114.1272,30.6318", "ENU:30.6", "ENU:30,114,0,1", "ENU:30,east", "ENU:30,,114", "ENU:", "EPSG:999999",
          "no such system", "ENU:30.6,114.1,1e308", "EPSG:5773", "http://127.0.0.1:9/crs.wkt",
          "+proj=pipeline +step +proj=utm +zone=50", "+proj=utm +zone=50 +nadgrids=/tmp/grid.gsb"}) {
        try {
            parseCoordinateSystem(bad);
            ADD_FAILURE() << bad << " was accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
        }
    }
    EXPECT_FALSE(parseCoordinateSystem("  ").known());
    // A readable WKT file is still not opened.
    const std::string prj = (fs::temp_directory_path() / "vistrel_crs_test.prj").string();
    std::ofstream(prj) << "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
                          "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]";
    EXPECT_THROW(parseCoordinateSystem(prj), std::invalid_argument);
    fs::remove(prj);
}

TEST(CoordinateSystemText, ThePrefixLeavesAZoneSystemThatMatchesTheModel)
{
    const CoordinateSystem zone = parseCoordinateSystem("EPSG:4526");  // false easting 38 500 000
    const CoordinateSystem model = parseCoordinateSystem("EPSG:4547");  // the same meridian, 500 000
    EXPECT_FALSE(sameSystem(zone, model));
    EXPECT_TRUE(sameSystem(strippedSystem(zone, 38000000.0), model));
    // A system without the prefix in its false easting stays as it is.
    EXPECT_TRUE(sameSystem(strippedSystem(model, 38000000.0), model));
    EXPECT_FALSE(sameSystem(parseCoordinateSystem("EPSG:4326"), model));
    EXPECT_FALSE(sameSystem(CoordinateSystem{}, CoordinateSystem{}));
}

TEST(FramePlacementDecision, AutoMovesOnlyKnownDifferentSystemsThatMissTheModel)
{
    using P = FramePlacement;
    EXPECT_EQ(decideFramePlacement("auto", true, false, false), P::Transform);
    EXPECT_EQ(decideFramePlacement("auto", true, false, true), P::AsReadSystemsDiffer);
    EXPECT_EQ(decideFramePlacement("auto", true, true, false), P::AsRead);
    EXPECT_EQ(decideFramePlacement("auto", false, false, false), P::AsRead);
    EXPECT_EQ(decideFramePlacement("always", true, false, true), P::Transform);
    EXPECT_EQ(decideFramePlacement("always", false, false, false), P::AsRead);
    EXPECT_EQ(decideFramePlacement("never", true, false, false), P::AsReadSystemsDiffer);
}

TEST(FramePlacementDecision, MovedFramesKeepTheirShape)
{
    // A 100 m square in CGCS2000 / 3-degree GK CM 114E, moved into an ENU
    // frame at its south-west corner and back.
    PolygonFrame frame;
    frame.rings = {{{512000, 3390000}, {512100, 3390000}, {512100, 3390100}, {512000, 3390100}, {512000, 3390000}}};
    std::vector<PolygonFrame> frames{frame};
    const CoordinateSystem gk = parseCoordinateSystem("EPSG:4547");
    const CoordinateSystem enu = parseCoordinateSystem("ENU:30.630356533,114.125168584");
    transformFrames(frames, gk, enu);
    const auto& ring = frames[0].rings[0];
    EXPECT_EQ(ring.size(), 5u);  // the edges bend by far less than 1 cm
    EXPECT_NEAR(frames[0].maxX - frames[0].minX, 100.1, 0.2);  // grid north is 0.06° off true north
    EXPECT_LT(std::hypot(ring[0].x, ring[0].y), 0.01);

    transformFrames(frames, enu, gk);
    EXPECT_NEAR(frames[0].minX, 512000.0, 1e-3);
    EXPECT_NEAR(frames[0].maxY, 3390100.0, 1e-3);
    Extent2 model;
    model.add(512050, 3390050, 513000, 3391000);
    EXPECT_TRUE(anyFrameOverlaps(frames, model));
    model = Extent2{};
    model.add(612000, 3390000, 613000, 3391000);
    EXPECT_FALSE(anyFrameOverlaps(frames, model));
}

namespace {

PolygonFrame boxFrame(double x0, double y0, double x1, double y1)
{
    PolygonFrame frame;
    frame.name = "box";
    frame.rings = {{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}}};
    return frame;
}

double distanceToRing(double x, double y, const std::vector<RingPoint>& ring)
{
    double nearest = 1e300;
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        const RingPoint& a = ring[i];
        const RingPoint& b = ring[i + 1];
        const double vx = b.x - a.x;
        const double vy = b.y - a.y;
        const double t = std::clamp(((x - a.x) * vx + (y - a.y) * vy) / (vx * vx + vy * vy), 0.0, 1.0);
        nearest = std::min(nearest, std::hypot(a.x + t * vx - x, a.y + t * vy - y));
    }
    return nearest;
}

}  // namespace

// Moving frames costs in proportion to their vertices: points are added only
// where an edge bends, and a frame whose points cannot be moved fails alone.
TEST(FrameTransformCost, ACountryTakesFewPointsAndABadFrameFailsAlone)
{
    const CoordinateSystem wgs84 = parseCoordinateSystem("EPSG:4326");
    const CoordinateSystem gk = parseCoordinateSystem("EPSG:4547");
    std::vector<PolygonFrame> frames{boxFrame(104, 25, 114, 35), boxFrame(114.1, 30, 114.2, 91)};
    const FrameTransform moved = transformFrames(frames, wgs84, gk);
    EXPECT_EQ(moved.moved, 1u);
    EXPECT_EQ(moved.unusable, 1u);
    EXPECT_NE(frames[1].unusable.find("its point (114.2, 91) cannot be transformed"), std::string::npos)
        << frames[1].unusable;
    EXPECT_DOUBLE_EQ(frames[1].rings[0][2].y, 91.0);  // kept as read
    const std::vector<RingPoint>& ring = frames[0].rings[0];
    EXPECT_LT(ring.size(), 10000u);  // 1 m edges would take 4.4 million
    EXPECT_EQ(moved.points, ring.size());

    // The edges as PROJ moves them point by point, against the ring.
    OGRSpatialReference from;
    OGRSpatialReference to;
    from.importFromEPSG(4326);
    to.importFromEPSG(4547);
    from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    to.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::unique_ptr<OGRCoordinateTransformation> exact(OGRCreateCoordinateTransformation(&from, &to));
    const double corners[5][2] = {{104, 25}, {114, 25}, {114, 35}, {104, 35}, {104, 25}};
    double farthest = 0.0;
    for (int edge = 0; edge < 4; ++edge) {
        for (int i = 0; i <= 500; ++i) {
            const double t = i / 500.0 + (i % 7) * 1e-4;
            double x = corners[edge][0] + std::min(t, 1.0) * (corners[edge + 1][0] - corners[edge][0]);
            double y = corners[edge][1] + std::min(t, 1.0) * (corners[edge + 1][1] - corners[edge][1]);
            ASSERT_TRUE(exact->Transform(1, &x, &y));
            farthest = std::max(farthest, distanceToRing(x, y, ring));
        }
    }
    EXPECT_LT(farthest, 0.011);

    // A strip across the antimeridian is 1.1 km wide, not the whole globe.
    std::vector<PolygonFrame> strip{boxFrame(179.995, 0, -179.995, 0.01)};
    const FrameTransform across = transformFrames(strip, wgs84, parseCoordinateSystem("ENU:0.005,180"));
    EXPECT_EQ(across.moved, 1u);
    EXPECT_LT(strip[0].rings[0].size(), 40u);
    EXPECT_NEAR(strip[0].maxX - strip[0].minX, 1113.2, 1.0);

    // A stop leaves the frames not reached as read.
    std::vector<PolygonFrame> again{boxFrame(104, 25, 114, 35)};
    const FrameTransform stopped = transformFrames(again, wgs84, gk, [] { return true; });
    EXPECT_TRUE(stopped.stopped);
    EXPECT_DOUBLE_EQ(again[0].rings[0][1].x, 114.0);
}

// GDAL may raise a message per point: each kind reaches the log a few times,
// then a closing line counts the rest.
TEST(GdalMessages, RepeatsAreCountedNotLogged)
{
    testsupport::CapturedOutput log;
    setVectorFailureSink([](const std::string& reason) { Logger::instance().error(reason); });
    routeGdalMessages();
    for (int i = 0; i < 100000; ++i) {
        CPLError(CE_Failure, CPLE_AppDefined, "Invalid coordinate (%d, %d)", i, 2 * i);
    }
    CPLError(CE_Warning, CPLE_AppDefined, "Something else");
    flushGdalMessageCounts();
    setVectorFailureSink(nullptr);
    CPLSetErrorHandler(nullptr);
    const std::string text = log.text();
    EXPECT_EQ(testsupport::countOccurrences(text, "[ERROR] GDAL: Invalid coordinate"), 6) << text;
    EXPECT_NE(text.find("[ERROR] GDAL: Invalid coordinate (0, 0) (and 99995 more like it, not logged)"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[WARN] GDAL: Something else"), std::string::npos);
}
