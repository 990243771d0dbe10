#include "geodata/SceneLoader.h"

#include "core/Logger.h"
#include "core/NumberText.h"

#include <osg/Group>
#include <osg/MatrixTransform>
#include <osgDB/Options>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <system_error>

#ifndef VISTREL_OSG_PLUGIN_DIR
#define VISTREL_OSG_PLUGIN_DIR ""
#endif
#ifndef VISTREL_OSG_VERSION
#define VISTREL_OSG_VERSION "3.6.5"
#endif

namespace fs = std::filesystem;

namespace vistrel {

namespace {

fs::file_status statusOrThrow(const fs::path& path, const char* operation)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec && status.type() != fs::file_type::not_found) {
        throw fs::filesystem_error(operation, path, ec);
    }
    return status;
}

bool existsOrThrow(const fs::path& path)
{
    return fs::exists(statusOrThrow(path, "exists"));
}

// A folder given with a trailing separator still has a name.
fs::path withoutTrailingSeparator(const fs::path& path)
{
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return fs::path(text);
}

// Calls `visit` for every entry of `folder` in listing order.
template <typename Visit>
void forEachEntry(const fs::path& folder, Visit visit)
{
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        throw fs::filesystem_error("directory_iterator::directory_iterator", folder, ec);
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        if (!visit(*it)) {
            return;
        }
    }
    if (ec) {
        throw fs::filesystem_error("directory_iterator::operator++", folder, ec);
    }
}

double littleEndianDouble(const unsigned char* bytes)
{
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) {
        bits = (bits << 8) | bytes[i];
    }
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void logOrigin(const SceneOrigin& origin, bool fromMetadata)
{
    std::string line = std::string(fromMetadata ? "Read metadata model origin from " : "Read DSM model origin from ") +
                       origin.sourcePath + ": x=" + streamNumber(origin.x) + ", y=" + streamNumber(origin.y);
    if (fromMetadata) {
        line += ", z=" + streamNumber(origin.z);
        if (!origin.srs.empty()) {
            line += ", srs=" + origin.srs;
        }
    }
    Logger::instance().info(line);
}

}  // namespace

void setupPluginPath()
{
    const std::string folderName = std::string("osgPlugins-") + VISTREL_OSG_VERSION;
    std::vector<fs::path> candidates;
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    if (!ec) {
        candidates.push_back(cwd / "plugins" / folderName);
    }
    candidates.push_back(fs::path(VISTREL_OSG_PLUGIN_DIR));

    osgDB::FilePathList& list = osgDB::Registry::instance()->getLibraryFilePathList();
    for (const auto& candidate : candidates) {
        if (candidate.empty() || !fs::exists(candidate, ec)) {
            continue;
        }
        const std::string text = candidate.generic_string();
        if (text.empty() || std::find(list.begin(), list.end(), text) != list.end()) {
            continue;
        }
        list.push_back(text);
    }
}

fs::path findTileRootFile(const fs::path& folderIn)
{
    const fs::path folder = withoutTrailingSeparator(folderIn);
    const fs::path named = folder / (folder.filename().string() + ".osgb");
    if (existsOrThrow(named)) {
        return named;
    }
    const fs::path data = folder / "Data.osgb";
    if (existsOrThrow(data)) {
        return data;
    }
    fs::path found;
    forEachEntry(folder, [&found](const fs::directory_entry& entry) {
        std::error_code ec;
        if (!entry.is_regular_file(ec) || ec) {
            return true;
        }
        const fs::path& p = entry.path();
        if (p.extension().string() != ".osgb") {
            return true;
        }
        if (p.filename().string().find("_dsm_alias") != std::string::npos) {
            return true;
        }
        found = p;
        return false;
    });
    return found;
}

std::vector<fs::path> findRootOsgbFiles(const fs::path& pathIn)
{
    const fs::path path = withoutTrailingSeparator(pathIn);
    const fs::file_status status = statusOrThrow(path, "status");
    if (!fs::is_directory(status)) {
        return {path};
    }
    const fs::path tileRoot = findTileRootFile(path);
    if (!tileRoot.empty()) {
        return {tileRoot};
    }
    const fs::path data = path / "Data";
    if (fs::is_directory(statusOrThrow(data, "status"))) {
        return findRootOsgbFiles(data);
    }
    std::vector<fs::path> roots;
    forEachEntry(path, [&roots](const fs::directory_entry& entry) {
        std::error_code ec;
        const fs::file_status entryStatus = entry.status(ec);
        if (ec) {
            throw fs::filesystem_error("directory_entry::status", entry.path(), ec);
        }
        if (fs::is_directory(entryStatus)) {
            fs::path root = findTileRootFile(entry.path());
            if (!root.empty()) {
                roots.push_back(root);
            }
        }
        return true;
    });
    return roots;
}

SceneOrigin parseMetadataOrigin(const fs::path& file)
{
    SceneOrigin origin;
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        return origin;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    static const std::regex originPattern(
        R"(<\s*SRSOrigin\s*>\s*([-+0-9.eE]+)\s*,\s*([-+0-9.eE]+)\s*,\s*([-+0-9.eE]+)\s*<\s*/\s*SRSOrigin\s*>)",
        std::regex::ECMAScript | std::regex::icase);
    std::smatch match;
    if (!std::regex_search(text, match, originPattern)) {
        return origin;
    }
    const double x = textToDouble(match[1].str());
    const double y = textToDouble(match[2].str());
    const double z = textToDouble(match[3].str());
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
        return origin;
    }
    origin.x = x;
    origin.y = y;
    origin.z = z;
    static const std::regex srsPattern(R"(<\s*SRS\s*>\s*([^<]+?)\s*<\s*/\s*SRS\s*>)",
                                       std::regex::ECMAScript | std::regex::icase);
    std::smatch srsMatch;
    if (std::regex_search(text, srsMatch, srsPattern)) {
        origin.srs = srsMatch[1].str();
    }
    origin.sourcePath = file.string();
    origin.valid = true;
    return origin;
}

SceneOrigin scanDsmOrigin(const fs::path& file)
{
    SceneOrigin origin;
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        return origin;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 16) {
        return origin;
    }
    for (std::size_t i = 0; i + 16 <= bytes.size(); ++i) {
        const double x = littleEndianDouble(&bytes[i]);
        const double y = littleEndianDouble(&bytes[i + 8]);
        if (!std::isfinite(x) || !std::isfinite(y)) {
            continue;
        }
        const double ax = std::fabs(x);
        const double ay = std::fabs(y);
        if (ax >= 100000.0 && ax <= 10000000.0 && ay >= 1000000.0 && ay <= 10000000.0) {
            origin.x = x;
            origin.y = y;
            origin.valid = true;
        }
    }
    if (origin.valid) {
        origin.z = 0.0;
        origin.sourcePath = file.string();
    }
    return origin;
}

SceneOrigin readSceneOrigin(const fs::path& pathIn)
{
    const fs::path path = withoutTrailingSeparator(pathIn);
    const fs::file_status status = statusOrThrow(path, "status");
    const bool isFile = fs::is_regular_file(status);
    const bool isDir = fs::is_directory(status);

    std::vector<fs::path> metadata;
    if (isFile) {
        metadata = {path.parent_path() / "metadata.xml", path.parent_path().parent_path() / "metadata.xml"};
    } else if (isDir) {
        metadata = {path / "metadata.xml", path.parent_path() / "metadata.xml"};
    }
    for (const auto& candidate : metadata) {
        if (!existsOrThrow(candidate)) {
            continue;
        }
        SceneOrigin origin = parseMetadataOrigin(candidate);
        if (origin.valid) {
            logOrigin(origin, true);
            return origin;
        }
    }

    std::vector<fs::path> dsm;
    if (isFile) {
        if (path.extension().string() == ".dsm") {
            dsm.push_back(path);
        }
        dsm.push_back(path.parent_path() / "Data.dsm");
        dsm.push_back(path.parent_path().parent_path() / "Data.dsm");
    } else if (isDir) {
        dsm = {path / "Data.dsm", path / (path.filename().string() + ".dsm"), path.parent_path() / "Data.dsm"};
    }
    for (const auto& candidate : dsm) {
        if (!existsOrThrow(candidate)) {
            continue;
        }
        SceneOrigin origin = scanDsmOrigin(candidate);
        if (origin.valid) {
            logOrigin(origin, false);
            return origin;
        }
    }
    return SceneOrigin{};
}

osg::ref_ptr<osg::Node> loadScene(const std::string& osgbPath)
{
    Logger& log = Logger::instance();
    setupPluginPath();

    const fs::path path(osgbPath);
    if (!existsOrThrow(path)) {
        log.error("OSGB path does not exist: " + osgbPath);
        return nullptr;
    }
    const std::vector<fs::path> roots = findRootOsgbFiles(path);
    if (roots.empty()) {
        log.error("No root .osgb files found in: " + osgbPath);
        return nullptr;
    }

    osgDB::Registry::instance()->setBuildKdTreesHint(osgDB::Options::BUILD_KDTREES);
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options;
    options->setObjectCacheHint(osgDB::Options::CACHE_ALL);
    osg::ref_ptr<osg::Group> group = new osg::Group;

    for (const auto& root : roots) {
        const std::string file = root.string();
        options->getDatabasePathList().push_back(root.parent_path().string());
        log.info("Loading OSGB/scene: " + file);
        osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(file, options.get());
        if (node.valid()) {
            group->addChild(node.get());
        } else {
            log.error("Failed to load scene with osgDB::readNodeFile: " + file);
        }
    }
    if (group->getNumChildren() == 0) {
        log.error("Failed to load any OSGB scene from: " + osgbPath);
        return nullptr;
    }

    osg::ref_ptr<osg::Node> sceneRoot = group;
    const SceneOrigin origin = readSceneOrigin(path);
    if (origin.valid) {
        osg::ref_ptr<osg::MatrixTransform> transform = new osg::MatrixTransform;
        transform->setMatrix(osg::Matrixd::translate(origin.x, origin.y, origin.z));
        transform->addChild(group.get());
        sceneRoot = transform;
    }

    const osg::BoundingSphere& bound = sceneRoot->getBound();
    log.info("Scene loaded. Bound center=(" + printfNumber(bound.center().x()) + ", " +
             printfNumber(bound.center().y()) + ", " + printfNumber(bound.center().z()) +
             "), radius=" + printfNumber(bound.radius()));
    return sceneRoot;
}

}  // namespace vistrel
