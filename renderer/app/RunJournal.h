#pragma once

#include "core/ImageResult.h"
#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "model/SceneLoader.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vistrel {

// One finished image as the run journal keeps it: everything the report
// needs, so that a later run can take the image over without rendering it.
struct JournalEntry {
    std::string batch;  // batchFingerprint of the run's configuration
    int frame = -1;  // 0-based position of the frame in the layer (after the preview cut)
    std::string frameName;  // the frame's uniqueName: the layer must still agree
    std::string angle;  // angle key, or "top_range"
    ImageResult result;
    std::int64_t size = -1;  // bytes of the written file
    std::string hash;  // content hash of the written file (16 hex digits; empty when unknown)
    std::string geometry;  // frameGeometry of the frame as rendered
    double bounds[4] = {0, 0, 0, 0};  // minX, minY, maxX, maxY
    double heights[3] = {0, 0, 0};  // minZ, maxZ, centerZ
    bool modelHeights = true;  // the heights were measured on the model (older journals: taken as so)
    double modelShare = -1.0;  // the frame's model share; -1: not measured
    // How the batch names its images: over every frame of the layer (a batch
    // split into shards, and journals from before this was recorded), or
    // over the rendered frames only.
    bool namesAllFrames = true;
};

// What makes runs parts of one batch: a digest of every setting that shapes
// the images and their names (size, camera, angles, names, offsets, outline,
// format, and the names of the model folder and the shapefile), leaving out
// what may differ between the runs of one batch: full paths (machines mount
// the shared folder in different places), shards, resume, threads, warm-up,
// the preview limit and the contact sheet.
std::string batchFingerprint(const RenderConfig& config);
// The same with the model's identity: a replaced model (another origin file,
// root tiles of other names, sizes or times) is another batch.
std::string batchFingerprint(const RenderConfig& config, const ModelIdentity& model);

// A digest of the frame's rings as rendered (after offsets and coordinate
// transformation): a polygon moved or reshaped in the shapefile gives
// another one.
std::string frameGeometry(const PolygonFrame& frame);

// Why the journal's written image `entry` cannot be taken over, or empty
// when it can: the file must be reached from `outputDir` without symbolic
// links, be a regular file and have the recorded size and content hash.
std::string takeOverRefusal(const JournalEntry& entry, const std::string& outputDir);

// The journal line of an entry: one JSON object, no line break.
std::string journalLine(const JournalEntry& entry);
// False for anything that is not a whole journal line (a torn last line).
bool parseJournalLine(const std::string& line, JournalEntry& entry);

// <output_dir>/.vistrel/journal-<k>-of-<n>.jsonl
std::string journalPath(const std::string& outputDir, int shardIndex, int shardCount);

// The journal line that says what the batch is made of: its fingerprint with
// the settings and the model identity behind it, so that a later resume can
// tell what changed. Readers of journal entries pass over it.
std::string batchLine(const RenderConfig& config, const ModelIdentity& model);

// The journal a run appends to: one line per finished image, synced to disk
// after the image's file is in place, so no line names a missing file.
class RunJournal {
public:
    RunJournal() = default;
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Opens the shard's journal for appending and adds `batch` (a batchLine)
    // unless the journal holds it already. First it takes the journal's lock
    // (journal-<k>-of-<n>.lock beside it, holding this process's id), held
    // until the journal is destroyed or the process ends: when another
    // process holds it, nothing is touched and open() fails with locked().
    // Unless `keep`, an earlier journal of this shard is then moved aside
    // (to "<journal>.<n>.old", the three newest kept), and so are journals of
    // batches split another way (another shard count), unless a live run
    // holds one of them (locked() again); journals of the other shards of
    // this split are not touched. False, with `error` set, when the folder or
    // file cannot be made.
    bool open(const std::string& outputDir, int shardIndex, int shardCount, bool keep, const std::string& batch,
              std::string& error);
    // Appends and syncs one line; an image path below the output folder is
    // stored relative to it. False, with `error` set, when it failed.
    bool append(const JournalEntry& entry, std::string& error);
    // True when open() failed on a symbolic link below the output folder
    // (the journal's folder or file); `error` then names the link.
    bool refused() const { return refused_; }
    // True when open() failed on a journal another live run holds; `error`
    // then names that journal and lockHolder() the other process ("<pid> on
    // <host>", or "unknown" when it has not written itself in yet).
    bool locked() const { return !lockHolder_.empty(); }
    const std::string& lockHolder() const { return lockHolder_; }
    // Why the journal is not locked although open() succeeded (a file
    // system without locks), or empty.
    const std::string& lockProblem() const { return lockProblem_; }

private:
    // Renames `path` to "<path>.<n>.old" after the newest one there is and
    // removes all but the three newest; true when it is out of the way (or
    // was not there).
    static bool moveAside(const std::string& path, std::string& error);
    // Moves aside the journals of the folder split another way than in
    // `shardCount` shards; false, with locked(), when a live run holds one.
    bool moveOtherSplitsAside(const std::string& folder, int shardCount, std::string& error);
    bool lock(std::string& error);
    bool recordBatch(const std::string& batch, std::string& error);

    int lockFd_ = -1;
    std::string lockHolder_;
    std::string lockProblem_;
    std::FILE* file_ = nullptr;
    std::string path_;
    std::string outputDir_;
    bool refused_ = false;
};

// The images earlier runs of the batch `batch` finished, from every journal
// in the output folder (lines of other batches are left out), keyed by frame
// position and angle, with image paths made whole again. A
// written image outranks a skip and a
// skip a failure; among equals the later line counts. Lines that do not
// parse (a line torn by a kill) are left out.
using JournalIndex = std::map<std::pair<int, std::string>, JournalEntry>;
JournalIndex readJournals(const std::string& outputDir, const std::string& batch);

// Why a resume of the batch of `config` and `model` takes over nothing, or
// empty when `earlier` (what readJournals gave for it) holds a written image:
// no journal, no written image, or what changed since the journals' last
// batch (the settings that differ, the origin file, the root tiles added,
// gone or of another size or time), as far as its journal recorded it.
std::string nothingTakenOver(const std::string& outputDir, const JournalIndex& earlier, const RenderConfig& config,
                             const ModelIdentity& model);

}  // namespace vistrel
