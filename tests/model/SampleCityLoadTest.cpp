// The scene loader and height sampler on the generated sample city, checked
// against its manifest.
#include "model/FrameHeights.h"
#include "vector/PolygonFrameReader.h"
#include "model/SceneLoader.h"
#include "support/SampleData.h"
#include "support/TestSupport.h"

#include <osg/MatrixTransform>

#include <gtest/gtest.h>

using namespace vistrel;
using namespace testsupport;

namespace {

void expectBound(const osg::Node& scene, const nlohmann::json& expected)
{
    const osg::BoundingSphere& bound = scene.getBound();
    EXPECT_NEAR(bound.center().x(), expected.at("center")[0].get<double>(), 0.05);
    EXPECT_NEAR(bound.center().y(), expected.at("center")[1].get<double>(), 0.05);
    EXPECT_NEAR(bound.center().z(), expected.at("center")[2].get<double>(), 0.05);
    EXPECT_NEAR(bound.radius(), expected.at("radius").get<double>(), 0.05);
}

std::string cityPath(const std::string& relative)
{
    return (sampleDir() / relative).string();
}

}  // namespace

TEST(SampleCityLoad, ProjectFolderAndDataFolderAreTranslatedByMetadata)
{
    const int tiles = static_cast<int>(truth().at("tiles").size());
    for (const std::string relative : {"city", "city/Data"}) {
        CapturedOutput log;
        osg::ref_ptr<osg::Node> scene = loadScene(cityPath(relative));
        ASSERT_TRUE(scene.valid()) << relative;
        EXPECT_NE(dynamic_cast<osg::MatrixTransform*>(scene.get()), nullptr);
        expectBound(*scene, truth().at("scene_bound"));
        EXPECT_EQ(countOccurrences(log.text(), "[INFO] Loading OSGB/scene: "), tiles) << relative;
        EXPECT_NE(log.text().find("[INFO] Read metadata model origin from " + cityPath("city/metadata.xml") +
                                  ": x=512000, y=3390000, z=0, srs=EPSG:4547\n"),
                  std::string::npos)
            << log.text();
    }
}

TEST(SampleCityLoad, DsmVariantTakesItsOriginFromDataDsm)
{
    CapturedOutput log;
    osg::ref_ptr<osg::Node> scene = loadScene(cityPath("city_dsm"));
    ASSERT_TRUE(scene.valid());
    expectBound(*scene, truth().at("scene_bound"));
    EXPECT_NE(log.text().find("[INFO] Read DSM model origin from " + cityPath("city_dsm/Data.dsm") +
                              ": x=512000, y=3390000\n"),
              std::string::npos)
        << log.text();
}

TEST(SampleCityLoad, WithoutOriginFilesTheSceneStaysLocal)
{
    TempDir dir("city");
    fs::copy(sampleDir() / "city" / "Data", dir / "Data", fs::copy_options::recursive);
    CapturedOutput log;
    osg::ref_ptr<osg::Node> scene = loadScene((dir / "Data").string());
    ASSERT_TRUE(scene.valid());
    EXPECT_EQ(dynamic_cast<osg::MatrixTransform*>(scene.get()), nullptr);
    expectBound(*scene, truth().at("scene_bound_local"));
    EXPECT_EQ(log.text().find("model origin"), std::string::npos);

    // One root file on its own: no origin file beside it or one folder up.
    const std::string root = (sampleDir() / truth().at("tiles")[0].at("root").get<std::string>()).string();
    CapturedOutput single;
    osg::ref_ptr<osg::Node> tile = loadScene(root);
    ASSERT_TRUE(tile.valid());
    EXPECT_EQ(countOccurrences(single.text(), "Loading OSGB/scene: "), 1);
    EXPECT_EQ(dynamic_cast<osg::MatrixTransform*>(tile.get()), nullptr);
    const double localSize = 3 * truth().at("tile_size").get<double>();
    EXPECT_GT(tile->getBound().center().x(), 0.0);
    EXPECT_LT(tile->getBound().center().x(), localSize);
}

TEST(SampleCityLoad, SampledHeightsMatchTheManifest)
{
    osg::ref_ptr<osg::Node> scene = loadScene(cityPath("city"));
    ASSERT_TRUE(scene.valid());
    CapturedOutput log;
    std::vector<PolygonFrame> frames =
        readPolygonFrames(sampleParcels());
    const auto& expected = truth().at("frames");
    ASSERT_EQ(frames.size(), expected.size());
    resetFrameHeights(frames, scene.get());
    checkFramesNearScene(frames, scene.get());
    sampleFrameHeights(scene.get(), frames);

    const double resetZ = scene->getBound().center().z();
    int sampled = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto& truthFrame = expected[i];
        EXPECT_EQ(frames[i].name, truthFrame.at("name").get<std::string>());
        EXPECT_NEAR(frames[i].minX, truthFrame.at("bounds")[0].get<double>(), 1e-6);
        if (truthFrame.at("roof_z").is_null()) {
            EXPECT_DOUBLE_EQ(frames[i].centerZ, resetZ) << truthFrame.at("role");
            EXPECT_DOUBLE_EQ(frames[i].maxZ, resetZ);
            continue;
        }
        ++sampled;
        EXPECT_NEAR(frames[i].minZ, truthFrame.at("ground_z").get<double>(), 0.5) << truthFrame.at("role");
        EXPECT_NEAR(frames[i].maxZ, truthFrame.at("roof_z").get<double>(), 0.5) << truthFrame.at("role");
    }
    EXPECT_NE(log.text().find("Applying SHP coordinate offset: x=-38000000, y=0 (Gauss zone prefix 38000000)"),
              std::string::npos);
    EXPECT_NE(log.text().find("[INFO] SHP XY already near scene. Bounds="), std::string::npos);
    EXPECT_NE(log.text().find("Sampled model heights for " + std::to_string(sampled) + "/" +
                              std::to_string(frames.size()) + " frames. Z range=("),
              std::string::npos)
        << log.text();
}
