// The sample city's 3D Tiles variants against the ENU city they are written
// from: the same tiles and levels switching at the same picture scales, the
// frame at the same place on the ellipsoid, and content whose every
// encoding gives back the ENU city's vertices inside the tiles' boxes.
#include "CitySample.h"
#include "support/TestSupport.h"

#include <draco/compression/decode.h>
#include <gtest/gtest.h>
#include <meshoptimizer.h>
#include <ogr_spatialref.h>
#include <osg/ComputeBoundsVisitor>
#include <osg/PagedLOD>
#include <osgDB/ReadFile>
#include <tiny_gltf.h>

#include <cstring>
#include <memory>
#include <regex>

using namespace citytest;

namespace {

const char* const kVariants[] = {"city_3dtiles", "city_3dtiles_draco", "city_3dtiles_meshopt", "city_3dtiles_webp"};

nlohmann::json readTileset(const std::string& variant)
{
    return nlohmann::json::parse(testsupport::readFile(sampleDir() / variant / "tileset.json"));
}

osg::Vec3d srsOriginOfEnuCity()
{
    const std::string xml = testsupport::readFile(sampleDir() / "city_enu" / "metadata.xml");
    std::smatch m;
    if (!std::regex_search(xml, m, std::regex("<SRSOrigin>([^,]+),([^,]+),([^<]+)</SRSOrigin>"))) {
        throw std::runtime_error("city_enu/metadata.xml has no SRSOrigin");
    }
    return {std::stod(m[1]), std::stod(m[2]), std::stod(m[3])};
}

osg::BoundingBoxd volumeBox(const nlohmann::json& tile)
{
    const std::vector<double> b = tile.at("boundingVolume").at("box").get<std::vector<double>>();
    const osg::Vec3d half(std::fabs(b[3]) + std::fabs(b[6]) + std::fabs(b[9]),
                          std::fabs(b[4]) + std::fabs(b[7]) + std::fabs(b[10]),
                          std::fabs(b[5]) + std::fabs(b[8]) + std::fabs(b[11]));
    const osg::Vec3d centre(b[0], b[1], b[2]);
    return {centre - half, centre + half};
}

osg::BoundingBoxd boundsOf(osg::Node& node, const osg::Vec3d& offset)
{
    osg::ComputeBoundsVisitor visitor;
    node.accept(visitor);
    const osg::BoundingBox& box = visitor.getBoundingBox();
    return {osg::Vec3d(box._min) + offset, osg::Vec3d(box._max) + offset};
}

struct Glb {
    nlohmann::json json;
    std::string bin;
};

Glb splitGlb(const std::string& glb)
{
    std::uint32_t jsonLength = 0, binLength = 0;
    std::memcpy(&jsonLength, glb.data() + 12, 4);
    std::memcpy(&binLength, glb.data() + 20 + jsonLength, 4);
    return {nlohmann::json::parse(glb.substr(20, jsonLength)), glb.substr(28 + jsonLength, binLength)};
}

bool tinygltfParses(const std::string& glb, std::string& error)
{
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader([](tinygltf::Image*, const int, std::string*, std::string*, int, int, const unsigned char*,
                             int, void*) { return true; },
                          nullptr);
    tinygltf::Model model;
    std::string warning;
    return loader.LoadBinaryFromMemory(&model, &error, &warning, reinterpret_cast<const unsigned char*>(glb.data()),
                                       static_cast<unsigned>(glb.size()));
}

std::vector<float> dracoPositions(const Glb& glb, const nlohmann::json& extension)
{
    const nlohmann::json& view = glb.json.at("bufferViews").at(extension.at("bufferView").get<int>());
    draco::DecoderBuffer buffer;
    buffer.Init(glb.bin.data() + view.value("byteOffset", 0), view.at("byteLength").get<std::size_t>());
    draco::Decoder decoder;
    auto mesh = decoder.DecodeMeshFromBuffer(&buffer);
    EXPECT_TRUE(mesh.ok());
    std::vector<float> values;
    if (!mesh.ok()) {
        return values;
    }
    const draco::PointAttribute* position =
        mesh.value()->GetAttributeByUniqueId(extension.at("attributes").at("POSITION").get<int>());
    for (draco::PointIndex p(0); p < mesh.value()->num_points(); ++p) {
        float v[3];
        position->GetMappedValue(p, v);
        values.insert(values.end(), v, v + 3);
    }
    return values;
}

// POSITION as floats: plain or normalized 16-bit, meshopt-decoded where the
// buffer view says so.
std::vector<float> accessorPositions(const Glb& glb, int index)
{
    const nlohmann::json& accessor = glb.json.at("accessors").at(index);
    const nlohmann::json& view = glb.json.at("bufferViews").at(accessor.at("bufferView").get<int>());
    const std::size_t count = accessor.at("count");
    const std::size_t stride = view.value("byteStride", 12);
    std::string bytes(count * stride, '\0');
    if (view.contains("extensions")) {
        const nlohmann::json& meshopt = view.at("extensions").at("EXT_meshopt_compression");
        EXPECT_EQ(meshopt.at("byteStride").get<std::size_t>(), stride);
        EXPECT_EQ(meshopt_decodeVertexBuffer(bytes.data(), count, stride,
                                             reinterpret_cast<const unsigned char*>(glb.bin.data()) +
                                                 meshopt.at("byteOffset").get<std::size_t>(),
                                             meshopt.at("byteLength").get<std::size_t>()),
                  0);
    } else {
        bytes = glb.bin.substr(view.value("byteOffset", 0), count * stride);
    }
    const bool quantized = accessor.at("componentType") == TINYGLTF_COMPONENT_TYPE_SHORT;
    EXPECT_TRUE(quantized ? accessor.value("normalized", false)
                          : accessor.at("componentType") == TINYGLTF_COMPONENT_TYPE_FLOAT);
    std::vector<float> values;
    for (std::size_t k = 0; k < count * 3; ++k) {
        const char* at = bytes.data() + (k / 3) * stride + (k % 3) * (quantized ? 2 : 4);
        std::int16_t q = 0;
        float f = 0;
        std::memcpy(quantized ? static_cast<void*>(&q) : static_cast<void*>(&f), at, quantized ? 2 : 4);
        values.push_back(quantized ? std::max(q / 32767.0f, -1.0f) : f);
    }
    return values;
}

// The bounds of a content file's vertices in the tileset's (z-up) frame.
osg::BoundingBoxd contentBounds(const Glb& glb)
{
    const nlohmann::json& node = glb.json.at("nodes").at(0);
    const std::vector<double> t = node.at("translation").get<std::vector<double>>();
    const double scale = node.contains("scale") ? node.at("scale")[0].get<double>() : 1.0;
    osg::BoundingBoxd box;
    for (const nlohmann::json& primitive : glb.json.at("meshes").at(node.at("mesh").get<int>()).at("primitives")) {
        const nlohmann::json* draco =
            primitive.contains("extensions") ? &primitive.at("extensions").at("KHR_draco_mesh_compression") : nullptr;
        const std::vector<float> positions =
            draco ? dracoPositions(glb, *draco) : accessorPositions(glb, primitive.at("attributes").at("POSITION"));
        for (std::size_t k = 0; k + 2 < positions.size(); k += 3) {
            const osg::Vec3d yUp =
                osg::Vec3d(t[0], t[1], t[2]) + osg::Vec3d(positions[k], positions[k + 1], positions[k + 2]) * scale;
            box.expandBy(yUp.x(), -yUp.z(), yUp.y());
        }
    }
    return box;
}

bool encloses(const osg::BoundingBoxd& outer, const osg::BoundingBoxd& inner)
{
    return outer.contains(inner._min) && outer.contains(inner._max);
}

void expectSameBounds(const osg::BoundingBoxd& a, const osg::BoundingBoxd& b, const std::string& what)
{
    // Draco drops the vertices no triangle uses (a few centimetres inside
    // a bound at most); nothing else moves by more than a millimetre.
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_NEAR(a._min[axis], b._min[axis], 0.05) << what;
        EXPECT_NEAR(a._max[axis], b._max[axis], 0.05) << what;
    }
}

}  // namespace

TEST(SampleCity3dTiles, EveryVariantHasTheOsgbTilesAndLevelsSwitchingAtTheSameScales)
{
    const nlohmann::json tileset = readTileset("city_3dtiles");
    for (const char* variant : kVariants) {
        EXPECT_EQ(readTileset(variant), tileset) << variant << ": the same tiles, only the content differs";
    }
    EXPECT_EQ(tileset.at("asset").at("version"), "1.1");
    const nlohmann::json& root = tileset.at("root");
    EXPECT_EQ(root.at("refine"), "REPLACE");
    ASSERT_EQ(root.at("children").size(), truth().at("tiles").size());
    for (const nlohmann::json& tile : root.at("children")) {
        const std::string uri = tile.at("content").at("uri");
        const fs::path osgbFolder = sampleDir() / "city_enu" / fs::path(uri).parent_path();
        const std::string name = osgbFolder.filename().string();
        osg::ref_ptr<osg::Node> rootFile = osgDB::readNodeFile((osgbFolder / (name + ".osgb")).string());
        auto* rootLod = dynamic_cast<osg::PagedLOD*>(rootFile.get());
        ASSERT_TRUE(rootLod) << name;
        // In an orthographic picture a PagedLOD pages in its finer file
        // where its sphere's diameter spans the range's pixels.
        EXPECT_NEAR(tile.at("geometricError").get<double>(),
                    2.0 * rootLod->getRadius() / rootLod->getRangeList()[1].first, 1e-6)
            << name;
        osg::ref_ptr<osg::Node> middleFile = osgDB::readNodeFile((osgbFolder / rootLod->getFileName(1)).string());
        ASSERT_TRUE(middleFile && middleFile->asGroup()) << name;
        ASSERT_EQ(tile.at("children").size(), middleFile->asGroup()->getNumChildren()) << name;
        for (unsigned q = 0; q < middleFile->asGroup()->getNumChildren(); ++q) {
            const auto* lod = dynamic_cast<const osg::PagedLOD*>(middleFile->asGroup()->getChild(q));
            const nlohmann::json& quadrant = tile.at("children")[q];
            ASSERT_TRUE(lod) << name;
            EXPECT_NEAR(quadrant.at("geometricError").get<double>(),
                        2.0 * lod->getRadius() / lod->getRangeList()[1].first, 1e-6)
                << name << " quadrant " << q;
            ASSERT_EQ(quadrant.at("children").size(), 1u);
            EXPECT_EQ(quadrant.at("children")[0].at("geometricError"), 0.0);
            EXPECT_FALSE(quadrant.at("children")[0].contains("children"));
        }
    }
}

TEST(SampleCity3dTiles, RootTransformTakesTheEnuCityToWhereTheProjectedCityIs)
{
    // The projected city's origin, through WGS 84 geocentric, and the ENU
    // city's image of it (its SRSOrigin) through the root transform.
    const std::vector<double> m = readTileset("city_3dtiles").at("root").at("transform").get<std::vector<double>>();
    ASSERT_EQ(m.size(), 16u);
    const osg::Vec3d enu = srsOriginOfEnuCity();
    const osg::Vec3d ecef(m[0] * enu.x() + m[4] * enu.y() + m[8] * enu.z() + m[12],
                          m[1] * enu.x() + m[5] * enu.y() + m[9] * enu.z() + m[13],
                          m[2] * enu.x() + m[6] * enu.y() + m[10] * enu.z() + m[14]);
    OGRSpatialReference projected, geocentric;
    ASSERT_EQ(projected.SetFromUserInput(truth().at("srs").get<std::string>().c_str()), OGRERR_NONE);
    ASSERT_EQ(geocentric.importFromEPSG(4978), OGRERR_NONE);
    projected.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::unique_ptr<OGRCoordinateTransformation> toEcef(OGRCreateCoordinateTransformation(&projected, &geocentric));
    ASSERT_TRUE(toEcef);
    const nlohmann::json& origin = truth().at("origin");
    double x = origin.at("x"), y = origin.at("y"), z = origin.at("z");
    ASSERT_TRUE(toEcef->Transform(1, &x, &y, &z));
    EXPECT_LT((ecef - osg::Vec3d(x, y, z)).length(), 0.01);
    // No scale or shear: the frame's axes are unit length and at right angles.
    const osg::Vec3d east(m[0], m[1], m[2]), north(m[4], m[5], m[6]), up(m[8], m[9], m[10]);
    EXPECT_NEAR((east ^ north) * up, 1.0, 1e-9);
}

TEST(SampleCity3dTiles, EveryEncodingGivesBackTheEnuCitysVerticesInsideTheTilesBoxes)
{
    const osg::Vec3d srsOrigin = srsOriginOfEnuCity();
    const std::map<std::string, std::vector<std::string>> extensions = {
        {"city_3dtiles", {}},
        {"city_3dtiles_draco", {"KHR_draco_mesh_compression"}},
        {"city_3dtiles_meshopt", {"EXT_meshopt_compression", "KHR_mesh_quantization"}},
        {"city_3dtiles_webp", {"EXT_texture_webp"}}};
    // One tile's levels, against the ENU city's geometry of the same levels.
    const nlohmann::json tileset = readTileset("city_3dtiles");
    const nlohmann::json& tile = tileset.at("root").at("children")[0];
    const fs::path folder =
        sampleDir() / "city_enu" / fs::path(tile.at("content").at("uri").get<std::string>()).parent_path();
    const std::string name = folder.filename().string();
    osg::ref_ptr<osg::Node> middle = osgDB::readNodeFile((folder / (name + "_L18_0.osgb")).string());
    ASSERT_TRUE(middle && middle->asGroup());
    std::vector<std::pair<const nlohmann::json*, osg::ref_ptr<osg::Node>>> levels;
    osg::ref_ptr<osg::Node> coarse = osgDB::readNodeFile((folder / (name + ".osgb")).string());
    ASSERT_TRUE(coarse && coarse->asGroup());
    levels.emplace_back(&tile, coarse->asGroup()->getChild(0));
    for (unsigned q = 0; q < 4; ++q) {
        const nlohmann::json& quadrant = tile.at("children")[q];
        levels.emplace_back(&quadrant, middle->asGroup()->getChild(q)->asGroup()->getChild(0));
        osg::ref_ptr<osg::Node> fine =
            osgDB::readNodeFile((folder / (name + "_L19_0" + std::to_string(q) + ".osgb")).string());
        ASSERT_TRUE(fine);
        levels.emplace_back(&quadrant.at("children")[0], fine);
    }
    for (const auto& [variant, required] : extensions) {
        for (const auto& [level, osgb] : levels) {
            const std::string uri = level->at("content").at("uri");
            const std::string bytes = testsupport::readFile(sampleDir() / variant / uri);
            const Glb glb = splitGlb(bytes);
            EXPECT_EQ(glb.json.value("extensionsRequired", std::vector<std::string>()), required)
                << variant << "/" << uri;
            // tinygltf 2.7 refuses index accessors without a buffer view,
            // which Draco-compressed primitives have by design.
            std::string error;
            EXPECT_TRUE(variant == "city_3dtiles_draco" || tinygltfParses(bytes, error))
                << variant << "/" << uri << ": " << error;
            const osg::BoundingBoxd content = contentBounds(glb);
            EXPECT_TRUE(encloses(volumeBox(*level), content)) << variant << "/" << uri;
            expectSameBounds(content, boundsOf(*osgb, srsOrigin), variant + "/" + uri);
        }
    }
}
