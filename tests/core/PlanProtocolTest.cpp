// The plan lines: every kind survives build -> parse (names that hold the
// separators included, numbers never in exponent form), and rings are cut to
// the cap while keeping their shape.

#include "core/PlanProtocol.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vistrel;

TEST(PlanProtocol, EveryLineKindRoundTrips)
{
    const PlanTile tile{3, 120, {500.5, -20.0, 700.0, 180.25}, 0};
    EXPECT_EQ(formatLine(tile), "Plan tile 3/120: 500.5 -20 700 180.25");
    const PlanTile cell{7, 400, {0.0, 0.0, 250.0, 250.0}, 63};
    for (const PlanTile& line : {tile, cell}) {
        const auto back = parsePlanTile(formatLine(line));
        ASSERT_TRUE(back) << formatLine(line);
        EXPECT_EQ(back->tile, line.tile);
        EXPECT_EQ(back->totalTiles, line.totalTiles);
        EXPECT_EQ(back->tilesInCell, line.tilesInCell);
        EXPECT_DOUBLE_EQ(back->footprint.y1, line.footprint.y1);
    }
    const auto cells = parsePlanTileCells(formatLine(PlanTileCells{25000, 400}));
    ASSERT_TRUE(cells);
    EXPECT_EQ(cells->tiles, 25000);
    EXPECT_EQ(cells->cells, 400);

    PlanFrame frame{3, 40, PlanOverlap::Partly, "宗地 | outer 1 2 (A)", {}};
    frame.rings.push_back(PlanRing{false, {{3390330.25, 0.0}, {3390340.0, 0.0}, {3390340.0, 10.0}}});
    frame.rings.push_back(PlanRing{true, {{3390332.0, 2.0}, {3390333.0, 2.0}, {3390333.0, 3.0}}});
    const std::string frameText = formatLine(frame);
    EXPECT_EQ(frameText.find("e+"), std::string::npos) << frameText;
    const auto frameBack = parsePlanFrame(frameText);
    ASSERT_TRUE(frameBack) << frameText;
    EXPECT_EQ(frameBack->name, frame.name);
    EXPECT_EQ(frameBack->overlap, PlanOverlap::Partly);
    ASSERT_EQ(frameBack->rings.size(), 2u);
    EXPECT_TRUE(frameBack->rings[1].hole);
    EXPECT_DOUBLE_EQ(frameBack->rings[0].points[0].x, 3390330.25);
    const auto unusable = parsePlanFrame(formatLine(PlanFrame{1, 1, PlanOverlap::Unusable, "x", {}}));
    ASSERT_TRUE(unusable);
    EXPECT_TRUE(unusable->rings.empty());

    PlanSummary summary;
    summary.frames = 40;
    summary.over = 30;
    summary.partly = 5;
    summary.outside = 4;
    summary.unusable = 1;
    summary.imagesPlanned = 120;
    summary.imagesTakenOver = 10;
    summary.imagesToRender = 110;
    summary.estimatedSeconds = 532.44;
    summary.parcelsExtent = {113.12345678, 22.5, 38500000.5, 3390330.0};
    summary.systems = PlanSystems::KeptAsRead;
    summary.from = "CGCS2000 / 3-degree Gauss-Kruger CM 114E";
    summary.to = "ENU (22.5, 113.1)";
    summary.why = "the frames already lie over the model";
    const std::string summaryText = formatLine(summary);
    EXPECT_EQ(summaryText.find("e+"), std::string::npos) << summaryText;
    const auto back = parsePlanSummary(summaryText);
    ASSERT_TRUE(back) << summaryText;
    EXPECT_EQ(back->unusable, 1);
    EXPECT_EQ(back->imagesToRender, 110);
    EXPECT_DOUBLE_EQ(back->estimatedSeconds, 532.4);
    EXPECT_DOUBLE_EQ(back->parcelsExtent.x0, 113.12345678);
    EXPECT_DOUBLE_EQ(back->parcelsExtent.x1, 38500000.5);
    EXPECT_EQ(back->systems, PlanSystems::KeptAsRead);
    EXPECT_EQ(back->from, summary.from);
    EXPECT_EQ(back->to, summary.to);
    EXPECT_EQ(back->why, summary.why);

    // Lines of other kinds, or cut short, are refused.
    EXPECT_FALSE(parsePlanFrame(frameText.substr(0, frameText.size() - 4) + " x"));
    EXPECT_FALSE(parsePlanSummary(summaryText.substr(0, summaryText.find(" systems="))));
    EXPECT_FALSE(parsePlanTile("Plan tile 3/120: 1 2 3"));
}

TEST(PlanProtocol, RingsAreCutToTheCapKeepingTheirCorners)
{
    // A closed square with 400 points on its sides and one notch.
    std::vector<RingPoint> ring;
    for (int i = 0; i < 100; ++i) {
        ring.push_back({i * 1.0, 0.0});
    }
    for (int i = 0; i < 100; ++i) {
        ring.push_back({100.0, i * 1.0});
    }
    for (int i = 0; i < 100; ++i) {
        ring.push_back({100.0 - i, i == 50 ? 70.0 : 100.0});
    }
    for (int i = 0; i < 100; ++i) {
        ring.push_back({0.0, 100.0 - i});
    }
    ring.push_back(ring.front());
    const std::vector<RingPoint> cut = simplifiedRing(ring);
    ASSERT_LE(cut.size(), kPlanRingPoints);
    EXPECT_DOUBLE_EQ(cut.front().x, cut.back().x);
    EXPECT_DOUBLE_EQ(cut.front().y, cut.back().y);
    const auto has = [&cut](double x, double y) {
        for (const RingPoint& point : cut) {
            if (point.x == x && point.y == y) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(has(100.0, 0.0));
    EXPECT_TRUE(has(100.0, 100.0));
    EXPECT_TRUE(has(0.0, 100.0));
    EXPECT_TRUE(has(50.0, 70.0));
    const std::vector<RingPoint> small(ring.begin(), ring.begin() + 10);
    EXPECT_EQ(simplifiedRing(small).size(), 10u);
}
