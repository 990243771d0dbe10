#include "ShapefileWriter.h"

#include <cpl_string.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <memory>
#include <stdexcept>

namespace samplecity {

namespace {

// The attribute table records this as its last update, so two runs write
// the same bytes.
constexpr const char* kLastUpdate = "2024-01-01";

struct DatasetCloser {
    void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, DatasetCloser>;

struct FeatureDestroyer {
    void operator()(OGRFeature* feature) const { OGRFeature::DestroyFeature(feature); }
};
using FeaturePtr = std::unique_ptr<OGRFeature, FeatureDestroyer>;

DatasetPtr createDataset(const std::filesystem::path& path)
{
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    if (!driver) {
        throw std::runtime_error("GDAL has no ESRI Shapefile driver");
    }
    DatasetPtr dataset(driver->Create(path.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!dataset) {
        throw std::runtime_error("cannot create " + path.string() + ": " + CPLGetLastErrorMsg());
    }
    return dataset;
}

OGRLayer* createLayer(GDALDataset& dataset, const std::filesystem::path& path, OGRwkbGeometryType type, int epsg)
{
    OGRSpatialReference srs;
    if (srs.importFromEPSG(epsg) != OGRERR_NONE) {
        throw std::runtime_error("cannot set up EPSG:" + std::to_string(epsg) + " (is the PROJ database installed?)");
    }
    char** options = nullptr;
    options = CSLSetNameValue(options, "ENCODING", "UTF-8");
    options = CSLSetNameValue(options, "DBF_DATE_LAST_UPDATE", kLastUpdate);
    OGRLayer* layer = dataset.CreateLayer(path.stem().string().c_str(), &srs, type, options);
    CSLDestroy(options);
    if (!layer) {
        throw std::runtime_error("cannot create the layer of " + path.string() + ": " + CPLGetLastErrorMsg());
    }
    return layer;
}

void addField(OGRLayer& layer, const char* name, OGRFieldType type, int width)
{
    OGRFieldDefn field(name, type);
    field.SetWidth(width);
    if (layer.CreateField(&field) != OGRERR_NONE) {
        throw std::runtime_error(std::string("cannot create the field ") + name);
    }
}

void addFeature(OGRLayer& layer, OGRFeature& feature, const std::string& what)
{
    if (layer.CreateFeature(&feature) != OGRERR_NONE) {
        throw std::runtime_error("cannot write " + what + ": " + CPLGetLastErrorMsg());
    }
}

void closeDataset(DatasetPtr dataset, const std::filesystem::path& path)
{
    // Closing writes the headers; GDAL reports a failure only through its
    // error state here.
    CPLErrorReset();
    GDALClose(dataset.release());
    if (CPLGetLastErrorType() >= CE_Failure) {
        throw std::runtime_error("cannot finish " + path.string() + ": " + CPLGetLastErrorMsg());
    }
}

// Shapefile x carries the zone number in front of the easting.
double shapeX(const CityLayout& city, double localX) { return city.zonePrefix + city.origin[0] + localX; }
double shapeY(const CityLayout& city, double localY) { return city.origin[1] + localY; }

OGRLinearRing makeRing(const CityLayout& city, const std::vector<Point2>& points)
{
    OGRLinearRing ring;
    for (const Point2& p : points) {
        ring.addPoint(shapeX(city, p.x), shapeY(city, p.y));
    }
    ring.closeRings();
    return ring;
}

OGRPolygon makePolygon(const CityLayout& city, const FramePart& part)
{
    OGRPolygon polygon;
    OGRLinearRing exterior = makeRing(city, part.exterior);
    polygon.addRing(&exterior);
    for (const std::vector<Point2>& interior : part.interiors) {
        OGRLinearRing ring = makeRing(city, interior);
        polygon.addRing(&ring);
    }
    return polygon;
}

}  // namespace

void writeParcelShapefile(const CityLayout& city, const std::filesystem::path& path)
{
    DatasetPtr dataset = createDataset(path);
    OGRLayer* layer = createLayer(*dataset, path, wkbPolygon, city.shapefileEpsg);
    addField(*layer, "ZDDM", OFTString, 19);
    addField(*layer, "FWBH", OFTString, 4);
    addField(*layer, "NAME", OFTString, 100);
    addField(*layer, "CS", OFTInteger, 4);

    for (const FrameSpec& frame : city.frames) {
        FeaturePtr feature(OGRFeature::CreateFeature(layer->GetLayerDefn()));
        feature->SetField("ZDDM", frame.zddm.c_str());
        feature->SetField("FWBH", frame.fwbh.c_str());
        feature->SetField("NAME", frame.name.c_str());
        if (frame.floors) {
            feature->SetField("CS", *frame.floors);
        }
        if (frame.parts.size() == 1) {
            OGRPolygon polygon = makePolygon(city, frame.parts.front());
            feature->SetGeometry(&polygon);
        } else {
            OGRMultiPolygon multi;
            for (const FramePart& part : frame.parts) {
                OGRPolygon polygon = makePolygon(city, part);
                multi.addGeometry(&polygon);
            }
            feature->SetGeometry(&multi);
        }
        addFeature(*layer, *feature, "the frame " + frame.zddm + "_" + frame.fwbh);
    }
    closeDataset(std::move(dataset), path);
}

void writeLineShapefile(const CityLayout& city, const std::filesystem::path& path)
{
    DatasetPtr dataset = createDataset(path);
    OGRLayer* layer = createLayer(*dataset, path, wkbLineString, city.shapefileEpsg);
    addField(*layer, "NAME", OFTString, 60);
    addField(*layer, "KIND", OFTString, 20);
    for (const RoadLine& road : city.roads) {
        FeaturePtr feature(OGRFeature::CreateFeature(layer->GetLayerDefn()));
        feature->SetField("NAME", road.name.c_str());
        feature->SetField("KIND", road.kind.c_str());
        OGRLineString line;
        for (const Point2& p : road.points) {
            line.addPoint(shapeX(city, p.x), shapeY(city, p.y));
        }
        feature->SetGeometry(&line);
        addFeature(*layer, *feature, "the line " + road.name);
    }
    closeDataset(std::move(dataset), path);
}

}  // namespace samplecity
