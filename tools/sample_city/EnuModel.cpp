#include "EnuModel.h"

#include <ogr_spatialref.h>

#include <osg/Geometry>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <stdexcept>

namespace samplecity {

namespace {

struct TransformDeleter {
    void operator()(OGRCoordinateTransformation* ct) const { OGRCoordinateTransformation::DestroyCT(ct); }
};
using TransformPtr = std::unique_ptr<OGRCoordinateTransformation, TransformDeleter>;

OGRSpatialReference gisOrdered(const std::string& text)
{
    OGRSpatialReference srs;
    if (srs.SetFromUserInput(text.c_str()) != OGRERR_NONE) {
        throw std::runtime_error("cannot set up " + text);
    }
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

TransformPtr makeTransform(const std::string& from, const std::string& to)
{
    const OGRSpatialReference a = gisOrdered(from);
    const OGRSpatialReference b = gisOrdered(to);
    TransformPtr ct(OGRCreateCoordinateTransformation(&a, &b));
    if (!ct) {
        throw std::runtime_error("cannot transform " + from + " to " + to);
    }
    return ct;
}

// Projected city coordinates (local + origin, z as ellipsoidal height) to ENU.
struct ToEnu {
    TransformPtr toGeocentric;
    TransformPtr topocentric;

    ToEnu(const CityLayout& city, double lat, double lon)
        : toGeocentric(makeTransform(city.srs, "EPSG:4978"))
    {
        char operation[200];
        std::snprintf(operation, sizeof operation, "+proj=topocentric +ellps=WGS84 +lat_0=%.10g +lon_0=%.10g +h_0=0",
                      lat, lon);
        OGRCoordinateTransformationOptions options;
        options.SetCoordinateOperation(operation, false);
        topocentric.reset(OGRCreateCoordinateTransformation(nullptr, nullptr, options));
        if (!topocentric) {
            throw std::runtime_error(std::string("cannot set up ") + operation);
        }
    }
    std::array<double, 3> operator()(double x, double y, double z) const
    {
        if (!toGeocentric->Transform(1, &x, &y, &z) || !topocentric->Transform(1, &x, &y, &z)) {
            throw std::runtime_error("cannot move a point into the ENU frame");
        }
        return {x, y, z};
    }
};

double roundTo(double value, double step) { return std::round(value / step) * step; }

void moveGeode(osg::Geode& geode, const CityLayout& city, const ToEnu& toEnu, const EnuFrame& frame)
{
    std::set<const osg::Array*> moved;  // an array two geometries share moves once
    for (unsigned i = 0; i < geode.getNumDrawables(); ++i) {
        osg::Geometry* geometry = geode.getDrawable(i)->asGeometry();
        osg::Vec3Array* vertices = geometry ? dynamic_cast<osg::Vec3Array*>(geometry->getVertexArray()) : nullptr;
        if (!vertices || !moved.insert(vertices).second) {
            continue;
        }
        for (osg::Vec3& v : *vertices) {
            const std::array<double, 3> enu =
                toEnu(city.origin[0] + v.x(), city.origin[1] + v.y(), city.origin[2] + v.z());
            v.set(static_cast<float>(enu[0] - frame.srsOrigin[0]), static_cast<float>(enu[1] - frame.srsOrigin[1]),
                  static_cast<float>(enu[2] - frame.srsOrigin[2]));
        }
        vertices->dirty();
        geometry->dirtyBound();
    }
    geode.dirtyBound();
}

}  // namespace

EnuFrame chooseEnuFrame(const CityLayout& city)
{
    // A point inside the city, a little off its centre.
    const double x = city.origin[0] + city.tilesX * city.tileSize * 0.55;
    const double y = city.origin[1] + city.tilesY * city.tileSize * 0.45;
    const TransformPtr toGeographic = makeTransform(city.srs, "EPSG:4326");
    double lon = x;
    double lat = y;
    if (!toGeographic->Transform(1, &lon, &lat)) {
        throw std::runtime_error("cannot find the tangent point");
    }
    EnuFrame frame;
    frame.lat = roundTo(lat, 1e-9);
    frame.lon = roundTo(lon, 1e-9);
    const std::array<double, 3> origin = ToEnu(city, frame.lat, frame.lon)(city.origin[0], city.origin[1], city.origin[2]);
    frame.srsOrigin = {roundTo(origin[0], 1e-3), roundTo(origin[1], 1e-3), roundTo(origin[2], 1e-3)};
    return frame;
}

void moveTileToEnu(TileModel& tile, const CityLayout& city, const EnuFrame& frame)
{
    const ToEnu toEnu(city, frame.lat, frame.lon);
    moveGeode(*tile.coarse, city, toEnu, frame);
    for (int q = 0; q < 4; ++q) {
        moveGeode(*tile.middle[q], city, toEnu, frame);
        moveGeode(*tile.fine[q], city, toEnu, frame);
    }
}

void writeEnuMetadataXml(const EnuFrame& frame, const std::filesystem::path& path)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ModelMetadata version=\"1\">\n"
                  "\t<SRS>ENU:%.9f,%.9f</SRS>\n\t<SRSOrigin>%.3f,%.3f,%.3f</SRSOrigin>\n"
                  "\t<Texture>\n\t\t<ColorSource>Visible</ColorSource>\n\t</Texture>\n</ModelMetadata>\n",
                  frame.lat, frame.lon, frame.srsOrigin[0], frame.srsOrigin[1], frame.srsOrigin[2]);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace samplecity
