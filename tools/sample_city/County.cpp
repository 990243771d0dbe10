#include "County.h"

#include "OriginFiles.h"
#include "TileHierarchy.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <osg/Group>
#include <osg/MatrixTransform>

#include <memory>
#include <regex>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace samplecity {

namespace {

constexpr int kParcelColumns = 5;
constexpr int kParcelRows = 2;
constexpr double kParcelInset = 2.0;

struct Design {
    std::string name;
    osg::ref_ptr<osg::Node> coarse;
    osg::BoundingSphere bound;  // of every level, in the design's own place
    Rect area;
};

// The design's finer levels into `shared`; the root level stays with it.
Design writeDesign(const CityLayout& city, int i, int j, int number, const fs::path& shared)
{
    const TileModel tile = buildTileModel(city, i, j);
    Design design;
    design.name = "D" + std::to_string(number);
    design.area = tile.area;
    osg::ref_ptr<osg::Group> middle = new osg::Group;
    for (int q = 0; q < 4; ++q) {
        const std::string fineFile = design.name + "_L19_0" + std::to_string(q) + ".osgb";
        const osg::BoundingSphere bound = unionBound({tile.middle[q].get(), tile.fine[q].get()});
        middle->addChild(pagedLevel(tile.middle[q].get(), fineFile, kQuadrantSwitchPixels, bound).get());
        writeNode(*tile.fine[q], shared / fineFile);
    }
    writeNode(*middle, shared / (design.name + "_L18_0.osgb"));
    design.bound = unionBound({tile.coarse.get(), middle.get()});
    for (const osg::ref_ptr<osg::Geode>& fine : tile.fine) {
        design.bound.expandBy(fine->getBound());
    }
    design.coarse = tile.coarse;
    return design;
}

void writeTileRoot(const Design& design, const Rect& area, const fs::path& folder, const std::string& name)
{
    osg::ref_ptr<osg::MatrixTransform> place = new osg::MatrixTransform(
        osg::Matrixd::translate(area.x0 - design.area.x0, area.y0 - design.area.y0, 0.0));
    const std::string middle = "../../shared/" + design.name + "_L18_0.osgb";
    place->addChild(pagedLevel(design.coarse.get(), middle, kRootSwitchPixels, design.bound).get());
    fs::create_directories(folder);
    writeNode(*place, folder / (name + ".osgb"));
}

struct DatasetCloser {
    void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};

void writeParcels(const CityLayout& city, const CountySize& size, const fs::path& path)
{
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    std::unique_ptr<GDALDataset, DatasetCloser> dataset(
        driver ? driver->Create(path.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr) : nullptr);
    if (!dataset) {
        throw std::runtime_error("cannot create " + path.string());
    }
    OGRSpatialReference srs;
    srs.importFromEPSG(4547);
    char** options = CSLSetNameValue(nullptr, "ENCODING", "UTF-8");
    OGRLayer* layer = dataset->CreateLayer(path.stem().string().c_str(), &srs, wkbPolygon, options);
    CSLDestroy(options);
    OGRFieldDefn zddm("ZDDM", OFTString), fwbh("FWBH", OFTString);
    zddm.SetWidth(16);
    fwbh.SetWidth(8);
    if (!layer || layer->CreateField(&zddm) != OGRERR_NONE || layer->CreateField(&fwbh) != OGRERR_NONE) {
        throw std::runtime_error("cannot create the layer of " + path.string());
    }
    const double cellX = city.tileSize / kParcelColumns, cellY = city.tileSize / kParcelRows;
    for (int j = 0; j < size.rows; ++j) {
        for (int i = 0; i < size.columns; ++i) {
            for (int k = 0; k < kParcelColumns * kParcelRows; ++k) {
                const double x0 = city.origin[0] + i * city.tileSize + (k % kParcelColumns) * cellX + kParcelInset;
                const double y0 = city.origin[1] + j * city.tileSize + (k / kParcelColumns) * cellY + kParcelInset;
                const double x1 = x0 + cellX - 2 * kParcelInset, y1 = y0 + cellY - 2 * kParcelInset;
                OGRLinearRing ring;
                ring.addPoint(x0, y0), ring.addPoint(x0, y1), ring.addPoint(x1, y1), ring.addPoint(x1, y0);
                ring.closeRings();
                OGRPolygon polygon;
                polygon.addRing(&ring);
                OGRFeature* feature = OGRFeature::CreateFeature(layer->GetLayerDefn());
                feature->SetField("ZDDM", ("CT" + std::to_string(j * size.columns + i)).c_str());
                feature->SetField("FWBH", std::to_string(k + 1).c_str());
                feature->SetGeometry(&polygon);
                const OGRErr error = layer->CreateFeature(feature);
                OGRFeature::DestroyFeature(feature);
                if (error != OGRERR_NONE) {
                    throw std::runtime_error("cannot write a parcel to " + path.string());
                }
            }
        }
    }
}

}  // namespace

bool parseCountySize(const std::string& text, CountySize& size)
{
    std::smatch match;
    if (!std::regex_match(text, match, std::regex(R"(([0-9]{1,4})x([0-9]{1,4}))"))) {
        return false;
    }
    size.columns = std::stoi(match[1]);
    size.rows = std::stoi(match[2]);
    return size.columns >= 1 && size.rows >= 1 && size.columns <= 1000 && size.rows <= 1000;
}

void writeCounty(const CityLayout& city, const CountySize& size, const fs::path& out)
{
    const fs::path shared = out / "county" / "shared";
    fs::create_directories(shared);
    std::vector<Design> designs;
    for (int i = 0; i < city.tilesX; ++i) {
        for (int j = 0; j < city.tilesY; ++j) {
            if (city.tileExists(i, j)) {
                designs.push_back(writeDesign(city, i, j, static_cast<int>(designs.size()), shared));
            }
        }
    }
    for (int i = 0; i < size.columns; ++i) {
        for (int j = 0; j < size.rows; ++j) {
            const std::size_t pick = static_cast<std::size_t>(i * 7 + j * 3) % designs.size();
            const Rect area{i * city.tileSize, j * city.tileSize, (i + 1) * city.tileSize, (j + 1) * city.tileSize};
            const std::string name = tileName(i, j);
            writeTileRoot(designs[pick], area, out / "county" / "Data" / name, name);
        }
    }
    writeMetadataXml(city, out / "county" / "metadata.xml");
    writeParcels(city, size, out / "county_parcels.shp");
}

}  // namespace samplecity
