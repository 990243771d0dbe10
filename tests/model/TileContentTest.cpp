// Reading one 3D Tiles content file (b3dm, cmpt, glb) into OSG geometry:
// positions placed by the axis rule and RTC_CENTER, composites, and damaged
// or unreadable files refused with a reason instead of a crash.
#include "model/OsgbSource.h"
#include "model/tiles3d/TileContent.h"
#include "support/TestSupport.h"

#include <osg/Geometry>
#include <osg/NodeVisitor>
#include <osg/Texture2D>
#include <osgDB/Registry>

#include <draco/compression/encode.h>
#include <draco/mesh/triangle_soup_mesh_builder.h>
#include <gtest/gtest.h>
#include <meshoptimizer.h>
#include <nlohmann/json.hpp>
#include <tiny_gltf.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstring>
#include <sstream>

using namespace vistrel;
using namespace testsupport;

namespace {

// Every vertex of a graph in its root's coordinates, and its geometries.
class VertexCollector : public osg::NodeVisitor {
public:
    VertexCollector() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::Geometry& geometry) override
    {
        geometries.push_back(&geometry);
        const osg::Matrixd toRoot = osg::computeLocalToWorld(getNodePath());
        const auto* vertices = static_cast<const osg::Vec3Array*>(geometry.getVertexArray());
        for (const osg::Vec3f& vertex : *vertices) {
            points.push_back(osg::Vec3d(vertex) * toRoot);
        }
    }
    std::vector<osg::Vec3d> points;
    std::vector<osg::Geometry*> geometries;
};

std::string imageBytes(int width, int height, const char* extension = "png")
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(width, height, 1, GL_RGB, GL_UNSIGNED_BYTE);
    std::memset(image->data(), 200, image->getTotalSizeInBytes());
    std::ostringstream out;
    osgDB::Registry::instance()->getReaderWriterForExtension(extension)->writeImage(*image, out);
    return out.str();
}

std::string pngBytes(int width, int height)
{
    return imageBytes(width, height);
}

void append(std::vector<unsigned char>& buffer, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    buffer.insert(buffer.end(), bytes, bytes + size);
    buffer.resize((buffer.size() + 3) / 4 * 4, 0);
}

int addView(tinygltf::Model& model, std::size_t offset, std::size_t length)
{
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = offset;
    view.byteLength = length;
    model.bufferViews.push_back(view);
    return int(model.bufferViews.size() - 1);
}

int addAccessor(tinygltf::Model& model, int view, int componentType, int type, std::size_t count)
{
    tinygltf::Accessor accessor;
    accessor.bufferView = view;
    accessor.componentType = componentType;
    accessor.type = type;
    accessor.count = count;
    model.accessors.push_back(accessor);
    return int(model.accessors.size() - 1);
}

// One textured triangle: glTF positions (0,0,0), (1,0,0), (1,2,3).
tinygltf::Model triangleModel(const std::string& image)
{
    tinygltf::Model model;
    const float positions[] = {0, 0, 0, 1, 0, 0, 1, 2, 3};
    const float uv[] = {0, 0, 1, 0, 1, 1};
    const std::uint16_t indices[] = {0, 1, 2};
    tinygltf::Buffer buffer;
    append(buffer.data, positions, sizeof(positions));
    append(buffer.data, uv, sizeof(uv));
    append(buffer.data, indices, sizeof(indices));
    const std::size_t imageAt = buffer.data.size();
    append(buffer.data, image.data(), image.size());
    model.buffers.push_back(buffer);
    const int p = addAccessor(model, addView(model, 0, 36), TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, 3);
    const int t = addAccessor(model, addView(model, 36, 24), TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC2, 3);
    const int i =
        addAccessor(model, addView(model, 60, 6), TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, TINYGLTF_TYPE_SCALAR, 3);
    tinygltf::Image gltfImage;
    gltfImage.bufferView = addView(model, imageAt, image.size());
    gltfImage.mimeType = "image/png";
    model.images.push_back(gltfImage);
    tinygltf::Texture texture;
    texture.source = 0;
    model.textures.push_back(texture);
    tinygltf::Material material;
    material.pbrMetallicRoughness.baseColorTexture.index = 0;
    model.materials.push_back(material);
    tinygltf::Primitive primitive;
    primitive.attributes = {{"POSITION", p}, {"TEXCOORD_0", t}};
    primitive.indices = i;
    primitive.material = 0;
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    tinygltf::Mesh mesh;
    mesh.primitives.push_back(primitive);
    model.meshes.push_back(mesh);
    tinygltf::Node node;
    node.mesh = 0;
    model.nodes.push_back(node);
    tinygltf::Scene scene;
    scene.nodes = {0};
    model.scenes.push_back(scene);
    model.defaultScene = 0;
    model.asset.version = "2.0";
    return model;
}

std::string glbOf(const tinygltf::Model& model)
{
    std::ostringstream out;
    tinygltf::TinyGLTF writer;
    writer.WriteGltfSceneToStream(&model, out, false, true);
    return out.str();
}

void putWord(std::string& bytes, std::size_t at, std::uint32_t value)
{
    std::memcpy(&bytes[at], &value, 4);
}

std::string padded(std::string text, std::size_t alignment)
{
    text.append((alignment - text.size() % alignment) % alignment, ' ');
    return text;
}

std::string b3dmOf(const std::string& glb, const std::string& featureJson, const std::string& featureBinary)
{
    const std::string json = padded(featureJson, 8);
    std::string bytes(28, '\0');
    std::memcpy(&bytes[0], "b3dm", 4);
    putWord(bytes, 4, 1);
    putWord(bytes, 8, std::uint32_t(28 + json.size() + featureBinary.size() + glb.size()));
    putWord(bytes, 12, std::uint32_t(json.size()));
    putWord(bytes, 16, std::uint32_t(featureBinary.size()));
    return bytes + json + featureBinary + glb;
}

std::string cmptOf(const std::vector<std::string>& tiles)
{
    std::string bytes(16, '\0');
    std::memcpy(&bytes[0], "cmpt", 4);
    putWord(bytes, 4, 1);
    putWord(bytes, 12, std::uint32_t(tiles.size()));
    for (const std::string& tile : tiles) {
        bytes += tile;
    }
    putWord(bytes, 8, std::uint32_t(bytes.size()));
    return bytes;
}

// A glb of the JSON and binary chunk given.
std::string glbFromJson(const nlohmann::json& document, std::vector<unsigned char> bin)
{
    const std::string json = padded(document.dump(), 4);
    bin.resize((bin.size() + 3) / 4 * 4, 0);
    std::string bytes(20, '\0');
    std::memcpy(&bytes[0], "glTF", 4);
    putWord(bytes, 4, 2);
    putWord(bytes, 8, std::uint32_t(28 + json.size() + bin.size()));
    putWord(bytes, 12, std::uint32_t(json.size()));
    putWord(bytes, 16, 0x4E4F534A);
    bytes += json;
    std::string chunk(8, '\0');
    putWord(chunk, 0, std::uint32_t(bin.size()));
    putWord(chunk, 4, 0x004E4942);
    return bytes + chunk + std::string(bin.begin(), bin.end());
}

// The triangle of triangleModel() as gltfpack-like tools write it: meshopt-
// compressed views over a fallback buffer without bytes, positions as
// unsigned shorts scaled by the node, normalised texture coordinates, a
// WebP texture.
std::string compressedTriangle()
{
    const std::uint16_t positions[] = {0, 0, 0, 0, 1, 0, 0, 0, 1, 2, 0, 0};  // x, y, z, padding
    const std::uint16_t uv[] = {0, 0, 65535, 0, 65535, 65535};
    const unsigned int indices[] = {0, 1, 2};
    std::vector<unsigned char> bin;
    nlohmann::json views = nlohmann::json::array();
    const auto addView = [&](std::size_t fallbackOffset, std::size_t stride, std::size_t count, const char* mode,
                             const std::vector<unsigned char>& encoded) {
        nlohmann::json view = {{"buffer", 1}, {"byteOffset", fallbackOffset}, {"byteLength", stride * count}};
        view["extensions"]["EXT_meshopt_compression"] = {
            {"buffer", 0},          {"byteOffset", bin.size()}, {"byteLength", encoded.size()},
            {"byteStride", stride}, {"count", count},           {"mode", mode}};
        if (std::string(mode) == "ATTRIBUTES") {
            view["byteStride"] = stride;
        }
        bin.insert(bin.end(), encoded.begin(), encoded.end());
        bin.resize((bin.size() + 3) / 4 * 4, 0);
        views.push_back(view);
    };
    std::vector<unsigned char> encoded(meshopt_encodeVertexBufferBound(3, 8));
    encoded.resize(meshopt_encodeVertexBuffer(encoded.data(), encoded.size(), positions, 3, 8));
    addView(0, 8, 3, "ATTRIBUTES", encoded);
    encoded.assign(meshopt_encodeVertexBufferBound(3, 4), 0);
    encoded.resize(meshopt_encodeVertexBuffer(encoded.data(), encoded.size(), uv, 3, 4));
    addView(24, 4, 3, "ATTRIBUTES", encoded);
    encoded.assign(meshopt_encodeIndexBufferBound(3, 3), 0);
    encoded.resize(meshopt_encodeIndexBuffer(encoded.data(), encoded.size(), indices, 3));
    addView(36, 2, 3, "TRIANGLES", encoded);

    std::vector<unsigned char> rgb(16 * 8 * 3, 90);
    std::uint8_t* webp = nullptr;
    const std::size_t webpSize = WebPEncodeLosslessRGB(rgb.data(), 16, 8, 16 * 3, &webp);
    views.push_back({{"buffer", 0}, {"byteOffset", bin.size()}, {"byteLength", webpSize}});
    bin.insert(bin.end(), webp, webp + webpSize);
    WebPFree(webp);

    nlohmann::json document = {
        {"asset", {{"version", "2.0"}}},
        {"extensionsUsed", {"EXT_meshopt_compression", "KHR_mesh_quantization", "EXT_texture_webp"}},
        {"extensionsRequired", {"EXT_meshopt_compression", "KHR_mesh_quantization", "EXT_texture_webp"}},
        {"buffers",
         {{{"byteLength", bin.size()}},
          {{"byteLength", 48}, {"extensions", {{"EXT_meshopt_compression", {{"fallback", true}}}}}}}},
        {"bufferViews", views},
        {"accessors",
         {{{"bufferView", 0}, {"componentType", 5123}, {"type", "VEC3"}, {"count", 3}},
          {{"bufferView", 1}, {"componentType", 5123}, {"normalized", true}, {"type", "VEC2"}, {"count", 3}},
          {{"bufferView", 2}, {"componentType", 5123}, {"type", "SCALAR"}, {"count", 3}}}},
        {"images", {{{"bufferView", 3}, {"mimeType", "image/webp"}}}},
        {"textures", {{{"extensions", {{"EXT_texture_webp", {{"source", 0}}}}}}}},
        {"materials", {{{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}}}},
        {"meshes",
         {{{"primitives", {{{"attributes", {{"POSITION", 0}, {"TEXCOORD_0", 1}}}, {"indices", 2}, {"material", 0}}}}}}},
        {"nodes", {{{"mesh", 0}, {"scale", {2.0, 2.0, 2.0}}}}},
        {"scenes", {{{"nodes", {0}}}}},
        {"scene", 0}};
    return glbFromJson(document, bin);
}

// The triangle of triangleModel() as a Draco-compressed, untextured glb.
std::string dracoTriangle()
{
    draco::TriangleSoupMeshBuilder builder;
    builder.Start(1);
    const int position = builder.AddAttribute(draco::GeometryAttribute::POSITION, 3, draco::DT_FLOAT32);
    const float corners[3][3] = {{0, 0, 0}, {1, 0, 0}, {1, 2, 3}};
    builder.SetAttributeValuesForFace(position, draco::FaceIndex(0), corners[0], corners[1], corners[2]);
    const std::unique_ptr<draco::Mesh> mesh = builder.Finalize();
    draco::Encoder encoder;
    draco::EncoderBuffer encoded;
    EXPECT_TRUE(encoder.EncodeMeshToBuffer(*mesh, &encoded).ok());
    const int id = int(mesh->attribute(position)->unique_id());
    nlohmann::json document = {
        {"asset", {{"version", "2.0"}}},
        {"extensionsUsed", {"KHR_draco_mesh_compression"}},
        {"extensionsRequired", {"KHR_draco_mesh_compression"}},
        {"buffers", {{{"byteLength", encoded.size()}}}},
        {"bufferViews", {{{"buffer", 0}, {"byteLength", encoded.size()}}}},
        {"accessors",
         {{{"componentType", 5126}, {"type", "VEC3"}, {"count", 3}},
          {{"componentType", 5123}, {"type", "SCALAR"}, {"count", 3}}}},
        {"materials", {{{"pbrMetallicRoughness", {{"baseColorFactor", {0.5, 0.25, 1.0, 1.0}}}}}}},
        {"meshes",
         {{{"primitives",
            {{{"attributes", {{"POSITION", 0}}},
              {"indices", 1},
              {"material", 0},
              {"extensions",
               {{"KHR_draco_mesh_compression", {{"bufferView", 0}, {"attributes", {{"POSITION", id}}}}}}}}}}}}},
        {"nodes", {{{"mesh", 0}}}},
        {"scenes", {{{"nodes", {0}}}}}};
    return glbFromJson(document, std::vector<unsigned char>(encoded.data(), encoded.data() + encoded.size()));
}

class TileContentTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { setupPluginPath(); }
};

TEST_F(TileContentTest, GlbTriangleIsTurnedZUpWithItsTexture)
{
    const std::string glb = glbOf(triangleModel(pngBytes(8, 4)));
    const DecodedContent content = decodeTileContent(glb, "tri.glb", ContentContext());
    ASSERT_TRUE(content.node) << content.reason;
    VertexCollector collected;
    content.node->accept(collected);
    ASSERT_EQ(collected.points.size(), 3u);
    // (x, y, z) -> (x, -z, y)
    EXPECT_NEAR((collected.points[2] - osg::Vec3d(1.0, -3.0, 2.0)).length(), 0.0, 1e-6);
    const osg::Geometry& geometry = *collected.geometries[0];
    const auto* texture = dynamic_cast<const osg::Texture2D*>(
        geometry.getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
    ASSERT_TRUE(texture && texture->getImage());
    EXPECT_EQ(texture->getImage()->s(), 8);
    EXPECT_EQ(texture->getImage()->t(), 4);
    // glTF v runs down the image, OSG t up.
    const auto* uv = static_cast<const osg::Vec2Array*>(geometry.getTexCoordArray(0));
    EXPECT_FLOAT_EQ((*uv)[2].y(), 0.0f);
    EXPECT_FLOAT_EQ((*uv)[0].y(), 1.0f);

    ContentContext zUp;
    zUp.yUp = false;
    VertexCollector unturned;
    decodeTileContent(glb, "tri.glb", zUp).node->accept(unturned);
    EXPECT_NEAR((unturned.points[2] - osg::Vec3d(1.0, 2.0, 3.0)).length(), 0.0, 1e-6);
}

TEST_F(TileContentTest, CompressedTrianglesDecode)
{
    const DecodedContent draco = decodeTileContent(dracoTriangle(), "draco.glb", ContentContext());
    ASSERT_TRUE(draco.node) << draco.reason;
    VertexCollector dracoPoints;
    draco.node->accept(dracoPoints);
    ASSERT_EQ(dracoPoints.points.size(), 3u);
    const auto far = std::find_if(dracoPoints.points.begin(), dracoPoints.points.end(),
                                  [](const osg::Vec3d& point) { return point.z() > 1.0; });
    ASSERT_NE(far, dracoPoints.points.end());
    EXPECT_NEAR((*far - osg::Vec3d(1.0, -3.0, 2.0)).length(), 0.0, 1e-6);
    const auto* colours = static_cast<const osg::Vec4Array*>(dracoPoints.geometries[0]->getColorArray());
    EXPECT_EQ((*colours)[0], osg::Vec4(0.5f, 0.25f, 1.0f, 1.0f));

    const DecodedContent content = decodeTileContent(compressedTriangle(), "packed.glb", ContentContext());
    ASSERT_TRUE(content.node) << content.reason;
    VertexCollector collected;
    content.node->accept(collected);
    ASSERT_EQ(collected.points.size(), 3u);
    // Quantized (1, 2, 0) scaled by 2, then turned z-up.
    EXPECT_NEAR((collected.points[2] - osg::Vec3d(2.0, 0.0, 4.0)).length(), 0.0, 1e-6);
    const osg::Geometry& geometry = *collected.geometries[0];
    const auto* uv = static_cast<const osg::Vec2Array*>(geometry.getTexCoordArray(0));
    ASSERT_TRUE(uv);
    EXPECT_NEAR((*uv)[1].x(), 1.0f, 1e-6);
    EXPECT_NEAR((*uv)[2].y(), 0.0f, 1e-6);
    const auto* texture = dynamic_cast<const osg::Texture2D*>(
        geometry.getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
    ASSERT_TRUE(texture && texture->getImage());
    EXPECT_EQ(texture->getImage()->s(), 16);
    EXPECT_EQ(texture->getImage()->data()[0], 90);
}

TEST_F(TileContentTest, SparseAccessorTextureTransformAndJpeg)
{
    tinygltf::Model model = triangleModel(imageBytes(8, 8, "jpeg"));
    // Vertex 2 replaced by (5, 6, 7).
    const std::uint16_t index = 2;
    const float value[] = {5.0f, 6.0f, 7.0f};
    std::vector<unsigned char>& buffer = model.buffers[0].data;
    const std::size_t indexAt = buffer.size();
    append(buffer, &index, sizeof(index));
    const std::size_t valueAt = buffer.size();
    append(buffer, value, sizeof(value));
    auto& sparse = model.accessors[0].sparse;
    sparse.isSparse = true;
    sparse.count = 1;
    sparse.indices = {0, addView(model, indexAt, 2), TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT};
    sparse.values = {addView(model, valueAt, 12), 0};
    std::map<std::string, tinygltf::Value> transform{
        {"offset", tinygltf::Value(tinygltf::Value::Array{tinygltf::Value(0.5), tinygltf::Value(0.0)})},
        {"scale", tinygltf::Value(tinygltf::Value::Array{tinygltf::Value(0.5), tinygltf::Value(0.5)})}};
    model.materials[0].pbrMetallicRoughness.baseColorTexture.extensions["KHR_texture_transform"] =
        tinygltf::Value(transform);
    const DecodedContent content = decodeTileContent(glbOf(model), "sparse.glb", ContentContext());
    ASSERT_TRUE(content.node) << content.reason;
    VertexCollector collected;
    content.node->accept(collected);
    EXPECT_NEAR((collected.points[2] - osg::Vec3d(5.0, -7.0, 6.0)).length(), 0.0, 1e-6);
    const osg::Geometry& geometry = *collected.geometries[0];
    // (1, 1) scaled by 0.5 and moved by (0.5, 0): (1, 0.5), t = 1 - 0.5.
    const auto* uv = static_cast<const osg::Vec2Array*>(geometry.getTexCoordArray(0));
    EXPECT_NEAR((*uv)[2].x(), 1.0f, 1e-6);
    EXPECT_NEAR((*uv)[2].y(), 0.5f, 1e-6);
    const auto* texture = dynamic_cast<const osg::Texture2D*>(
        geometry.getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
    ASSERT_TRUE(texture && texture->getImage());
    EXPECT_EQ(texture->getImage()->s(), 8);
}

TEST_F(TileContentTest, RtcCentresAndNestedComposites)
{
    const std::string glb = glbOf(triangleModel(pngBytes(4, 4)));
    const std::string inJson = b3dmOf(glb, R"({"BATCH_LENGTH":0,"RTC_CENTER":[100.5,200,300]})", "");
    const float centre[] = {-10.0f, 20.0f, 4.0f};
    const std::string inBinary = b3dmOf(glb, R"({"BATCH_LENGTH":0,"RTC_CENTER":{"byteOffset":0}})",
                                        std::string(reinterpret_cast<const char*>(centre), sizeof(centre)));
    tinygltf::Model centred = triangleModel(pngBytes(4, 4));
    std::map<std::string, tinygltf::Value> rtc{
        {"center",
         tinygltf::Value(tinygltf::Value::Array{tinygltf::Value(10.0), tinygltf::Value(20.0), tinygltf::Value(30.0)})}};
    centred.extensions["CESIUM_RTC"] = tinygltf::Value(rtc);
    const std::string composite = cmptOf({inJson, cmptOf({inBinary, glbOf(centred)})});
    const DecodedContent content = decodeTileContent(composite, "three.cmpt", ContentContext());
    ASSERT_TRUE(content.node) << content.reason;
    VertexCollector collected;
    content.node->accept(collected);
    ASSERT_EQ(collected.points.size(), 9u);
    EXPECT_NEAR((collected.points[2] - osg::Vec3d(101.5, 197.0, 302.0)).length(), 0.0, 1e-6);
    EXPECT_NEAR((collected.points[5] - osg::Vec3d(-9.0, 17.0, 6.0)).length(), 0.0, 1e-6);
    EXPECT_NEAR((collected.points[8] - osg::Vec3d(11.0, 17.0, 32.0)).length(), 0.0, 1e-6);
}

TEST_F(TileContentTest, DamagedOrUnreadableContentIsRefusedWithAReason)
{
    const std::string png = pngBytes(4, 4);
    std::vector<std::pair<std::string, std::string>> cases;  // name, bytes

    std::string longChunk = glbOf(triangleModel(png));
    const std::uint32_t jsonLength = [&] {
        std::uint32_t value = 0;
        std::memcpy(&value, &longChunk[12], 4);
        return value;
    }();
    putWord(longChunk, 20 + jsonLength, 1u << 30);
    cases.emplace_back("chunk longer than the file", longChunk);

    tinygltf::Model pastBuffer = triangleModel(png);
    pastBuffer.accessors[0].count = 1000;
    cases.emplace_back("accessor past its buffer", glbOf(pastBuffer));

    tinygltf::Model badIndex = triangleModel(png);
    badIndex.accessors[2].bufferView = 0;  // 1.0f read as two shorts: 0 and 16256
    badIndex.accessors[2].byteOffset = 12;
    cases.emplace_back("index beyond its vertices", glbOf(badIndex));

    tinygltf::Model draco = triangleModel(png);
    std::map<std::string, tinygltf::Value> attributes{{"POSITION", tinygltf::Value(0)}};
    std::map<std::string, tinygltf::Value> extension{{"bufferView", tinygltf::Value(0)},
                                                     {"attributes", tinygltf::Value(attributes)}};
    draco.meshes[0].primitives[0].extensions["KHR_draco_mesh_compression"] = tinygltf::Value(extension);
    draco.extensionsRequired = {"KHR_draco_mesh_compression"};
    cases.emplace_back("Draco buffer that does not decode", glbOf(draco));

    const std::string ktx2("\xABKTX 20\xBB\r\n\x1A\n" + std::string(64, '\0'));
    cases.emplace_back("KTX2 image", glbOf(triangleModel(ktx2)));

    tinygltf::Model unknown = triangleModel(png);
    unknown.extensionsRequired = {"KHR_unheard_of"};
    cases.emplace_back("required extension not read", glbOf(unknown));

    cases.emplace_back("cut b3dm", b3dmOf(glbOf(triangleModel(png)), "{}", "").substr(0, 100));
    cases.emplace_back("instanced models", "i3dm" + std::string(40, '\0'));

    for (const auto& [name, bytes] : cases) {
        const DecodedContent content = decodeTileContent(bytes, "bad.glb", ContentContext());
        EXPECT_FALSE(content.node) << name;
        EXPECT_EQ(content.reason.rfind("bad.glb: ", 0), 0u) << name << ": " << content.reason;
    }
    const auto notReadable = [&](const std::string& bytes) {
        return decodeTileContent(bytes, "bad.glb", ContentContext()).notReadable;
    };
    EXPECT_EQ(notReadable(cases[4].second), std::vector<std::string>{"image/ktx2"});
    EXPECT_EQ(notReadable(cases[5].second), std::vector<std::string>{"KHR_unheard_of"});
    EXPECT_EQ(notReadable(cases[7].second), std::vector<std::string>{"i3dm"});
}

TEST_F(TileContentTest, ExternalFilesAreReadOnlyInsideTheModelFolder)
{
    const TempDir dir;
    const fs::path model = dir.path() / "model";
    fs::create_directories(model / "sub");
    fs::create_directories(model / "tiles");
    const std::string png = pngBytes(4, 4);
    writeFile(model / "sub" / "t.png", png);
    writeFile(dir.path() / "outside.png", png);
    tinygltf::Model gltf = triangleModel(png);
    gltf.images[0].bufferView = -1;
    gltf.images[0].mimeType.clear();
    gltf.images[0].uri = "sub/t.png";
    ContentContext context;
    context.folder = model.string();
    const DecodedContent inside = decodeTileContent(glbOf(gltf), "in.glb", context);
    EXPECT_TRUE(inside.node) << inside.reason;
    gltf.images[0].uri = "../outside.png";
    const DecodedContent outside = decodeTileContent(glbOf(gltf), "out.glb", context);
    EXPECT_FALSE(outside.node);
    EXPECT_NE(outside.reason.find("outside the model"), std::string::npos) << outside.reason;
    // Content in a subfolder may name files elsewhere in the model.
    gltf.images[0].uri = "../sub/t.png";
    context.folder = (model / "tiles").string();
    context.modelFolder = model.string();
    const DecodedContent sibling = decodeTileContent(glbOf(gltf), "tiles/in.glb", context);
    EXPECT_TRUE(sibling.node) << sibling.reason;
}

TEST_F(TileContentTest, RealB3dmAndCmptDecode)
{
    const fs::path folder = fs::path(VISTREL_REAL_TILES_DIR) / ".." / "real-3dtiles" / "essaouira";
    if (!fs::is_directory(folder)) {
        GTEST_SKIP() << "the real 3D Tiles data is not on this machine: " << folder;
    }
    ContentContext context;
    context.folder = folder.string();
    int files = 0;
    int coloured = 0;
    std::size_t points = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".b3dm" && extension != ".cmpt") {
            continue;
        }
        const DecodedContent content = decodeTileContent(readFile(entry.path()), entry.path().string(), context);
        ASSERT_TRUE(content.node) << content.reason;
        VertexCollector collected;
        content.node->accept(collected);
        EXPECT_GE(collected.points.size(), 3u) << entry.path();
        points += collected.points.size();
        ++files;
        // These files carry no textures; their materials' colours are drawn.
        coloured += std::any_of(collected.geometries.begin(), collected.geometries.end(), [](osg::Geometry* geometry) {
            const auto* colours = dynamic_cast<const osg::Vec4Array*>(geometry->getColorArray());
            return colours && colours->size() == 1 && (*colours)[0] != osg::Vec4(1.0f, 1.0f, 1.0f, 1.0f);
        });
    }
    EXPECT_GT(files, 100);
    EXPECT_EQ(coloured, files);
    EXPECT_GT(points, std::size_t(files) * 100);
}

}  // namespace
