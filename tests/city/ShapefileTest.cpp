// The sample's shapefiles read back through GDAL as a survey office's files
// would: UTF-8 attributes, zone-prefixed Gauss-Kruger x, a matching .prj.
#include "CitySample.h"

#include "support/TestSupport.h"

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace citytest;

namespace {

struct DatasetCloser {
    void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, DatasetCloser>;

struct FeatureDestroyer {
    void operator()(OGRFeature* feature) const { OGRFeature::DestroyFeature(feature); }
};
using FeaturePtr = std::unique_ptr<OGRFeature, FeatureDestroyer>;

// Opened without any encoding option: the .cpg alone must make GDAL take
// the attribute text as UTF-8.
DatasetPtr openVector(const fs::path& path)
{
    GDALAllRegister();
    return DatasetPtr(static_cast<GDALDataset*>(
        GDALOpenEx(path.string().c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
}

std::map<std::string, std::string> attributesOf(OGRFeature& feature)
{
    std::map<std::string, std::string> values;
    for (int k = 0; k < feature.GetFieldCount(); ++k) {
        if (feature.IsFieldSetAndNotNull(k)) {
            values[feature.GetFieldDefnRef(k)->GetNameRef()] = feature.GetFieldAsString(k);
        }
    }
    return values;
}

}  // namespace

TEST(SampleCityShapefile, EveryFrameReadsBackWithItsAttributesAndZonePrefixedBounds)
{
    DatasetPtr dataset = openVector(sampleDir() / "parcels.shp");
    ASSERT_TRUE(dataset);
    ASSERT_EQ(dataset->GetLayerCount(), 1);
    OGRLayer* layer = dataset->GetLayer(0);
    const nlohmann::json& frames = truth().at("frames");
    ASSERT_EQ(layer->GetFeatureCount(), static_cast<GIntBig>(frames.size()));
    const double prefix = truth().at("zone_prefix").get<double>();
    EXPECT_EQ(prefix, 38000000.0);

    layer->ResetReading();
    for (const nlohmann::json& frame : frames) {
        FeaturePtr feature(layer->GetNextFeature());
        ASSERT_TRUE(feature);
        const std::string label = frame.at("name").get<std::string>() + " #" + frame.at("index").dump();
        std::map<std::string, std::string> expected;
        for (const auto& [key, value] : frame.at("attributes").items()) {
            expected[key] = value.get<std::string>();
        }
        EXPECT_EQ(attributesOf(*feature), expected) << label;

        const OGRGeometry* geometry = feature->GetGeometryRef();
        ASSERT_TRUE(geometry) << label;
        OGREnvelope envelope;
        geometry->getEnvelope(&envelope);
        const Bounds b = frameBounds(frame);
        EXPECT_DOUBLE_EQ(envelope.MinX, b.minX + prefix) << label;
        EXPECT_DOUBLE_EQ(envelope.MaxX, b.maxX + prefix) << label;
        EXPECT_DOUBLE_EQ(envelope.MinY, b.minY) << label;
        EXPECT_DOUBLE_EQ(envelope.MaxY, b.maxY) << label;

        const OGRwkbGeometryType type = wkbFlatten(geometry->getGeometryType());
        const int parts = frame.at("parts").get<int>();
        int interiorRings = 0;
        if (parts == 1) {
            ASSERT_EQ(type, wkbPolygon) << label;
            interiorRings = geometry->toPolygon()->getNumInteriorRings();
        } else {
            ASSERT_EQ(type, wkbMultiPolygon) << label;
            EXPECT_EQ(geometry->toMultiPolygon()->getNumGeometries(), parts) << label;
        }
        EXPECT_EQ(interiorRings, frame.at("interior_rings").get<int>()) << label;
    }
}

TEST(SampleCityShapefile, NamesCarryChineseTextACommaAndAQuote)
{
    DatasetPtr dataset = openVector(sampleDir() / "parcels.shp");
    ASSERT_TRUE(dataset);
    OGRLayer* layer = dataset->GetLayer(0);
    std::map<std::string, int> names;
    for (auto& feature : *layer) {
        names[feature->GetFieldAsString("NAME")]++;
    }
    EXPECT_EQ(names.count("江北大厦"), 1u);
    EXPECT_EQ(names.count("商业楼,A座"), 1u);
    EXPECT_EQ(names.count("\"明珠\"公寓"), 1u);
    EXPECT_EQ(testsupport::readFile(sampleDir() / "parcels.cpg"), "UTF-8");
}

TEST(SampleCityShapefile, SomeFramesShareParcelCodesAndTwoShareTheirWholeName)
{
    std::map<std::string, int> codes;
    std::map<std::string, int> names;
    for (const nlohmann::json& frame : truth().at("frames")) {
        codes[frame.at("attributes").at("ZDDM")]++;
        names[frame.at("name")]++;
        EXPECT_EQ(frame.at("name"), frame.at("attributes").at("ZDDM").get<std::string>() + "_" +
                                        frame.at("attributes").at("FWBH").get<std::string>());
        EXPECT_EQ(frame.at("attributes").at("FWBH").get<std::string>().size(), 4u);
    }
    int sharedCodes = 0;
    for (const auto& [code, count] : codes) {
        sharedCodes += count > 1 ? 1 : 0;
    }
    EXPECT_GE(sharedCodes, 2);
    int duplicated = 0;
    for (const auto& [name, count] : names) {
        duplicated += count > 1 ? count : 0;
    }
    EXPECT_EQ(duplicated, 2);
}

TEST(SampleCityShapefile, ProjectionIsGaussKrugerZone38WithTheZoneInX)
{
    for (const char* file : {"parcels.shp", "lines.shp"}) {
        DatasetPtr dataset = openVector(sampleDir() / file);
        ASSERT_TRUE(dataset) << file;
        const OGRSpatialReference* srs = dataset->GetLayer(0)->GetSpatialRef();
        ASSERT_TRUE(srs) << file << " has no .prj";
        EXPECT_DOUBLE_EQ(srs->GetProjParm(SRS_PP_FALSE_EASTING), 38500000.0) << file;
        EXPECT_DOUBLE_EQ(srs->GetProjParm(SRS_PP_CENTRAL_MERIDIAN), 114.0) << file;
        EXPECT_NE(std::string(srs->GetName()).find("38"), std::string::npos) << srs->GetName();
    }
}

TEST(SampleCityShapefile, LinesLayerHoldsOnlyZonePrefixedLines)
{
    DatasetPtr dataset = openVector(sampleDir() / "lines.shp");
    ASSERT_TRUE(dataset);
    OGRLayer* layer = dataset->GetLayer(0);
    EXPECT_EQ(wkbFlatten(layer->GetGeomType()), wkbLineString);
    EXPECT_EQ(layer->GetFeatureCount(), truth().at("shapefiles").at("line_count").get<GIntBig>());
    const double prefix = truth().at("zone_prefix").get<double>();
    int count = 0;
    for (auto& feature : *layer) {
        const OGRGeometry* geometry = feature->GetGeometryRef();
        ASSERT_TRUE(geometry);
        EXPECT_EQ(wkbFlatten(geometry->getGeometryType()), wkbLineString);
        OGREnvelope envelope;
        geometry->getEnvelope(&envelope);
        EXPECT_GT(envelope.MinX, prefix);
        EXPECT_LT(envelope.MaxX, prefix + 1000000.0);
        EXPECT_STRNE(feature->GetFieldAsString("NAME"), "");
        ++count;
    }
    EXPECT_GT(count, 0);
}
