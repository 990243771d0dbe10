#include "support/GeoFixtures.h"

#include <gdal_priv.h>
#include <ogr_geometry.h>
#include <ogrsf_frmts.h>

#include <osg/Geode>
#include <osg/Geometry>
#include <osgDB/WriteFile>

#include <stdexcept>

namespace testsupport {

void writeVectorFile(const std::filesystem::path& path, const std::string& driverName, int layerType,
                     const std::vector<std::string>& fields, const std::vector<TestFeature>& features)
{
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName.c_str());
    if (!driver) {
        throw std::runtime_error("no GDAL driver " + driverName);
    }
    GDALDataset* dataset = driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    if (!dataset) {
        throw std::runtime_error("cannot create " + path.string());
    }
    char** options = nullptr;
    if (driverName == "ESRI Shapefile") {
        options = CSLSetNameValue(options, "ENCODING", "UTF-8");
    }
    OGRLayer* layer = dataset->CreateLayer(path.stem().c_str(), nullptr,
                                           static_cast<OGRwkbGeometryType>(layerType), options);
    CSLDestroy(options);
    if (!layer) {
        GDALClose(dataset);
        throw std::runtime_error("cannot create layer in " + path.string());
    }
    for (const auto& field : fields) {
        OGRFieldDefn defn(field.c_str(), OFTString);
        defn.SetWidth(64);
        layer->CreateField(&defn);
    }
    for (const auto& feature : features) {
        OGRFeature* f = OGRFeature::CreateFeature(layer->GetLayerDefn());
        for (const auto& [name, value] : feature.values) {
            f->SetField(name.c_str(), value.c_str());
        }
        if (!feature.wkt.empty()) {
            OGRGeometry* geometry = nullptr;
            if (OGRGeometryFactory::createFromWkt(feature.wkt.c_str(), nullptr, &geometry) != OGRERR_NONE) {
                OGRFeature::DestroyFeature(f);
                GDALClose(dataset);
                throw std::runtime_error("bad WKT " + feature.wkt);
            }
            f->SetGeometryDirectly(geometry);
        }
        if (layer->CreateFeature(f) != OGRERR_NONE) {
            OGRFeature::DestroyFeature(f);
            GDALClose(dataset);
            throw std::runtime_error("cannot write a feature to " + path.string());
        }
        OGRFeature::DestroyFeature(f);
    }
    GDALClose(dataset);
}

namespace {

void addQuad(osg::Vec3Array& vertices, osg::Vec3Array& normals, const osg::Vec3& a, const osg::Vec3& b,
             const osg::Vec3& c, const osg::Vec3& d, const osg::Vec3& normal)
{
    for (const auto& v : {a, b, c, a, c, d}) {
        vertices.push_back(v);
        normals.push_back(normal);
    }
}

osg::ref_ptr<osg::Node> geodeOf(osg::Vec3Array* vertices, osg::Vec3Array* normals, const osg::Vec4& colour)
{
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices);
    geometry->setNormalArray(normals, osg::Array::BIND_PER_VERTEX);
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
    colours->push_back(colour);
    geometry->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(vertices->size())));
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry.get());
    return geode;
}

}  // namespace

osg::ref_ptr<osg::Node> makeBox(const osg::Vec3& lo, const osg::Vec3& hi, const osg::Vec4& colour)
{
    osg::ref_ptr<osg::Vec3Array> v = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec3Array> n = new osg::Vec3Array;
    const osg::Vec3 p000(lo.x(), lo.y(), lo.z()), p100(hi.x(), lo.y(), lo.z()), p110(hi.x(), hi.y(), lo.z()),
        p010(lo.x(), hi.y(), lo.z()), p001(lo.x(), lo.y(), hi.z()), p101(hi.x(), lo.y(), hi.z()),
        p111(hi.x(), hi.y(), hi.z()), p011(lo.x(), hi.y(), hi.z());
    addQuad(*v, *n, p001, p101, p111, p011, osg::Vec3(0, 0, 1));   // top
    addQuad(*v, *n, p000, p010, p110, p100, osg::Vec3(0, 0, -1));  // bottom
    addQuad(*v, *n, p000, p100, p101, p001, osg::Vec3(0, -1, 0));  // south
    addQuad(*v, *n, p110, p010, p011, p111, osg::Vec3(0, 1, 0));   // north
    addQuad(*v, *n, p100, p110, p111, p101, osg::Vec3(1, 0, 0));   // east
    addQuad(*v, *n, p010, p000, p001, p011, osg::Vec3(-1, 0, 0));  // west
    return geodeOf(v.get(), n.get(), colour);
}

osg::ref_ptr<osg::Node> makeGround(float x0, float y0, float x1, float y1, float z, const osg::Vec4& colour)
{
    osg::ref_ptr<osg::Vec3Array> v = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec3Array> n = new osg::Vec3Array;
    addQuad(*v, *n, osg::Vec3(x0, y0, z), osg::Vec3(x1, y0, z), osg::Vec3(x1, y1, z), osg::Vec3(x0, y1, z),
            osg::Vec3(0, 0, 1));
    return geodeOf(v.get(), n.get(), colour);
}

void writeNode(const std::filesystem::path& path, const osg::Node& node)
{
    std::filesystem::create_directories(path.parent_path());
    if (!osgDB::writeNodeFile(node, path.string())) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void writeTile(const std::filesystem::path& file, float x, float y)
{
    writeNode(file, *makeBox(osg::Vec3(x, y, 0), osg::Vec3(x + 10, y + 10, 5), osg::Vec4(0.5f, 0.5f, 0.5f, 1.0f)));
}

}  // namespace testsupport
