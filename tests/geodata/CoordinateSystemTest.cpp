// Reading coordinate systems, the decision to move frames, and the move.
#include "geodata/CoordinateSystem.h"
#include "geodata/FrameReprojection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

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
    for (const char* bad : {"ENU:114.1272,30.6318", "ENU:30.6", "ENU:30,114,0,1", "ENU:30,east", "ENU:30,,114",
                            "ENU:", "EPSG:999999", "no such system"}) {
        try {
            parseCoordinateSystem(bad);
            ADD_FAILURE() << bad << " was accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
        }
    }
    EXPECT_FALSE(parseCoordinateSystem("  ").known());
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

TEST(FramePlacementDecision, MovedFramesAreDensifiedAndKeepTheirShape)
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
    ASSERT_GE(ring.size(), 400u);  // edges of at most 1 m
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
