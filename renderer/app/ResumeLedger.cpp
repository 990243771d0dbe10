#include "app/ResumeLedger.h"

#include "core/Logger.h"
#include "core/RunProtocol.h"
#include "core/ShardPlan.h"

#include <algorithm>

namespace vistrel {

bool ResumeLedger::open(const ModelIdentity& model)
{
    Logger& log = Logger::instance();
    const ShardPlan shard = ShardPlan::of(config_);
    fingerprint_ = batchFingerprint(config_, model);
    refusals_.clear();
    failed_ = false;
    retryRefused_ = false;
    // Refused before the journal is made: nothing in the folder changes.
    if (config_.retry_failed_only && readJournals(config_.output_dir, fingerprint_).empty()) {
        return refuseRetry();
    }
    std::string error;
    if (!journal_.open(config_.output_dir, shard.index, shard.count, config_.resume, batchLine(config_, model),
                       error)) {
        log.error(journal_.locked()
                      ? runMessage(RunMessage::JournalLocked, {journal_.lockHolder(), config_.output_dir, error})
                  : journal_.refused() ? runMessage(RunMessage::SymlinkRefused, {error})
                                       : runMessage(RunMessage::JournalFailed, {error}));
        return false;
    }
    if (!journal_.lockProblem().empty()) {
        log.warn("Cannot lock the run journal, so another run on this folder would go unnoticed: " +
                 journal_.lockProblem());
    }
    return readEarlierRuns(model);
}

bool ResumeLedger::refuseRetry()
{
    retryRefused_ = true;
    Logger::instance().error(runMessage(RunMessage::ConfigRetryWithoutJournal, {config_.output_dir}));
    return false;
}

bool ResumeLedger::openToRead(const ModelIdentity& model)
{
    fingerprint_ = batchFingerprint(config_, model);
    refusals_.clear();
    failed_ = false;
    retryRefused_ = false;
    return readEarlierRuns(model);
}

bool ResumeLedger::readEarlierRuns(const ModelIdentity& model)
{
    Logger& log = Logger::instance();
    earlierImages_ = config_.resume ? readJournals(config_.output_dir, fingerprint_) : JournalIndex{};
    if (config_.retry_failed_only && earlierImages_.empty()) {
        return refuseRetry();
    }
    const std::string nothing =
        config_.resume ? nothingTakenOver(config_.output_dir, earlierImages_, config_, model) : std::string();
    if (!nothing.empty()) {
        log.warn("Resume takes nothing over: " + nothing);
    }
    return true;
}

bool ResumeLedger::retries(const LedgerFrame& frame) const
{
    if (!config_.retry_failed_only) {
        return true;
    }
    // A failed or skipped image is one not written.
    for (auto it = earlierImages_.lower_bound({frame.position, std::string()});
         it != earlierImages_.end() && it->first.first == frame.position; ++it) {
        if (it->second.frameName == frame.frame.uniqueName && !it->second.result.success) {
            return true;
        }
    }
    return false;
}

bool ResumeLedger::earlierNamedAllFrames() const
{
    return std::any_of(earlierImages_.begin(), earlierImages_.end(),
                       [](const auto& entry) { return entry.second.namesAllFrames; });
}

ResumeLedger::Replay ResumeLedger::replay(const LedgerFrame& frame, std::string& skipReason) const
{
    if (!config_.resume) {
        return Replay::None;
    }
    Replay replay = Replay::None;
    for (const std::string& angle : config_.angles) {
        const auto found = earlierImages_.find({frame.position, angle});
        // A frame whose geometry changed is looked at afresh.
        if (found == earlierImages_.end() || found->second.frameName != frame.frame.uniqueName ||
            found->second.geometry != frame.geometry) {
            continue;
        }
        if (found->second.result.skipped && !config_.retry_failed_only) {
            skipReason = found->second.result.note;
            return Replay::Skipped;
        }
        replay = found->second.result.success ? Replay::Rendered : replay;
    }
    return replay;
}

void ResumeLedger::recordedMeasures(const LedgerFrame& frame, PolygonFrame& into) const
{
    for (const std::string& angle : config_.angles) {
        const auto found = earlierImages_.find({frame.position, angle});
        if (found == earlierImages_.end() || found->second.frameName != frame.frame.uniqueName ||
            found->second.geometry != frame.geometry) {
            continue;
        }
        const JournalEntry& entry = found->second;
        into.minZ = entry.heights[0];
        into.maxZ = entry.heights[1];
        into.centerZ = entry.heights[2];
        into.hasModelHeights = entry.modelHeights;
        into.modelShare = entry.modelShare;
        return;
    }
}

ResumeLedger::TakeOver ResumeLedger::takeOver(const LedgerFrame& frame, const std::string& key,
                                              const std::string& path) const
{
    if (!config_.resume || path.empty()) {
        return {};
    }
    const auto found = earlierImages_.find({frame.position, key});
    if (found == earlierImages_.end()) {
        return {};
    }
    const JournalEntry& entry = found->second;
    if (!entry.result.success || entry.frameName != frame.frame.uniqueName || entry.result.path != path) {
        return {};
    }
    const auto id = std::make_pair(frame.position, key);
    auto verdict = refusals_.find(id);
    if (verdict == refusals_.end()) {
        const std::string refusal = entry.geometry != frame.geometry
                                        ? "the frame's geometry differs from the journal's run"
                                        : takeOverRefusal(entry, config_.output_dir);
        verdict = refusals_.emplace(id, refusal).first;
    }
    return verdict->second.empty() ? TakeOver{&entry, std::string()} : TakeOver{nullptr, verdict->second};
}

void ResumeLedger::record(const LedgerFrame& frame, const std::string& key, const ImageResult& result,
                          const FileDigest* written, bool namesAllFrames)
{
    JournalEntry entry;
    entry.batch = fingerprint_;
    entry.frame = frame.position;
    entry.frameName = frame.frame.uniqueName;
    entry.angle = key;
    entry.result = result;
    entry.geometry = frame.geometry;
    entry.namesAllFrames = namesAllFrames;
    if (result.success && written) {
        entry.size = static_cast<std::int64_t>(written->size);
        entry.hash = formatContentHash(written->hash);
    }
    const PolygonFrame& f = frame.frame;
    const double bounds[4] = {f.minX, f.minY, f.maxX, f.maxY};
    const double heights[3] = {f.minZ, f.maxZ, f.centerZ};
    std::copy(bounds, bounds + 4, entry.bounds);
    std::copy(heights, heights + 3, entry.heights);
    entry.modelHeights = f.hasModelHeights;
    entry.modelShare = f.modelShare;
    std::string error;
    if (!journal_.append(entry, error) && !failed_) {
        failed_ = true;
        Logger::instance().emit(Logger::Error, "Cannot write the run journal: " + error);
    }
}

}  // namespace vistrel
