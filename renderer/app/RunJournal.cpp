#include "app/RunJournal.h"

#include "core/ConfigKeys.h"
#include "core/ContentHash.h"
#include "core/FrameArea.h"
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
#include <sys/file.h>
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

// The fingerprint of the JSON text, the same on every machine.
std::string fingerprintOf(const json& identity)
{
    return formatContentHash(textFingerprint(identity.dump(-1, ' ', false, json::error_handler_t::replace)));
}

}  // namespace

std::string batchFingerprint(const RenderConfig& c)
{
    return fingerprintOf(batchIdentity(c));
}

namespace {

// The model's part of a batch's identity: its origin file and root tiles.
json originIdentity(const ModelIdentity& model)
{
    return {model.originFile, model.origin.size, formatContentHash(model.origin.hash)};
}

json rootsIdentity(const ModelIdentity& model)
{
    json roots = json::array();
    for (const RootTileStamp& root : model.roots) {
        roots.push_back({root.name, root.size, root.modified});
    }
    return roots;
}

}  // namespace

std::string batchFingerprint(const RenderConfig& c, const ModelIdentity& model)
{
    return fingerprintOf(json{batchIdentity(c), originIdentity(model), rootsIdentity(model)});
}

namespace {

// What the fingerprint of batchFingerprint(config, model) is made of, with
// the settings by name, so that two batches can be told apart in words.
json batchIdentityOf(const RenderConfig& c, const ModelIdentity& model)
{
    json settings = json::object();
    for (const ConfigKey& key : configKeyTable()) {
        const bool valueCounts =
            key.identity == BatchIdentity::Value ||
            (key.identity == BatchIdentity::ValueWhenSet && configKeyValue(c, key) != vistrelDefault(key));
        if (valueCounts) {
            settings[key.name] = configKeyValue(c, key);
        } else if (key.identity == BatchIdentity::FileName) {
            settings[key.name] = fs::path(configKeyValue(c, key).get<std::string>()).filename().string();
        }
    }
    return {{"settings", settings}, {"origin", originIdentity(model)}, {"roots", rootsIdentity(model)}};
}

}  // namespace

std::string batchLine(const RenderConfig& config, const ModelIdentity& model)
{
    const json line = {{"batch", batchFingerprint(config, model)}, {"identity", batchIdentityOf(config, model)}};
    return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string frameGeometry(const PolygonFrame& frame)
{
    ContentHasher hasher;
    // A hole's point count carries the top bit; a frame without holes keeps
    // the digest it had before holes were read.
    constexpr std::uint64_t kHoleMark = std::uint64_t{1} << 63;
    for (std::size_t i = 0; i < frame.rings.size(); ++i) {
        const auto& ring = frame.rings[i];
        const std::uint64_t points = ring.size() | (isHoleRing(frame, i) ? kHoleMark : 0);
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
        {"model_heights", e.modelHeights},
        {"model_share", e.modelShare},
        {"visible_share", e.result.visibleShare},
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
        parsed.modelHeights = line.value("model_heights", true);
        parsed.modelShare = line.value("model_share", -1.0);
        parsed.result.visibleShare = line.value("visible_share", -1.0);
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

namespace {

constexpr int kOldJournalsKept = 3;

// The n of "<path>.<n>.old" files beside `path`, in ascending order.
std::vector<int> oldNumbers(const fs::path& path)
{
    const std::string prefix = path.filename().string() + ".";
    std::vector<int> numbers;
    std::error_code ec;
    for (fs::directory_iterator it(path.parent_path(), ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - 4, 4, ".old") != 0) {
            continue;
        }
        const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        if (digits.size() < 10 &&
            std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            numbers.push_back(std::stoi(digits));
        }
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::string oldName(const std::string& path, int n)
{
    return path + "." + std::to_string(n) + ".old";
}

// The lock file of a journal: journal-<k>-of-<n>.lock beside it.
std::string lockPathOf(const fs::path& journal)
{
    return fs::path(journal).replace_extension(".lock").string();
}

// Who holds a lock file: the "<pid> on <host>" its holder wrote.
std::string holderOf(int fd)
{
    char text[300] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    std::string holder(text, got > 0 ? static_cast<std::size_t>(got) : 0);
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' ')) {
        holder.pop_back();
    }
    return holder.empty() ? "unknown" : holder;
}

// A try at the lock of a lock file, without waiting. The lock belongs to
// the open file: closing it, or the end of the process, lets go.
struct LockTry {
    int fd = -1;  // open and locked by this process
    std::string holder;  // another process holds it
    std::string problem;  // the file system cannot lock (the file is not held)
    std::string error;  // the file cannot be opened
    bool link = false;  // a symbolic link stands in its place
};

// With `exclusive` the lock is taken and the file names this process;
// without, a shared lock only tells whether some run holds it.
LockTry tryLock(const std::string& path, bool exclusive)
{
    LockTry attempt;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        attempt.link = errno == ELOOP;
        attempt.error = attempt.link ? path : path + ": " + std::strerror(errno);
        return attempt;
    }
    if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            attempt.holder = holderOf(fd);
        } else {
            attempt.problem = path + ": " + std::strerror(errno);
        }
        ::close(fd);
        return attempt;
    }
    attempt.fd = fd;
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string holder = std::to_string(::getpid()) + " on " + host + "\n";
    // Should this fail, the lock holds all the same; only its holder is not named.
    if (exclusive && ::ftruncate(fd, 0) == 0) {
        const ssize_t written = ::pwrite(fd, holder.data(), holder.size(), 0);
        static_cast<void>(written);
    }
    return attempt;
}

}  // namespace

bool RunJournal::moveAside(const std::string& path, std::string& error)
{
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) {
        return true;
    }
    std::vector<int> numbers = oldNumbers(path);
    const int next = numbers.empty() ? 1 : numbers.back() + 1;
    fs::rename(path, oldName(path, next), ec);
    if (ec && fs::exists(fs::symlink_status(path))) {
        error = path + ": " + ec.message();
        return false;
    }
    numbers.push_back(next);
    for (std::size_t i = 0; i + kOldJournalsKept < numbers.size(); ++i) {
        fs::remove(oldName(path, numbers[i]), ec);
    }
    return true;
}

bool RunJournal::lock(std::string& error)
{
    const LockTry attempt = tryLock(lockPathOf(path_), true);
    if (!attempt.holder.empty()) {
        lockHolder_ = attempt.holder;
        error = path_;
        return false;
    }
    if (!attempt.error.empty()) {
        refused_ = attempt.link;
        error = attempt.error;
        return false;
    }
    lockProblem_ = attempt.problem;
    lockFd_ = attempt.fd;
    return true;
}

bool RunJournal::moveOtherSplitsAside(const std::string& folder, int shardCount, std::string& error)
{
    // Journals of the same folder split another way belong to another batch.
    const std::string ours = "-of-" + std::to_string(shardCount) + ".jsonl";
    std::vector<fs::path> others;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("journal-", 0) == 0 && it->path().extension() == ".jsonl" && name.size() > ours.size() &&
            name.compare(name.size() - ours.size(), ours.size(), ours) != 0) {
            others.push_back(it->path());
        }
    }
    // Held shared while they are moved, so that none of their runs starts
    // meanwhile, while the other shards of this split may move them too.
    std::vector<int> held;
    for (const fs::path& other : others) {
        const LockTry attempt = tryLock(lockPathOf(other), false);
        held.push_back(attempt.fd);
        if (!attempt.holder.empty()) {
            lockHolder_ = attempt.holder;
            error = other.string();
            break;
        }
    }
    for (std::size_t i = 0; !locked() && i < others.size(); ++i) {
        std::string ignored;
        moveAside(others[i].string(), ignored);  // another shard of that batch may race us to it
    }
    for (const int fd : held) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    return !locked();
}

RunJournal::~RunJournal()
{
    if (file_) {
        std::fclose(file_);
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_);
    }
}

bool RunJournal::open(const std::string& outputDir, int shardIndex, int shardCount, bool keep, const std::string& batch,
                      std::string& error)
{
    outputDir_ = fs::path(outputDir).lexically_normal().string();
    path_ = journalPath(outputDir, shardIndex, shardCount);
    refused_ = false;
    lockHolder_.clear();
    lockProblem_.clear();
    const fs::path folder = fs::path(path_).parent_path();
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
    if (!lock(error)) {
        return false;
    }
    if (!keep && (!moveOtherSplitsAside(folder.string(), shardCount, error) || !moveAside(path_, error))) {
        return false;
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
    syncFolder(folder);
    return recordBatch(batch, error);
}

bool RunJournal::recordBatch(const std::string& batch, std::string& error)
{
    if (batch.empty()) {
        return true;
    }
    std::fseek(file_, 0, SEEK_SET);
    bool present = false;
    char* text = nullptr;
    std::size_t capacity = 0;
    for (ssize_t got; !present && (got = ::getline(&text, &capacity, file_)) > 0;) {
        const std::size_t size = static_cast<std::size_t>(got) - (text[got - 1] == '\n' ? 1 : 0);
        present = batch.compare(0, std::string::npos, text, size) == 0;
    }
    std::free(text);
    std::fseek(file_, 0, SEEK_END);  // from reading back to writing
    const std::string line = batch + "\n";
    if (!present && (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0 ||
                     ::fsync(::fileno(file_)) != 0)) {
        error = path_ + ": " + std::strerror(errno);
        return false;
    }
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

namespace {

// The journals of the output folder, in the order of their names.
std::vector<fs::path> journalFiles(const std::string& outputDir)
{
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
    return journals;
}

}  // namespace

JournalIndex readJournals(const std::string& outputDir, const std::string& batch)
{
    JournalIndex index;
    for (const fs::path& journal : journalFiles(outputDir)) {
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

namespace {

// What the journals of a folder hold, as far as a resume that takes nothing
// over needs it: the batch of their last image line and each batch's identity.
struct JournalScan {
    long long images = 0;
    std::string lastBatch;
    std::map<std::string, json> identities;
};

JournalScan scanJournals(const std::string& outputDir)
{
    JournalScan scan;
    for (const fs::path& journal : journalFiles(outputDir)) {
        std::ifstream in(journal, std::ios::binary);
        for (std::string text; std::getline(in, text);) {
            JournalEntry entry;
            if (parseJournalLine(text, entry)) {
                ++scan.images;
                scan.lastBatch = entry.batch;
                continue;
            }
            try {
                const json line = json::parse(text);
                scan.identities[line.at("batch").get<std::string>()] = line.at("identity");
            } catch (const std::exception&) {
                // A torn line, or a line of a kind this version does not know.
            }
        }
    }
    return scan;
}

// "a, b, c and 2 more" of the first three of `items`.
std::string someOf(const std::vector<std::string>& items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size() && i < 3; ++i) {
        text += (i == 0 ? "" : ", ") + items[i];
    }
    return items.size() > 3 ? text + " and " + std::to_string(items.size() - 3) + " more" : text;
}

// The settings whose values differ between two identities.
std::vector<std::string> changedSettings(const json& before, const json& now)
{
    std::vector<std::string> changed;
    for (const auto& [key, value] : now.items()) {
        if (!before.contains(key) || before.at(key) != value) {
            changed.push_back(key);
        }
    }
    for (const auto& [key, value] : before.items()) {
        if (!now.contains(key)) {
            changed.push_back(key);
        }
    }
    return changed;
}

// The root tiles added, gone or changed between two identities.
std::vector<std::string> changedRoots(const json& before, const json& now)
{
    std::map<std::string, json> earlier;
    for (const json& root : before) {
        earlier[root.at(0).get<std::string>()] = root;
    }
    std::vector<std::string> changed;
    for (const json& root : now) {
        const std::string name = root.at(0).get<std::string>();
        const auto found = earlier.find(name);
        if (found == earlier.end()) {
            changed.push_back(name + " is new");
            continue;
        }
        if (found->second != root) {
            changed.push_back(name + " size/time differ");
        }
        earlier.erase(found);
    }
    for (const auto& [name, root] : earlier) {
        changed.push_back(name + " is gone");
    }
    return changed;
}

// What differs between the identity a journal recorded and this run's.
std::string identityChange(const json& before, const json& now)
{
    const std::vector<std::string> settings = changedSettings(before.at("settings"), now.at("settings"));
    if (!settings.empty()) {
        return "the configuration changed: " + someOf(settings) + (settings.size() == 1 ? " differs" : " differ");
    }
    if (before.at("origin") != now.at("origin")) {
        const std::string file = now.at("origin").at(0).get<std::string>();
        return "the model changed: its origin file " + (file.empty() ? std::string("(none)") : file) + " differs";
    }
    const std::vector<std::string> roots = changedRoots(before.at("roots"), now.at("roots"));
    if (!roots.empty()) {
        return "the model changed: " + someOf(roots);
    }
    return "the journal's images belong to another batch";
}

}  // namespace

std::string nothingTakenOver(const std::string& outputDir, const JournalIndex& earlier, const RenderConfig& config,
                             const ModelIdentity& model)
{
    if (std::any_of(earlier.begin(), earlier.end(), [](const auto& entry) { return entry.second.result.success; })) {
        return std::string();
    }
    if (!earlier.empty()) {
        return "the journal records no image of this batch as written";
    }
    const JournalScan scan = scanJournals(outputDir);
    if (scan.images == 0) {
        return "no journal in " + (fs::path(outputDir) / kFolder).string() + " records an image";
    }
    const auto found = scan.identities.find(scan.lastBatch);
    if (found == scan.identities.end()) {
        return "the journal's images belong to another batch (the configuration or the model changed; the journal "
               "does not record which)";
    }
    try {
        return identityChange(found->second, batchIdentityOf(config, model));
    } catch (const std::exception&) {
        return "the journal's images belong to another batch";
    }
}

}  // namespace vistrel
