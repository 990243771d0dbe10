#pragma once

#include <osg/Node>
#include <osg/ref_ptr>
#include <osg/Vec3>
#include <osg/Vec4>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// One feature of a vector file written through GDAL: geometry as WKT (empty
// text for a feature without geometry) and attribute values by field name.
struct TestFeature {
    std::string wkt;
    std::map<std::string, std::string> values;
};

// Writes a vector file with string fields `fields` through GDAL. `driver` is
// "ESRI Shapefile" or "GeoJSON"; `layerType` the OGR geometry type of the
// layer (wkbPolygon, wkbLineString, wkbPolygon25D, wkbUnknown, ...).
void writeVectorFile(const std::filesystem::path& path, const std::string& driver, int layerType,
                     const std::vector<std::string>& fields, const std::vector<TestFeature>& features);

// A solid axis-aligned box with one colour and normals.
osg::ref_ptr<osg::Node> makeBox(const osg::Vec3& min, const osg::Vec3& max, const osg::Vec4& colour);

// A flat quad at height z over [x0, x1] x [y0, y1], facing up.
osg::ref_ptr<osg::Node> makeGround(float x0, float y0, float x1, float y1, float z, const osg::Vec4& colour);

// Writes `node` with the osgb writer; throws on failure.
void writeNode(const std::filesystem::path& path, const osg::Node& node);

// A grey tile root holding one box from (x, y, 0) to (x + 10, y + 10, 5).
void writeTile(const std::filesystem::path& file, float x, float y);

}  // namespace testsupport
