#include "model/RootIndex.h"

#include "model/ModelSource.h"

#include "core/ContentHash.h"
#include "core/NumberText.h"

#include <osg/Node>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
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
    std::string why;
    const bool usable = checkRootBound(entry.bound, why);
    const osg::BoundingSphere b = usable ? entry.bound : osg::BoundingSphere();
    return std::to_string(entry.size) + ' ' + std::to_string(entry.mtime) + ' ' +
           (entry.readable && usable ? '1' : '0') + ' ' + hexNumber(b.center().x()) + ' ' + hexNumber(b.center().y()) +
           ' ' + hexNumber(b.center().z()) + ' ' + hexNumber(b.radius()) + ' ' + entry.path + '\n';
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
    const double largest = std::numeric_limits<Value>::max();
    if (std::fabs(value[0]) > largest || std::fabs(value[1]) > largest || std::fabs(value[2]) > largest ||
        std::fabs(value[3]) > largest) {
        // Not a bound we wrote: no bound, and the file is read again.
        entry.readable = false;
        return !entry.path.empty();
    }
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

bool checkRootBound(const osg::BoundingSphere& bound, std::string& reason)
{
    const osg::Vec3d c(bound.center());
    const double r = bound.radius();
    const auto centre = [&c] {
        return "centre (" + coordinateNumber(c.x()) + ", " + coordinateNumber(c.y()) + ", " + coordinateNumber(c.z()) +
               ")";
    };
    if (!std::isfinite(c.x()) || !std::isfinite(c.y()) || !std::isfinite(c.z())) {
        reason = centre() + " is not a finite point";
        return false;
    }
    if (!std::isfinite(r)) {
        reason = "radius " + streamNumber(r) + " is not finite";
        return false;
    }
    if (std::fabs(c.x()) > kMaxRootCentre || std::fabs(c.y()) > kMaxRootCentre || std::fabs(c.z()) > kMaxRootCentre) {
        reason = centre() + " lies beyond " + streamNumber(kMaxRootCentre) + " m";
        return false;
    }
    if (r > kMaxRootRadius) {
        reason = "radius " + streamNumber(r) + " exceeds " + streamNumber(kMaxRootRadius) + " m";
        return false;
    }
    return true;
}

bool placesRoot(const osg::BoundingSphere& bound)
{
    std::string why;
    return checkRootBound(bound, why) && bound.valid();
}

bool boundWithin(const osg::BoundingSphere& actual, const osg::BoundingSphere& indexed)
{
    if (!actual.valid() || !indexed.valid()) {
        return false;
    }
    const double apart = (osg::Vec3d(actual.center()) - osg::Vec3d(indexed.center())).length();
    const double slack = 0.001 * indexed.radius() + 0.01;
    return apart + actual.radius() <= indexed.radius() + slack;
}

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

RootIndexing indexRoots(const ModelSource& source, const std::vector<RootEntry>& known)
{
    std::unordered_map<std::string, const RootEntry*> byPath;
    for (const RootEntry& entry : known) {
        byPath[entry.path] = &entry;
    }
    RootIndexing indexing;
    indexing.entries.reserve(source.roots().size());
    for (const std::string& root : source.roots()) {
        RootEntry stamp;
        const bool stamped = source.rootStamp(root, stamp.size, stamp.mtime);
        const auto found = byPath.find(root);
        const bool takeOver = stamped && found != byPath.end() && found->second->size == stamp.size &&
                              found->second->mtime == stamp.mtime && found->second->readable &&
                              placesRoot(found->second->bound);
        indexing.takenOver.push_back(takeOver);
        if (takeOver) {
            indexing.entries.push_back(*found->second);
            continue;
        }
        indexing.reread += stamped ? 1 : 0;
        indexing.entries.push_back(source.readEntry(root));
    }
    return indexing;
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
