#include "app/RunJournal.h"

#include "core/ConfigKeys.h"
#include "core/ContentHash.h"
#include "core/PathBelow.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace vistrel {

namespace {

constexpr const char* kFolder = ".vistrel";

const char* outcomeOf(const ImageResult& result)
{
    return result.skipped ? "skipped" : result.success ? "written" : "failed";
}

void syncFolder(const fs::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

namespace {

// FNV-1a of the JSON text, the same on every machine.
std::string fingerprintOf(const json& identity)
{
    const std::string text = identity.dump(-1, ' ', false, json::error_handler_t::replace);
    std::uint64_t hash = 1469598103934665603ULL;
    for (const unsigned char byte : text) {
        hash = (hash ^ byte) * 1099511628211ULL;
    }
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return digits;
}

}  // namespace

std::string batchFingerprint(const RenderConfig& c)
{
    return fingerprintOf(batchIdentity(c));
}

std::string batchFingerprint(const RenderConfig& c, const ModelIdentity& model)
{
    json roots = json::array();
    for (const RootTileStamp& root : model.roots) {
        roots.push_back({root.name, root.size, root.modified});
    }
    const json origin = {model.originFile, model.origin.size, formatContentHash(model.origin.hash)};
    return fingerprintOf(json{batchIdentity(c), origin, roots});
}

std::string frameGeometry(const PolygonFrame& frame)
{
    ContentHasher hasher;
    for (const auto& ring : frame.rings) {
        const std::uint64_t points = ring.size();
        hasher.add(&points, sizeof points);
        for (const RingPoint& point : ring) {
            const double xy[2] = {point.x, point.y};
            hasher.add(xy, sizeof xy);
        }
    }
    return formatContentHash(hasher.digest().hash);
}

std::string takeOverRefusal(const JournalEntry& entry, const std::string& outputDir)
{
    std::string why;
    const int fd = openRegularBelow(outputDir, entry.result.path, why);
    if (fd < 0) {
        return why;
    }
    FileDigest digest;
    std::string reason;
    const bool hashed = hashOpenFile(fd, digest, &reason);
    ::close(fd);
    if (!hashed) {
        return entry.result.path + ": " + reason;
    }
    if (static_cast<std::int64_t>(digest.size) != entry.size) {
        return entry.result.path + " has " + std::to_string(digest.size) + " bytes, the journal recorded " +
               std::to_string(entry.size);
    }
    if (entry.hash.empty() || formatContentHash(digest.hash) != entry.hash) {
        return entry.result.path + " does not have the content the journal recorded";
    }
    return std::string();
}

std::string journalLine(const JournalEntry& e)
{
    const json line = {
        {"batch", e.batch},
        {"frame", e.frame},
        {"name", e.frameName},
        {"angle", e.angle},
        {"result", outcomeOf(e.result)},
        {"path", e.result.path},
        {"size", e.size},
        {"hash", e.hash},
        {"geometry", e.geometry},
        {"seconds", e.result.seconds},
        {"score", e.result.occlusionScore},
        {"view_angle", e.result.viewAngle},
        {"note", e.result.note},
        {"bounds", {e.bounds[0], e.bounds[1], e.bounds[2], e.bounds[3]}},
        {"heights", {e.heights[0], e.heights[1], e.heights[2]}},
        {"names", e.namesAllFrames ? "all_frames" : "rendered_frames"},
    };
    // Invalid UTF-8 in a name or note is replaced rather than losing the line.
    return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool parseJournalLine(const std::string& text, JournalEntry& e)
{
    try {
        const json line = json::parse(text);
        if (!line.is_object()) {
            return false;
        }
        JournalEntry parsed;
        parsed.batch = line.at("batch").get<std::string>();
        parsed.frame = line.at("frame").get<int>();
        parsed.frameName = line.at("name").get<std::string>();
        parsed.angle = line.at("angle").get<std::string>();
        const std::string outcome = line.at("result").get<std::string>();
        if (outcome != "written" && outcome != "failed" && outcome != "skipped") {
            return false;
        }
        parsed.result.success = outcome == "written";
        parsed.result.skipped = outcome == "skipped";
        parsed.result.path = line.at("path").get<std::string>();
        parsed.size = line.at("size").get<std::int64_t>();
        parsed.hash = line.value("hash", std::string());
        parsed.geometry = line.value("geometry", std::string());
        parsed.result.seconds = line.at("seconds").get<double>();
        parsed.result.occlusionScore = line.at("score").get<double>();
        parsed.result.viewAngle = line.at("view_angle").get<double>();
        parsed.result.note = line.at("note").get<std::string>();
        const auto& bounds = line.at("bounds");
        const auto& heights = line.at("heights");
        for (int i = 0; i < 4; ++i) {
            parsed.bounds[i] = bounds.at(i).get<double>();
        }
        for (int i = 0; i < 3; ++i) {
            parsed.heights[i] = heights.at(i).get<double>();
        }
        const std::string names = line.value("names", std::string("all_frames"));
        if (names != "all_frames" && names != "rendered_frames") {
            return false;
        }
        parsed.namesAllFrames = names == "all_frames";
        if (parsed.frame < 0) {
            return false;
        }
        e = std::move(parsed);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string journalPath(const std::string& outputDir, int shardIndex, int shardCount)
{
    return (fs::path(outputDir) / kFolder /
            ("journal-" + std::to_string(shardIndex) + "-of-" + std::to_string(shardCount) + ".jsonl"))
        .string();
}

bool RunJournal::moveAside(const std::string& path, std::string& error)
{
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        return true;
    }
    for (int n = 1;; ++n) {
        const std::string aside = path + "." + std::to_string(n) + ".old";
        if (!fs::exists(aside, ec)) {
            fs::rename(path, aside, ec);
            break;
        }
    }
    if (ec && fs::exists(path)) {
        error = path + ": " + ec.message();
        return false;
    }
    return true;
}

RunJournal::~RunJournal()
{
    if (file_) {
        std::fclose(file_);
    }
}

bool RunJournal::open(const std::string& outputDir, int shardIndex, int shardCount, bool keep, std::string& error)
{
    outputDir_ = fs::path(outputDir).lexically_normal().string();
    path_ = journalPath(outputDir, shardIndex, shardCount);
    refused_ = false;
    const fs::path folder = fs::path(path_).parent_path();
    std::error_code ec;
    try {
        const std::string link = makeFolderBelow(folder, outputDir);
        if (!link.empty()) {
            refused_ = true;
            error = link;
            return false;
        }
    } catch (const fs::filesystem_error& e) {
        error = path_ + ": " + e.code().message();
        return false;
    }
    if (!keep) {
        if (!moveAside(path_, error)) {
            return false;
        }
        // Journals of the same folder split another way belong to another batch.
        const std::string ours = "-of-" + std::to_string(shardCount) + ".jsonl";
        for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.rfind("journal-", 0) == 0 && it->path().extension() == ".jsonl" && name.size() > ours.size() &&
                name.compare(name.size() - ours.size(), ours.size(), ours) != 0) {
                std::string ignored;
                moveAside(it->path().string(), ignored);  // another shard of that batch may race us to it
            }
        }
    }
    // Never through a link planted in the journal's place.
    const int fd = ::open(path_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        refused_ = errno == ELOOP;
        error = refused_ ? path_ : path_ + ": " + std::strerror(errno);
        return false;
    }
    file_ = ::fdopen(fd, "ab+");
    if (!file_) {
        error = path_ + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    // A line torn by a kill is closed off, so the next line stands on its own.
    if (std::fseek(file_, 0, SEEK_END) == 0 && std::ftell(file_) > 0 && std::fseek(file_, -1, SEEK_END) == 0 &&
        std::fgetc(file_) != '\n') {
        std::fseek(file_, 0, SEEK_END);
        std::fputc('\n', file_);
        std::fflush(file_);
    }
    std::fseek(file_, 0, SEEK_END);  // from reading back to writing
    syncFolder(folder);
    return true;
}

bool RunJournal::append(const JournalEntry& entry, std::string& error)
{
    if (!file_) {
        error = "the run journal is not open";
        return false;
    }
    // Paths below the output folder are kept relative to it, so that machines
    // that mount the shared folder elsewhere still find the files.
    JournalEntry stored = entry;
    const fs::path relative = fs::path(entry.result.path).lexically_relative(outputDir_);
    if (!entry.result.path.empty() && !relative.empty() && *relative.begin() != "..") {
        stored.result.path = relative.string();
    }
    const std::string line = journalLine(stored) + "\n";
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0 ||
        ::fsync(::fileno(file_)) != 0) {
        error = path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

JournalIndex readJournals(const std::string& outputDir, const std::string& batch)
{
    JournalIndex index;
    const fs::path folder = fs::path(outputDir) / kFolder;
    std::error_code ec;
    std::vector<fs::path> journals;
    for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        // A journal is a file of our own; a link in its place is not read.
        if (name.rfind("journal-", 0) == 0 && it->path().extension() == ".jsonl" &&
            fs::is_regular_file(it->symlink_status(ec))) {
            journals.push_back(it->path());
        }
    }
    std::sort(journals.begin(), journals.end());
    for (const fs::path& journal : journals) {
        std::ifstream in(journal, std::ios::binary);
        for (std::string text; std::getline(in, text);) {
            JournalEntry entry;
            if (!parseJournalLine(text, entry) || entry.batch != batch) {
                continue;
            }
            if (!entry.result.path.empty() && fs::path(entry.result.path).is_relative()) {
                entry.result.path = (fs::path(outputDir) / entry.result.path).lexically_normal().string();
            }
            // A written image outranks a skip, a skip outranks a failure.
            const auto rank = [](const JournalEntry& e) { return e.result.success ? 2 : e.result.skipped ? 1 : 0; };
            auto& slot = index[{entry.frame, entry.angle}];
            if (slot.frame < 0 || rank(entry) >= rank(slot)) {
                slot = std::move(entry);
            }
        }
    }
    return index;
}

}  // namespace vistrel
