#include "TileHierarchy.h"

#include <osg/Group>
#include <osgDB/Options>
#include <osgDB/WriteFile>

#include <stdexcept>

namespace samplecity {

namespace {

constexpr float kNoUpperLimit = 1e30f;

std::string fineFileName(const TileModel& tile, int q)
{
    return tile.name + "_L19_0" + std::to_string(q) + ".osgb";
}

}  // namespace

osg::BoundingSphere unionBound(std::initializer_list<const osg::Node*> nodes)
{
    osg::BoundingSphere bound;
    for (const osg::Node* node : nodes) {
        bound.expandBy(node->getBound());
    }
    // A little slack so that no surface lies exactly on the sphere.
    bound.radius() += 0.01f;
    return bound;
}

// A level node as exports write it: the coarse geometry shown up to
// `switchPixels`, the finer file beyond. The database path stays empty: the
// reader fills it in with the folder the file was read from.
osg::ref_ptr<osg::PagedLOD> pagedLevel(osg::Node* geometry, const std::string& finerFile, float switchPixels,
                                       const osg::BoundingSphere& bound)
{
    osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
    lod->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
    lod->setCenter(bound.center());
    lod->setRadius(bound.radius());
    lod->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
    lod->addChild(geometry, 0.0f, switchPixels);
    lod->setFileName(1, finerFile);
    lod->setRange(1, switchPixels, kNoUpperLimit);
    return lod;
}

void writeNode(const osg::Node& node, const std::filesystem::path& path)
{
    // Textures travel inside the file, compressed with the rest.
    static const osg::ref_ptr<osgDB::Options> options =
        new osgDB::Options("WriteImageHint=IncludeData Compressor=zlib");
    if (!osgDB::writeNodeFile(node, path.string(), options.get())) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

const std::array<LevelDetail, 3>& levelDetails()
{
    static const std::array<LevelDetail, 3> details = {{
        {17, 20.0, 64, 16, 16, 0, 0.0},
        {18, 10.0, 128, 32, 32, 4, 12.0},
        {19, 5.0, 256, 64, 64, 1, 6.0},
    }};
    return details;
}

TileModel buildTileModel(const CityLayout& city, int i, int j)
{
    TileModel tile;
    tile.i = i;
    tile.j = j;
    tile.name = tileName(i, j);
    tile.area = city.tileRect(i, j);
    const std::array<LevelDetail, 3>& details = levelDetails();
    tile.coarse = buildRegionGeode(city, tile.area, details[0]);
    const double half = city.tileSize * 0.5;
    for (int q = 0; q < 4; ++q) {
        const double x0 = tile.area.x0 + (q % 2) * half;
        const double y0 = tile.area.y0 + (q / 2) * half;
        tile.quadrants[q] = {x0, y0, x0 + half, y0 + half};
        tile.middle[q] = buildRegionGeode(city, tile.quadrants[q], details[1]);
        tile.fine[q] = buildRegionGeode(city, tile.quadrants[q], details[2]);
    }
    return tile;
}

osg::ref_ptr<osg::Group> middleLevel(const TileModel& tile)
{
    osg::ref_ptr<osg::Group> middle = new osg::Group;
    for (int q = 0; q < 4; ++q) {
        const std::string fineFile = fineFileName(tile, q);
        const osg::BoundingSphere bound = unionBound({tile.middle[q].get(), tile.fine[q].get()});
        middle->addChild(pagedLevel(tile.middle[q].get(), fineFile, kQuadrantSwitchPixels, bound).get());
    }
    return middle;
}

osg::BoundingSphere rootBound(const TileModel& tile, const osg::Group& middle)
{
    osg::BoundingSphere bound = unionBound({tile.coarse.get(), &middle});
    for (const osg::ref_ptr<osg::Geode>& fine : tile.fine) {
        bound.expandBy(fine->getBound());
    }
    return bound;
}

double switchMetresPerPixel(const osg::BoundingSphere& bound, float switchPixels)
{
    return 2.0 * bound.radius() / switchPixels;
}

WrittenTile writeTileFiles(const TileModel& tile, const std::filesystem::path& folder)
{
    WrittenTile written;
    const std::string rootFile = tile.name + ".osgb";
    const std::string middleFile = tile.name + "_L18_0.osgb";

    osg::ref_ptr<osg::Group> middle = middleLevel(tile);
    std::vector<std::string> fineFiles;
    for (int q = 0; q < 4; ++q) {
        const std::string fineFile = fineFileName(tile, q);
        writeNode(*tile.fine[q], folder / fineFile);
        fineFiles.push_back(fineFile);
    }
    writeNode(*middle, folder / middleFile);

    written.root = pagedLevel(tile.coarse.get(), middleFile, kRootSwitchPixels, rootBound(tile, *middle));
    writeNode(*written.root, folder / rootFile);

    written.files.push_back(rootFile);
    written.files.push_back(middleFile);
    written.files.insert(written.files.end(), fineFiles.begin(), fineFiles.end());
    return written;
}

}  // namespace samplecity
