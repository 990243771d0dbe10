// truth.json agrees with the model as a ray test sees it: heights under the
// frames, the scene bound, and which sight lines of the occlusion test are
// blocked, on the coarse level alone and with every level paged in.
#include "CitySample.h"

#include <osg/Group>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

using namespace citytest;

namespace {

struct Scenes {
    osg::ref_ptr<osg::Node> coarse;  // root files only, as after loading
    osg::ref_ptr<osg::Node> fine;    // every level paged in
};

const Scenes& scenes()
{
    static const Scenes loaded{loadScene(sampleDir() / "city", false), loadScene(sampleDir() / "city", true)};
    return loaded;
}

std::vector<std::pair<const char*, osg::Node*>> bothLevels()
{
    return {{"coarse", scenes().coarse.get()}, {"fine", scenes().fine.get()}};
}

}  // namespace

TEST(SampleCityTruth, FrameListHasEveryRoleOnce)
{
    const nlohmann::json& frames = truth().at("frames");
    EXPECT_GE(frames.size(), 16u);
    EXPECT_LE(frames.size(), 24u);
    std::multiset<std::string> roles;
    int index = 0;
    for (const nlohmann::json& frame : frames) {
        EXPECT_EQ(frame.at("index").get<int>(), ++index);
        roles.insert(frame.at("role").get<std::string>());
    }
    for (const char* role : {"outside", "hole", "multipolygon", "courtyard", "occluded_house", "tower", "tall_narrow"}) {
        EXPECT_EQ(roles.count(role), 1u) << role;
    }
    EXPECT_EQ(roles.count("duplicate_name"), 2u);
    EXPECT_GE(roles.count("building"), 4u);
    EXPECT_GE(roles.count("parcel"), 1u);
}

TEST(SampleCityTruth, HeightsMatchVerticalRayTestsOnEveryLevel)
{
    for (const auto& [level, scene] : bothLevels()) {
        for (const nlohmann::json& frame : truth().at("frames")) {
            const Bounds b = frameBounds(frame);
            const double w = std::max(1.0, b.maxX - b.minX);
            const double h = std::max(1.0, b.maxY - b.minY);
            std::vector<double> all;
            for (int i = 0; i <= 4; ++i) {
                for (int j = 0; j <= 4; ++j) {
                    const std::vector<double> hits = verticalHits(*scene, b.minX + i * 0.25 * w, b.minY + j * 0.25 * h);
                    all.insert(all.end(), hits.begin(), hits.end());
                }
            }
            const std::string label = std::string(level) + " level, frame " + frame.at("index").dump() + " (" +
                                      frame.at("role").get<std::string>() + ")";
            if (!frame.at("has_model").get<bool>()) {
                EXPECT_TRUE(all.empty()) << label;
                EXPECT_TRUE(frame.at("ground_z").is_null()) << label;
                continue;
            }
            ASSERT_FALSE(all.empty()) << label;
            EXPECT_NEAR(*std::min_element(all.begin(), all.end()), frame.at("ground_z").get<double>(), 0.01) << label;
            EXPECT_NEAR(*std::max_element(all.begin(), all.end()), frame.at("roof_z").get<double>(), 0.01) << label;
        }
    }
}

TEST(SampleCityTruth, TowerIsTallAndHoleAndOutsideFramesAreSkipped)
{
    const nlohmann::json& tower = frameByRole("tower");
    EXPECT_GE(tower.at("roof_z").get<double>() - tower.at("ground_z").get<double>(), 60.0);
    for (const char* role : {"hole", "outside"}) {
        const nlohmann::json& frame = frameByRole(role);
        EXPECT_FALSE(frame.at("has_model").get<bool>()) << role;
        EXPECT_TRUE(frame.at("skip").get<bool>()) << role;
    }
    for (const nlohmann::json& frame : truth().at("frames")) {
        EXPECT_EQ(frame.at("skip").get<bool>(), !frame.at("has_model").get<bool>());
    }
}

TEST(SampleCityTruth, VerticalViewsOfHoleAndOutsideFramesShowNoModel)
{
    // Everything a padded 16:9 vertical view of the frame could show, and
    // more: a square of the view's longer side around the frame's centre.
    for (const char* role : {"hole", "outside"}) {
        const Bounds b = frameBounds(frameByRole(role));
        const double extent = std::max(b.maxX - b.minX, b.maxY - b.minY);
        const double half = 1.05 * extent * 16.0 / 9.0 * 0.5;
        const double cx = (b.minX + b.maxX) * 0.5;
        const double cy = (b.minY + b.maxY) * 0.5;
        int probes = 0;
        for (double x = cx - half; x <= cx + half; x += 0.5) {
            for (double y = cy - half; y <= cy + half; y += 0.5) {
                ASSERT_TRUE(verticalHits(*scenes().fine, x, y).empty()) << role << " frame sees the model at " << x
                                                                        << ", " << y;
                ++probes;
            }
        }
        EXPECT_GT(probes, 100);
    }
}

TEST(SampleCityTruth, SceneBoundIsTheBoundOfTheLoadedRoots)
{
    const osg::BoundingSphere& bound = scenes().coarse->getBound();
    const nlohmann::json& expected = truth().at("scene_bound");
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(bound.center()[k], expected.at("center")[k].get<double>(), 0.01) << k;
    }
    EXPECT_NEAR(bound.radius(), expected.at("radius").get<double>(), 0.01);

    osg::Group* roots = scenes().coarse->asGroup()->getChild(0)->asGroup();
    const osg::BoundingSphere& local = roots->getBound();
    const nlohmann::json& expectedLocal = truth().at("scene_bound_local");
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(local.center()[k], expectedLocal.at("center")[k].get<double>(), 0.01) << k;
    }
    EXPECT_NEAR(local.radius(), expectedLocal.at("radius").get<double>(), 0.01);
}

TEST(SampleCityTruth, OcclusionScoresMatchRayTestsOnEveryLevel)
{
    for (const auto& [level, scene] : bothLevels()) {
        for (const nlohmann::json& frame : truth().at("frames")) {
            if (!frame.at("has_model").get<bool>()) {
                EXPECT_TRUE(frame.at("occlusion").is_null());
                continue;
            }
            for (const auto& [side, occlusion] : frame.at("occlusion").items()) {
                const nlohmann::json& angles = occlusion.at("angles");
                ASSERT_EQ(angles.size(), 5u);
                for (std::size_t k = 0; k < angles.size(); ++k) {
                    const int blocked = blockedSightLines(*scene, frame, side, angles[k].get<double>());
                    EXPECT_NEAR(blocked / 5.0, occlusion.at("scores")[k].get<double>(), 1e-9)
                        << level << " level, frame " << frame.at("index") << " " << side << " at " << angles[k];
                }
            }
        }
    }
}

TEST(SampleCityTruth, OccludedHouseIsBlockedFromTheSouthOnlyAndFreeWhenSteeper)
{
    // The tower stands 33 m beyond the house's frame: past the part of the
    // sight lines the default step tests, within reach of the widest step.
    const nlohmann::json& house = frameByRole("occluded_house");
    for (const auto& [side, occlusion] : house.at("occlusion").items()) {
        EXPECT_EQ(occlusion.at("chosen_angle").get<double>(), 50.0) << side;
        EXPECT_EQ(occlusion.at("chosen_score").get<double>(), 0.0) << side;
    }
    EXPECT_EQ(house.at("occluded_at_first_angle"), nlohmann::json::array());
    for (const auto& [level, scene] : bothLevels()) {
        EXPECT_GT(blockedSightLines(*scene, house, "south", 50.0, 0.9), 0) << level;
        EXPECT_EQ(blockedSightLines(*scene, house, "south", 70.0, 0.9), 0) << level;
        for (const char* side : {"north", "east", "west"}) {
            EXPECT_EQ(blockedSightLines(*scene, house, side, 50.0, 0.9), 0) << level << " " << side;
        }
    }
}
