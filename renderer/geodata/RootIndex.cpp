#include "geodata/RootIndex.h"

#include "core/ContentHash.h"

#include <osg/Node>
#include <osgDB/ReadFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <unordered_map>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

const char* const kHeader = "vistrel root index 1\n";

std::string hexNumber(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%a", value);
    return text;
}

bool readHexNumber(const std::string& text, double& value)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

std::string entryLine(const RootEntry& entry)
{
    const osg::BoundingSphere& b = entry.bound;
    return std::to_string(entry.size) + ' ' + std::to_string(entry.mtime) + ' ' + (entry.readable ? '1' : '0') + ' ' +
           hexNumber(b.center().x()) + ' ' + hexNumber(b.center().y()) + ' ' + hexNumber(b.center().z()) + ' ' +
           hexNumber(b.radius()) + ' ' + entry.path + '\n';
}

bool parseEntryLine(const std::string& line, RootEntry& entry)
{
    std::istringstream in(line);
    std::string size, mtime, readable, number[4];
    if (!(in >> size >> mtime >> readable >> number[0] >> number[1] >> number[2] >> number[3])) {
        return false;
    }
    double value[4];
    for (int i = 0; i < 4; ++i) {
        if (!readHexNumber(number[i], value[i])) {
            return false;
        }
    }
    if (in.get() != ' ' || (readable != "0" && readable != "1")) {
        return false;
    }
    std::getline(in, entry.path);
    try {
        std::size_t used = 0;
        entry.size = std::stoull(size, &used);
        if (used != size.size()) {
            return false;
        }
        entry.mtime = std::stoll(mtime, &used);
        if (used != mtime.size()) {
            return false;
        }
    } catch (const std::exception&) {
        return false;
    }
    entry.readable = readable == "1";
    using Value = osg::BoundingSphere::value_type;
    entry.bound.set(osg::BoundingSphere::vec_type(static_cast<Value>(value[0]), static_cast<Value>(value[1]),
                                                  static_cast<Value>(value[2])),
                    static_cast<Value>(value[3]));
    return !entry.path.empty();
}

std::uint64_t textHash(const std::string& text, std::size_t length)
{
    ContentHasher hasher;
    hasher.add(text.data(), length);
    return hasher.digest().hash;
}

}  // namespace

bool rootFileStamp(const fs::path& file, std::uintmax_t& size, std::int64_t& mtime)
{
    std::error_code ec;
    size = fs::file_size(file, ec);
    if (ec) {
        return false;
    }
    const fs::file_time_type time = fs::last_write_time(file, ec);
    if (ec) {
        return false;
    }
    mtime = static_cast<std::int64_t>(time.time_since_epoch().count());
    return true;
}

std::vector<RootEntry> indexRoots(const std::vector<fs::path>& roots, const std::vector<RootEntry>& known,
                                  const osgDB::Options* options, int& reread)
{
    std::unordered_map<std::string, const RootEntry*> byPath;
    for (const RootEntry& entry : known) {
        byPath[entry.path] = &entry;
    }
    reread = 0;
    std::vector<RootEntry> entries;
    entries.reserve(roots.size());
    for (const fs::path& root : roots) {
        RootEntry entry;
        entry.path = root.string();
        if (!rootFileStamp(root, entry.size, entry.mtime)) {
            entries.push_back(entry);  // gone or unreadable: never loaded
            continue;
        }
        const auto found = byPath.find(entry.path);
        if (found != byPath.end() && found->second->size == entry.size && found->second->mtime == entry.mtime) {
            entries.push_back(*found->second);
            continue;
        }
        ++reread;
        osg::ref_ptr<osgDB::Options> local = options ? options->cloneOptions() : new osgDB::Options;
        local->setObjectCacheHint(osgDB::Options::CACHE_NONE);
        local->getDatabasePathList().push_back(root.parent_path().string());
        const osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(entry.path, local.get());
        entry.readable = node.valid();
        if (node.valid()) {
            entry.bound = node->getBound();
        }
        entries.push_back(entry);
    }
    return entries;
}

std::string encodeRootIndex(const std::vector<RootEntry>& entries)
{
    std::string text = kHeader;
    std::size_t count = 0;
    for (const RootEntry& entry : entries) {
        if (entry.path.find('\n') != std::string::npos || entry.path.empty()) {
            continue;  // read again next time
        }
        text += entryLine(entry);
        ++count;
    }
    const std::uint64_t hash = textHash(text, text.size());
    text += "end " + std::to_string(count) + ' ' + formatContentHash(hash) + '\n';
    return text;
}

bool decodeRootIndex(const std::string& text, std::vector<RootEntry>& entries)
{
    entries.clear();
    const std::string header(kHeader);
    if (text.compare(0, header.size(), header) != 0 || text.size() < header.size() + 2 || text.back() != '\n') {
        return false;
    }
    const std::size_t endLine = text.rfind('\n', text.size() - 2) + 1;
    std::istringstream tail(text.substr(endLine));
    std::string word, hashText;
    std::size_t count = 0;
    std::uint64_t hash = 0;
    if (!(tail >> word >> count >> hashText) || word != "end" || !parseContentHash(hashText, hash) ||
        textHash(text, endLine) != hash) {
        return false;
    }
    std::vector<RootEntry> read;
    std::istringstream body(text.substr(header.size(), endLine - header.size()));
    std::string line;
    while (std::getline(body, line)) {
        RootEntry entry;
        if (!parseEntryLine(line, entry)) {
            return false;
        }
        read.push_back(std::move(entry));
    }
    if (read.size() != count) {
        return false;
    }
    entries = std::move(read);
    return true;
}

}  // namespace vistrel
