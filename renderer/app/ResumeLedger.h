#pragma once

#include "app/RunJournal.h"
#include "core/ContentHash.h"
#include "core/ImageResult.h"
#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "model/SceneLoader.h"

#include <map>
#include <string>
#include <utility>

namespace vistrel {

// A frame as the ledger knows it: its 0-based position in the layer and its
// geometry as rendered (frameGeometry).
struct LedgerFrame {
    const PolygonFrame& frame;
    int position;
    const std::string& geometry;
};

// The batch's images across its runs: the journal this run appends to and,
// with resume, what the earlier runs of the batch finished (from every
// journal in the output folder). A resumed run replays the earlier runs'
// decision to skip or render a frame with the same geometry, so that it
// names exactly as an uninterrupted one, and takes over a written image when
// its frame has the recorded geometry and its file is reached without
// symbolic links, is a regular file and has the recorded size and content
// hash.
class ResumeLedger {
public:
    explicit ResumeLedger(const RenderConfig& config) : config_(config) {}

    // Opens the shard's journal and, with resume, reads the earlier runs'.
    // False, with the ERROR logged, when the journal cannot be opened
    // (locked() when another live run holds it). A journal without a lock
    // and a resume that takes nothing over get a WARN.
    // With retry_failed_only, a batch of which no journal holds an image is
    // refused (retryRefused(), the ERROR logged).
    bool open(const ModelIdentity& model);
    bool locked() const { return journal_.locked(); }
    bool retryRefused() const { return retryRefused_; }
    // Reads what the earlier runs finished, as open() does, but opens no
    // journal and takes no lock: for a plan of the run, which writes nothing.
    bool openToRead(const ModelIdentity& model);
    // With retry_failed_only: true for a frame the journal records a failed
    // or skipped image of (it is rendered again; the other frames only have
    // their written images taken over). Always true without it.
    bool retries(const LedgerFrame& frame) const;
    // True when an earlier run of the batch named every frame of the layer.
    bool earlierNamedAllFrames() const;

    // What the earlier runs decided for a frame of the same geometry: a
    // written image says it was rendered; failed images alone say nothing
    // sure (the pre-check itself may have failed), so it is looked at again.
    // With retry_failed_only a skip is looked at again too.
    enum class Replay { None, Skipped, Rendered };
    // `skipReason` gets the recorded reason of a skip.
    Replay replay(const LedgerFrame& frame, std::string& skipReason) const;

    // The heights and model share an earlier run recorded for a frame of the
    // same geometry, into `into` (left as it is when none did): the frame's
    // remaining views are placed as that run placed its others.
    void recordedMeasures(const LedgerFrame& frame, PolygonFrame& into) const;

    // Whether the image `key` of a frame, to be written at `path`, is taken
    // over from an earlier run.
    struct TakeOver {
        const JournalEntry* entry = nullptr;  // the earlier run's image, when it is taken over
        std::string refusal;  // why a recorded written image is not (empty otherwise)
    };
    TakeOver takeOver(const LedgerFrame& frame, const std::string& key, const std::string& path) const;

    // Journals a finished image (`written`: the digest of its file) once its
    // file is in place. The first failure is logged; failed() then.
    void record(const LedgerFrame& frame, const std::string& key, const ImageResult& result, const FileDigest* written,
                bool namesAllFrames);
    bool failed() const { return failed_; }

private:
    const RenderConfig& config_;
    std::string fingerprint_;  // batchFingerprint of the configuration and the model
    JournalIndex earlierImages_;  // what earlier runs of the batch finished (with resume)
    // Why recorded images cannot be taken over (empty: they can), by frame and key.
    mutable std::map<std::pair<int, std::string>, std::string> refusals_;
    RunJournal journal_;
    bool failed_ = false;
    bool retryRefused_ = false;

    bool readEarlierRuns(const ModelIdentity& model);
    bool refuseRetry();
};

}  // namespace vistrel
