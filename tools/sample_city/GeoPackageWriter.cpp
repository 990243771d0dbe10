#include "GeoPackageWriter.h"

#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <memory>
#include <stdexcept>

namespace samplecity {

namespace {

struct FeatureDestroyer {
    void operator()(OGRFeature* feature) const { OGRFeature::DestroyFeature(feature); }
};

OGRSpatialReference gisOrdered(int epsg)
{
    OGRSpatialReference srs;
    if (srs.importFromEPSG(epsg) != OGRERR_NONE) {
        throw std::runtime_error("cannot set up EPSG:" + std::to_string(epsg));
    }
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

OGRPolygon projectedPolygon(const CityLayout& city, const FramePart& part)
{
    OGRPolygon polygon;
    const auto ring = [&](const std::vector<Point2>& points) {
        OGRLinearRing r;
        for (const Point2& p : points) {
            r.addPoint(city.zonePrefix + city.origin[0] + p.x, city.origin[1] + p.y);
        }
        r.closeRings();
        polygon.addRing(&r);
    };
    ring(part.exterior);
    for (const std::vector<Point2>& interior : part.interiors) {
        ring(interior);
    }
    return polygon;
}

void fill(OGRFeature& feature, const FrameSpec& frame)
{
    feature.SetField("ZDDM", frame.zddm.c_str());
    feature.SetField("FWBH", frame.fwbh.c_str());
    feature.SetField("NAME", frame.name.c_str());
    if (frame.floors) {
        feature.SetField("CS", *frame.floors);
    }
}

}  // namespace

void writeParcelGeoPackage(const CityLayout& city, const std::filesystem::path& path)
{
    GDALAllRegister();
    // The file records this as its last change, so two runs write the same bytes.
    CPLSetConfigOption("OGR_CURRENT_DATE", "2024-01-01T00:00:00.000Z");
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
    if (!driver) {
        throw std::runtime_error("GDAL has no GPKG driver");
    }
    std::unique_ptr<GDALDataset, void (*)(GDALDataset*)> dataset(
        driver->Create(path.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr),
        [](GDALDataset* d) { GDALClose(d); });
    OGRSpatialReference wgs84 = gisOrdered(4326);
    OGRLayer* layer = dataset ? dataset->CreateLayer("parcels", &wgs84, wkbMultiPolygon, nullptr) : nullptr;
    if (!layer) {
        throw std::runtime_error("cannot create " + path.string() + ": " + CPLGetLastErrorMsg());
    }
    for (const auto& [name, type] : {std::pair{"ZDDM", OFTString}, {"FWBH", OFTString}, {"NAME", OFTString},
                                     {"CS", OFTInteger}}) {
        OGRFieldDefn field(name, type);
        layer->CreateField(&field);
    }
    const OGRSpatialReference source = gisOrdered(city.shapefileEpsg);
    const std::unique_ptr<OGRCoordinateTransformation, void (*)(OGRCoordinateTransformation*)> toWgs84(
        OGRCreateCoordinateTransformation(&source, &wgs84), OGRCoordinateTransformation::DestroyCT);
    if (!toWgs84) {
        throw std::runtime_error("cannot move the parcels to WGS 84");
    }
    for (const FrameSpec& frame : city.frames) {
        std::unique_ptr<OGRFeature, FeatureDestroyer> feature(OGRFeature::CreateFeature(layer->GetLayerDefn()));
        fill(*feature, frame);
        OGRMultiPolygon multi;
        for (const FramePart& part : frame.parts) {
            OGRPolygon polygon = projectedPolygon(city, part);
            multi.addGeometry(&polygon);
        }
        if (multi.transform(toWgs84.get()) != OGRERR_NONE) {
            throw std::runtime_error("cannot move the frame " + frame.zddm + " to WGS 84");
        }
        feature->SetGeometry(&multi);
        if (layer->CreateFeature(feature.get()) != OGRERR_NONE) {
            throw std::runtime_error("cannot write the frame " + frame.zddm + ": " + CPLGetLastErrorMsg());
        }
    }
    dataset.reset();
    CPLSetConfigOption("OGR_CURRENT_DATE", nullptr);
}

}  // namespace samplecity
