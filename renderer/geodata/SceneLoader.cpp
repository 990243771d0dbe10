#include "geodata/SceneLoader.h"

#include "core/RunProtocol.h"
#include "core/DsmOrigin.h"
#include "core/Logger.h"
#include "core/NumberText.h"
#include "geodata/OsgNoticeLog.h"
#include "geodata/TileReadCallback.h"

#include <osg/Group>
#include <osg/MatrixTransform>
#include <osgDB/Options>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <fstream>
#include <iterator>
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

// metadata.xml is a few hundred bytes; anything this large is not one.
constexpr std::uintmax_t kMaxMetadataBytes = std::uintmax_t(16) << 20;

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

// Blanks as the C locale's isspace sees them.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::size_t skipBlanks(const std::string& text, std::size_t pos)
{
    while (pos < text.size() && isBlank(text[pos])) {
        ++pos;
    }
    return pos;
}

// True when `word` (ASCII, any case) stands at `pos`.
bool wordAt(const std::string& text, std::size_t pos, const char* word)
{
    for (; *word; ++word, ++pos) {
        if (pos >= text.size() ||
            std::tolower(static_cast<unsigned char>(text[pos])) != std::tolower(static_cast<unsigned char>(*word))) {
            return false;
        }
    }
    return true;
}

// Matches "<" blanks `name` blanks ">" at `pos` (closing: "<" blanks "/" blanks
// `name` blanks ">"); returns the position after it, or npos.
std::size_t tagAt(const std::string& text, std::size_t pos, const char* name, bool closing)
{
    if (pos >= text.size() || text[pos] != '<') {
        return std::string::npos;
    }
    pos = skipBlanks(text, pos + 1);
    if (closing) {
        if (pos >= text.size() || text[pos] != '/') {
            return std::string::npos;
        }
        pos = skipBlanks(text, pos + 1);
    }
    if (!wordAt(text, pos, name)) {
        return std::string::npos;
    }
    pos = skipBlanks(text, pos + std::strlen(name));
    if (pos >= text.size() || text[pos] != '>') {
        return std::string::npos;
    }
    return pos + 1;
}

bool isNumberByte(char c)
{
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// <SRSOrigin> a , b , c </SRSOrigin> at `pos`: the three number texts.
bool originElementAt(const std::string& text, std::size_t pos, std::string (&numbers)[3])
{
    pos = tagAt(text, pos, "SRSOrigin", false);
    if (pos == std::string::npos) {
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        pos = skipBlanks(text, pos);
        const std::size_t start = pos;
        while (pos < text.size() && isNumberByte(text[pos])) {
            ++pos;
        }
        if (pos == start) {
            return false;
        }
        numbers[i].assign(text, start, pos - start);
        pos = skipBlanks(text, pos);
        if (i < 2) {
            if (pos >= text.size() || text[pos] != ',') {
                return false;
            }
            ++pos;
        }
    }
    return tagAt(text, pos, "SRSOrigin", true) != std::string::npos;
}

// The first <SRS> element's text without surrounding blanks (a text of
// blanks only keeps its last one); false when there is none.
bool findSrsElement(const std::string& text, std::string& srs)
{
    for (std::size_t open = text.find('<'); open != std::string::npos; open = text.find('<', open + 1)) {
        const std::size_t content = tagAt(text, open, "SRS", false);
        if (content == std::string::npos) {
            continue;
        }
        const std::size_t close = text.find('<', content);
        if (close == std::string::npos) {
            return false;
        }
        if (close > content && tagAt(text, close, "SRS", true) != std::string::npos) {
            std::size_t first = skipBlanks(text, content);
            std::size_t last = close;
            while (last > first && isBlank(text[last - 1])) {
                --last;
            }
            if (first == close) {
                first = close - 1;
            }
            srs.assign(text, first, last - first);
            return true;
        }
        open = close - 1;
    }
    return false;
}

enum class ReadOutcome { Read, Missing, NotRegular, TooLarge };

// Reads a regular file of at most `limit` bytes whole. Folders, FIFOs and
// devices are never opened (a FIFO would block, /dev/zero never ends).
ReadOutcome readRegularFile(const fs::path& file, std::uintmax_t limit, std::string& bytes)
{
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (!fs::exists(status)) {
        return ReadOutcome::Missing;
    }
    if (!fs::is_regular_file(status)) {
        return ReadOutcome::NotRegular;
    }
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec) {
        return ReadOutcome::Missing;
    }
    if (size > limit) {
        return ReadOutcome::TooLarge;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        return ReadOutcome::Missing;
    }
    bytes.assign(static_cast<std::size_t>(size), '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return ReadOutcome::Read;
}

// A candidate origin file that exists but cannot be used: WARN, then skip it.
bool usableCandidate(const fs::path& candidate)
{
    const fs::file_status status = statusOrThrow(candidate, "exists");
    if (!fs::exists(status)) {
        return false;
    }
    if (!fs::is_regular_file(status)) {
        Logger::instance().warn("Skipped origin file that is not a regular file: " + candidate.string());
        return false;
    }
    return true;
}

// The origin the DSM rule finds in `bytes`, left in `origin` when there is one.
void scanDsmWindows(const unsigned char* bytes, std::size_t size, SceneOrigin& origin)
{
    if (const auto found = dsmOrigin(bytes, size)) {
        origin.x = found->x;
        origin.y = found->y;
        origin.valid = true;
    }
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

SceneOrigin parseMetadataText(const std::string& text)
{
    SceneOrigin origin;
    std::string numbers[3];
    bool found = false;
    for (std::size_t open = text.find('<'); open != std::string::npos && !found; open = text.find('<', open + 1)) {
        found = originElementAt(text, open, numbers);
    }
    if (!found) {
        return origin;
    }
    double xyz[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        try {
            xyz[i] = textToDouble(numbers[i]);
        } catch (const std::exception&) {
            // A number text can be as long as the file: the message shows its start.
            const std::string shown = numbers[i].size() > 40 ? numbers[i].substr(0, 40) + "..." : numbers[i];
            throw std::invalid_argument("the SRSOrigin element must hold three numbers \"x, y, z\"; its " +
                                        std::string(1, "xyz"[i]) + " is not a usable number: \"" + shown + "\"");
        }
    }
    const double x = xyz[0];
    const double y = xyz[1];
    const double z = xyz[2];
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
        return origin;
    }
    origin.x = x;
    origin.y = y;
    origin.z = z;
    findSrsElement(text, origin.srs);
    origin.valid = true;
    return origin;
}

SceneOrigin parseMetadataOrigin(const fs::path& file)
{
    std::string text;
    switch (readRegularFile(file, kMaxMetadataBytes, text)) {
    case ReadOutcome::Read: break;
    case ReadOutcome::TooLarge:
        Logger::instance().warn("Skipped metadata file larger than " + std::to_string(kMaxMetadataBytes >> 20) +
                                " MB: " + file.string());
        return SceneOrigin{};
    default: return SceneOrigin{};
    }
    SceneOrigin origin;
    try {
        origin = parseMetadataText(text);
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(file.string() + ": " + e.what());
    }
    if (origin.valid) {
        origin.sourcePath = file.string();
    }
    return origin;
}

SceneOrigin scanDsmBytes(const unsigned char* bytes, std::size_t size)
{
    SceneOrigin origin;
    scanDsmWindows(bytes, size, origin);
    return origin;
}

SceneOrigin scanDsmOrigin(const fs::path& file)
{
    SceneOrigin origin;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        return origin;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        return origin;
    }
    // Read in blocks; the last 15 bytes of a block start the next one, so
    // every window is seen once and in file order.
    constexpr std::size_t kBlock = 1 << 20;
    std::vector<unsigned char> buffer;
    for (;;) {
        const std::size_t kept = buffer.size();
        buffer.resize(kept + kBlock);
        in.read(reinterpret_cast<char*>(buffer.data() + kept), static_cast<std::streamsize>(kBlock));
        buffer.resize(kept + static_cast<std::size_t>(in.gcount()));
        if (buffer.size() == kept) {
            break;
        }
        scanDsmWindows(buffer.data(), buffer.size(), origin);
        if (buffer.size() > 15) {
            buffer.erase(buffer.begin(), buffer.end() - 15);
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
        if (!usableCandidate(candidate)) {
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
        if (!usableCandidate(candidate)) {
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

ModelIdentity modelIdentityOf(const fs::path& model, const std::vector<fs::path>& roots, const SceneOrigin& origin)
{
    ModelIdentity identity;
    for (const fs::path& root : roots) {
        std::error_code ec;
        RootTileStamp stamp;
        stamp.name = root.lexically_relative(model).generic_string();
        if (stamp.name.empty() || stamp.name == ".") {
            stamp.name = root.filename().string();  // the model is this one file
        }
        stamp.size = fs::file_size(root, ec);
        const auto modified = fs::last_write_time(root, ec);
        stamp.modified = static_cast<long long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count());
        identity.roots.push_back(std::move(stamp));
    }
    if (origin.valid && !origin.sourcePath.empty()) {
        identity.originFile = fs::path(origin.sourcePath).filename().string();
        const int fd = ::open(origin.sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            hashOpenFile(fd, identity.origin);
            ::close(fd);
        }
    }
    return identity;
}

std::vector<fs::path> prepareModelRoots(const std::string& osgbPath)
{
    Logger& log = Logger::instance();
    installOsgNoticeLog();
    setupPluginPath();
    const fs::path path(osgbPath);
    if (!existsOrThrow(path)) {
        log.error(runMessage(RunMessage::OsgbPathMissing, {osgbPath}));
        return {};
    }
    std::vector<fs::path> roots = findRootOsgbFiles(path);
    if (roots.empty()) {
        log.error(runMessage(RunMessage::NoRootTiles, {osgbPath}));
        return {};
    }
    installTileReadCallback();
    osgDB::Registry::instance()->setBuildKdTreesHint(osgDB::Options::BUILD_KDTREES);
    return roots;
}

osg::ref_ptr<osg::Node> loadScene(const std::string& osgbPath, ModelIdentity* identity, SceneOrigin* originOut)
{
    Logger& log = Logger::instance();
    const fs::path path(osgbPath);
    const std::vector<fs::path> roots = prepareModelRoots(osgbPath);
    if (roots.empty()) {
        return nullptr;
    }
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
            log.error(runMessage(RunMessage::SceneReadFailed, {file}));
        }
    }
    if (group->getNumChildren() == 0) {
        log.error(runMessage(RunMessage::NoSceneLoaded, {osgbPath}));
        return nullptr;
    }

    osg::ref_ptr<osg::Node> sceneRoot = group;
    const SceneOrigin origin = readSceneOrigin(path);
    if (identity) {
        *identity = modelIdentityOf(path, roots, origin);
    }
    if (originOut) {
        *originOut = origin;
    }
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
