#include "model/TileReadCallback.h"

#include "model/BoundedOsgbReader.h"
#include "model/LoadedGraphCheck.h"
#include "model/OsgbHeader.h"
#include "model/TextureHeaderCheck.h"
#include "model/TileReadLedger.h"

#include "core/ByteOrder.h"
#include "core/Logger.h"
#include "core/RegularFile.h"

#include <osg/Image>
#include <osgDB/Callbacks>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/Registry>

#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

osg::ref_ptr<osg::Node> parseBody(const std::string& bytes, bool swapped, const std::string& fileName,
                                  const osgDB::Options* options, std::string& reason)
{
    // As OSG's own file entry does: children are paged from the tile's
    // folder, and the stream is binary.
    osg::ref_ptr<osgDB::Options> local =
        options ? static_cast<osgDB::Options*>(options->clone(osg::CopyOp::SHALLOW_COPY)) : new osgDB::Options;
    local->getDatabasePathList().push_front(osgDB::getFilePath(fileName));
    local->setPluginStringData("fileType", "Binary");
    return parsePlainOsgb(bytes, swapped, local.get(), reason);
}

// The whole of a regular file of at most 512 MB; false, with `reason`, otherwise.
bool readTileFile(const std::string& path, std::string& bytes, std::string& reason)
{
    switch (readRegularFile(fs::path(path), kMaxTileBytes, bytes)) {
    case FileRead::Read: return true;
    case FileRead::TooLarge: reason = "larger than 512 MB"; return false;
    case FileRead::Unreadable: reason = "cannot be read"; return false;
    default: reason = "not a regular file"; return false;
    }
}

// Names a request: the file asked for and the folders it is looked up in.
std::string searchKey(const std::string& file, const osgDB::Options* options)
{
    std::string key = file;
    if (options) {
        for (const std::string& folder : options->getDatabasePathList()) {
            key += '\n';
            key += folder;
        }
    }
    return key;
}

// The file a request resolves to, or empty when it is known to be missing or
// damaged, or is not there. A file met for the first time is logged once;
// requests answered before go nowhere near the disk.
std::string resolveRequest(const std::string& key, const std::string& file, const osgDB::Options* options,
                           const char* kind)
{
    if (tileledger::answeredBefore(key)) {
        return std::string();
    }
    tileledger::countDiskLookup();
    const std::string path = osgDB::findDataFile(file, options);
    if (path.empty()) {
        if (tileledger::rememberMissing(key, file)) {
            Logger::instance().warn(std::string("Missing ") + kind + " file: " + file);
        }
        return std::string();
    }
    if (tileledger::isKnownBad(path)) {
        // Rejected before under another name: no second WARN.
        tileledger::rememberRefused(key, file, path);
        return std::string();
    }
    return path;
}

// Logged once per file; the file reads as missing from then on.
void reject(const std::string& key, const std::string& file, const std::string& path, const char* kind,
            const std::string& reason)
{
    if (tileledger::rememberRefused(key, file, path)) {
        Logger::instance().warn(std::string("Skipped damaged ") + kind + " " + path + ": " + reason);
    }
}

// Tests only: VISTREL_TEST_TILE_READ_DELAY_MS slows every model file read
// by that many milliseconds, as a busy disk or network share would.
void testOnlyTileReadDelay()
{
    static const long delay = [] {
        const char* text = std::getenv("VISTREL_TEST_TILE_READ_DELAY_MS");
        return text ? std::strtol(text, nullptr, 10) : 0L;
    }();
    if (delay > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
}

class TileReadCallback : public osgDB::ReadFileCallback {
public:
    osgDB::ReaderWriter::ReadResult readNode(const std::string& file, const osgDB::Options* options) override
    {
        testOnlyTileReadDelay();
        const std::string key = searchKey(file, options);
        const std::string path = resolveRequest(key, file, options, "tile");
        if (path.empty()) {
            return osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND;
        }
        std::string reason;
        osg::ref_ptr<osg::Node> node = readChecked(file, path, options, reason);
        if (node) {
            return node.get();
        }
        reject(key, file, path, "tile", reason);
        return osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND;
    }

    // A texture a tile names as a file of its own is checked as an
    // embedded one is, and decoded from the bytes that were checked.
    osgDB::ReaderWriter::ReadResult readImage(const std::string& file, const osgDB::Options* options) override
    {
        const std::string key = searchKey(file, options);
        const std::string path = resolveRequest(key, file, options, "texture");
        if (path.empty()) {
            return osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND;
        }
        std::string bytes;
        std::string reason;
        osg::ref_ptr<osg::Image> image;
        if (readTileFile(path, bytes, reason)) {
            const std::string extension = osgDB::getLowerCaseFileExtension(path);
            checkEmbeddedImage(extension, bytes.data(), bytes.size(), reason);
            osgDB::ReaderWriter* reader = osgDB::Registry::instance()->getReaderWriterForExtension(extension);
            if (reason.empty() && !reader) {
                reason = "no reader for it";
            } else if (reason.empty()) {
                std::istringstream in(bytes);
                image = reader->readImage(in, options).takeImage();
                reason = image ? "" : "the reader could not read it";
            }
        }
        if (image) {
            image->setFileName(file);
            return image.get();
        }
        reject(key, file, path, "texture", reason);
        return osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND;
    }

private:
    osg::ref_ptr<osg::Node> readChecked(const std::string& file, const std::string& path, const osgDB::Options* options,
                                        std::string& reason)
    {
        if (osgDB::getLowerCaseFileExtension(path) != "osgb") {
            std::error_code ec;
            if (!fs::is_regular_file(fs::status(fs::path(path), ec))) {
                reason = "not a regular file";
                return nullptr;
            }
            osgDB::ReaderWriter::ReadResult result = osgDB::ReadFileCallback::readNode(file, options);
            osg::ref_ptr<osg::Node> node = result.getNode();
            if (!node) {
                reason = "the reader could not read it";
                return nullptr;
            }
            return checkLoadedGraph(*node, reason) ? node : nullptr;
        }
        std::string bytes;
        if (!readTileFile(path, bytes, reason)) {
            return nullptr;
        }
        return readCheckedOsgb(bytes, path, options, reason);
    }
};

}  // namespace

osg::ref_ptr<osg::Node> readCheckedOsgb(const std::string& bytes, const std::string& fileName,
                                        const osgDB::Options* options, std::string& reason)
{
    if (!checkOsgbHeader(bytes, reason)) {
        return nullptr;
    }
    const OsgbLayout layout = readOsgbLayout(bytes);
    osg::ref_ptr<osg::Node> node;
    if (layout.compressor == "zlib") {
        // Inflated here so that the reader sees a plain body through the
        // same bounded buffer.
        std::string body;
        if (!inflateOsgbBody(bytes.data() + layout.bodyAt, bytes.size() - layout.bodyAt, body, reason)) {
            return nullptr;
        }
        std::string plain = bytes.substr(0, layout.compressorAt);
        std::uint32_t one = layout.swapped ? reversedBytes(1u) : 1u;
        plain.append(reinterpret_cast<const char*>(&one), 4);
        plain += '0';
        plain += body;
        node = parseBody(plain, layout.swapped, fileName, options, reason);
    } else {
        node = parseBody(bytes, layout.swapped, fileName, options, reason);
    }
    if (!node) {
        return nullptr;
    }
    return checkLoadedGraph(*node, reason) ? node : nullptr;
}

void installTileReadCallback()
{
    static std::once_flag once;
    std::call_once(once, [] { osgDB::Registry::instance()->setReadFileCallback(new TileReadCallback); });
}

}  // namespace vistrel
