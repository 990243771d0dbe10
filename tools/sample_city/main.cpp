// make_sample_city <out-folder> [--enu] [--wgs84-gpkg] [--3dtiles [--draco] [--meshopt] [--webp]]
// make_sample_city --county <columns>x<rows> <out-folder>
// make_sample_city --help
//
// --enu also writes city_enu/: the same city as an ENU model (tangent point
// inside the city, a non-zero SRSOrigin); --wgs84-gpkg also writes
// parcels_wgs84.gpkg: the parcels in WGS 84 longitude/latitude. --3dtiles
// also writes city_3dtiles/: the ENU city as 3D Tiles with plain glb
// content (see TilesetWriter.h); --draco, --meshopt and --webp each add one
// more such folder, city_3dtiles_draco/ (Draco meshes), city_3dtiles_meshopt/
// (meshopt-compressed, quantized meshes) and city_3dtiles_webp/ (WebP
// textures).
// Writes the sample city: a tiled, textured photogrammetry-style model
// (city/ with metadata.xml, city_dsm/ with a Data.dsm origin instead), the
// parcel and line shapefiles, and truth.json with what a renderer should
// measure on them. The output is the same, byte for byte, on every run.
// With --county it writes instead a county of the given number of tiles built
// from the sample city's tiles, for measuring at scale (see County.h).

#include "CityLayout.h"
#include "EnuModel.h"
#include "GeoPackageWriter.h"
#include "County.h"
#include "GroundTruth.h"
#include "MeshAgreement.h"
#include "OriginFiles.h"
#include "OutputFolder.h"
#include "ShapefileWriter.h"
#include "TileHierarchy.h"
#include "TilesetWriter.h"
#include "TruthManifest.h"

#include <osg/Group>
#include <osg/MatrixTransform>

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace fs = std::filesystem;
using namespace samplecity;

namespace {

std::vector<FrameTruth> measureFrames(const CityLayout& city, const CameraSettings& camera)
{
    std::vector<FrameTruth> frames;
    for (std::size_t k = 0; k < city.frames.size(); ++k) {
        FrameTruth truth;
        truth.index = static_cast<int>(k + 1);
        truth.spec = &city.frames[k];
        truth.bounds = frameBounds(city.frames[k]);
        try {
            truth.heights = measureFrameHeights(city, truth.bounds);
            truth.occlusion = measureOcclusion(city, truth.bounds, truth.heights, camera);
        } catch (const std::exception& e) {
            throw std::runtime_error("frame " + std::to_string(truth.index) + " (" + truth.spec->role +
                                     "): " + e.what());
        }
        frames.push_back(truth);
    }
    return frames;
}

SphereEntry sphereOf(const osg::Node& node)
{
    const osg::BoundingSphere& bound = node.getBound();
    return {{bound.center().x(), bound.center().y(), bound.center().z()}, bound.radius()};
}

void writeText(const fs::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

struct Extras {
    bool enu = false;
    bool wgs84GeoPackage = false;
    bool tiles3d = false;  // with the variants below
    bool draco = false;
    bool meshopt = false;
    bool webp = false;

    bool any3dTilesVariant() const { return draco || meshopt || webp; }
};

void writeEnuCity(const std::vector<TileModel>& tiles, const EnuFrame& frame, const fs::path& out)
{
    for (const TileModel& tile : tiles) {
        fs::create_directories(out / "city_enu" / "Data" / tile.name);
        writeTileFiles(tile, out / "city_enu" / "Data" / tile.name);
    }
    writeEnuMetadataXml(frame, out / "city_enu" / "metadata.xml");
}

void write3dTilesCities(const std::vector<TileModel>& tiles, const EnuFrame& frame, const Extras& extras,
                        const fs::path& out)
{
    struct Variant {
        bool wanted;
        const char* folder;
        GlbOptions options;
    };
    const Variant variants[] = {
        {true, "city_3dtiles", {MeshCoding::Plain, TextureFormat::Png}},
        {extras.draco, "city_3dtiles_draco", {MeshCoding::Draco, TextureFormat::Png}},
        {extras.meshopt, "city_3dtiles_meshopt", {MeshCoding::Meshopt, TextureFormat::Png}},
        {extras.webp, "city_3dtiles_webp", {MeshCoding::Plain, TextureFormat::Webp}},
    };
    TextureCoder textures;  // each texture encoded once for all variants
    for (const Variant& variant : variants) {
        if (variant.wanted) {
            writeTileset(tiles, frame, out / variant.folder, variant.options, textures);
        }
    }
}

void generate(const fs::path& out, const Extras& extras)
{
    const CityLayout city = makeSampleCity();
    const CameraSettings camera;

    // Truth first: a layout where a sample line grazes an edge is rejected
    // before anything is written.
    std::vector<FrameTruth> frames = measureFrames(city, camera);

    std::vector<TileModel> tiles;
    for (int i = 0; i < city.tilesX; ++i) {
        for (int j = 0; j < city.tilesY; ++j) {
            if (city.tileExists(i, j)) {
                tiles.push_back(buildTileModel(city, i, j));
            }
        }
    }
    std::vector<Point2> sampleLines;
    for (const FrameTruth& frame : frames) {
        const std::vector<Point2> points = heightSamplePoints(frame.bounds);
        sampleLines.insert(sampleLines.end(), points.begin(), points.end());
    }
    checkMeshesAgree(city, tiles, sampleLines);

    ManifestInput manifest;
    manifest.city = &city;
    manifest.camera = camera;
    osg::ref_ptr<osg::Group> roots = new osg::Group;
    const fs::path data = out / "city" / "Data";
    for (const TileModel& tile : tiles) {
        fs::create_directories(data / tile.name);
        WrittenTile written = writeTileFiles(tile, data / tile.name);
        roots->addChild(written.root.get());
        TileEntry entry{tile.name, {}};
        for (const std::string& file : written.files) {
            entry.files.push_back("city/Data/" + tile.name + "/" + file);
        }
        manifest.tiles.push_back(entry);
    }
    writeMetadataXml(city, out / "city" / "metadata.xml");

    fs::create_directories(out / "city_dsm");
    fs::copy(data, out / "city_dsm" / "Data", fs::copy_options::recursive);
    manifest.dsm = writeDsmOrigin(city, out / "city_dsm" / "Data.dsm");

    writeParcelShapefile(city, out / "parcels.shp");
    writeLineShapefile(city, out / "lines.shp");

    // The bound a loader reports for the roots under the origin transform.
    osg::ref_ptr<osg::MatrixTransform> placed =
        new osg::MatrixTransform(osg::Matrixd::translate(city.origin[0], city.origin[1], city.origin[2]));
    placed->addChild(roots.get());
    manifest.sceneBound = sphereOf(*placed);
    manifest.sceneBoundLocal = sphereOf(*roots);
    manifest.frames = std::move(frames);
    writeText(out / "truth.json", makeTruthManifest(manifest).dump(2) + "\n");

    // Last: the ENU model moves the tiles' vertices.
    if (extras.wgs84GeoPackage) {
        writeParcelGeoPackage(city, out / "parcels_wgs84.gpkg");
    }
    if (extras.enu || extras.tiles3d) {
        const EnuFrame frame = chooseEnuFrame(city);
        for (TileModel& tile : tiles) {
            moveTileToEnu(tile, city, frame);
        }
        if (extras.enu) {
            writeEnuCity(tiles, frame, out);
        }
        if (extras.tiles3d) {
            write3dTilesCities(tiles, frame, extras, out);
        }
    }
}

void printSummary(const fs::path& out, double seconds)
{
    std::uintmax_t bytes = 0;
    int files = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(out)) {
        if (entry.is_regular_file()) {
            bytes += entry.file_size();
            ++files;
        }
    }
    std::cout << "Sample city written to " << out.string() << ": " << files << " files, " << bytes << " bytes in "
              << seconds << " s" << std::endl;
}

constexpr const char* kUsage = "usage: make_sample_city <out-folder> [--enu] [--wgs84-gpkg]\n"
                               "                       [--3dtiles [--draco] [--meshopt] [--webp]]\n"
                               "       make_sample_city --county <columns>x<rows> <out-folder>\n"
                               "       make_sample_city --help";

// What the command line asks for; `error` says why it cannot be taken.
struct Arguments {
    bool help = false;
    bool isCounty = false;
    CountySize county;
    Extras extras;
    std::string out;
    std::string error;
};

// Options and the one output folder, in any order; an argument that starts
// with "-" and is no option is refused rather than taken for a folder.
Arguments parseArguments(int argc, char** argv)
{
    Arguments args;
    for (int i = 1; i < argc && args.error.empty(); ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            args.help = true;
        } else if (arg == "--enu" || arg == "--wgs84-gpkg") {
            (arg == "--enu" ? args.extras.enu : args.extras.wgs84GeoPackage) = true;
        } else if (arg == "--3dtiles") {
            args.extras.tiles3d = true;
        } else if (arg == "--draco" || arg == "--meshopt" || arg == "--webp") {
            (arg == "--draco" ? args.extras.draco : arg == "--meshopt" ? args.extras.meshopt : args.extras.webp) = true;
        } else if (arg == "--county") {
            args.isCounty = true;
            if (i + 1 >= argc || !parseCountySize(argv[++i], args.county)) {
                args.error = "--county takes <columns>x<rows>";
            }
        } else if (arg.empty() || arg[0] == '-') {
            args.error = "unknown option \"" + arg + "\"";
        } else if (!args.out.empty()) {
            args.error = "one output folder only, not also \"" + arg + "\"";
        } else {
            args.out = arg;
        }
    }
    if (args.error.empty() && !args.help && args.out.empty()) {
        args.error = "no output folder";
    }
    const Extras& extras = args.extras;
    if (args.error.empty() && args.isCounty && (extras.enu || extras.wgs84GeoPackage || extras.tiles3d)) {
        args.error = "--enu, --wgs84-gpkg and --3dtiles do not go with --county";
    }
    if (args.error.empty() && extras.any3dTilesVariant() && !extras.tiles3d) {
        args.error = "--draco, --meshopt and --webp go with --3dtiles";
    }
    return args;
}

}  // namespace

int main(int argc, char** argv)
{
    const Arguments args = parseArguments(argc, argv);
    if (args.help) {
        std::cout << kUsage << std::endl;
        return 0;
    }
    if (!args.error.empty()) {
        std::cerr << "make_sample_city: " << args.error << "\n" << kUsage << std::endl;
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    OutputFolder folder;
    try {
        folder = prepareOutputFolder(args.out);
        if (args.isCounty) {
            writeCounty(makeSampleCity(), args.county, folder.staging);
        } else {
            generate(folder.staging, args.extras);
        }
        publishOutputFolder(folder);
    } catch (const std::exception& e) {
        discardOutputFolder(folder);
        std::cerr << "make_sample_city: " << e.what() << std::endl;
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printSummary(folder.target, seconds);
    return 0;
}
