#pragma once

#include "core/ContentHash.h"
#include "core/Logger.h"
#include "core/RenderConfig.h"
#include "app/WriterScaling.h"
#include "output/WriteRequest.h"
#include "output/WriteResult.h"
#include "render/PictureSource.h"

#include <osg/Image>
#include <osg/ref_ptr>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vistrel {

// Logs what became of an image file: "Wrote <path>", or an ERROR (the write
// failed with its reason, a symbolic link refused, or a render failure when
// the folder could not be made). True when the file was written.
bool reportImageWrite(const WriteResult& result);
// Logs a thumbnail that was not written: a WARN with the path and reason
// (the contact sheet then links the image without a preview), or an ERROR
// for a refused symbolic link, which also sets `refused`. True when written.
bool reportThumbnailWrite(const WriteResult& result, bool* refused = nullptr);
// Logs world files that were not written: an ERROR with the file and the
// reason, or for a refused symbolic link. True when written.
bool reportWorldFileWrite(const WriteResult& result);

// Writes rendered pictures on worker threads while the batch renders the next
// ones, and keeps the output in the order a one-by-one run gives it.
//
// Everything the batch hands over goes into one ordered line of steps: the
// log lines the batch thread wrote meanwhile (held while earlier steps are
// unfinished, written at once when nothing is pending), a written picture's
// own lines ("Wrote ", "Failed to write image: ", "Failed to write world
// file: "), and steps of the batch's own (counting, the progress line). A step
// runs only after every step before it, and a picture's step only once its
// files are on disk. At most writers + 1 pictures (and no more than 2 GiB of
// them, but always two) are in memory; the batch waits for a free buffer when
// all are taken. It starts with one writer thread and adds one, up to `workers`,
// while the batch keeps waiting for buffers (see WriterScaling): as many
// writers as keep the renderer busy, and no more.
//
// With 0 workers nothing overlaps: pictures are written at once on the
// calling thread and every step runs when it is handed over.
class ImagePipeline {
public:
    using Clock = std::chrono::steady_clock;

    struct WriteOutcome {
        bool written = false;  // the picture and its world files are in place
        bool refused = false;  // a symbolic link on the way of the image, its world files or its thumbnail
        std::string remark;  // why the image fails although its picture is there (its world files)
        FileDigest digest;  // of the written image
        Clock::time_point finished;
        std::vector<HeldLine> lines;
    };
    using WriteHandle = std::shared_future<WriteOutcome>;
    // A picture handed to the pipeline. A buffer of the pipeline's goes back
    // to it when the last holder lets go, written or not.
    using Picture = std::shared_ptr<osg::Image>;

    // Holds the calling thread's log lines until the pipeline is drained.
    ImagePipeline(const RenderConfig& config, int workers);
    // Drains, stops the threads and releases the calling thread's lines.
    ~ImagePipeline();
    ImagePipeline(const ImagePipeline&) = delete;
    ImagePipeline& operator=(const ImagePipeline&) = delete;

    // A copy of `picture` in one of the pipeline's buffers; waits while all
    // workers + 1 buffers are taken.
    Picture snapshot(const osg::Image& picture);
    // The last picture of `source` as a buffer of the pipeline's: taken from
    // the source in exchange for a free buffer (nothing copied), or a
    // snapshot where the source keeps its picture. Waits as snapshot does.
    Picture take(PictureSource& source);
    // What write() should get for a picture that is written right away: a
    // snapshot (or the source's picture taken) when writing overlaps, the
    // picture itself when it does not.
    Picture forWriting(osg::Image& picture);
    Picture forWriting(PictureSource& source);

    // Writes `picture` to the image file `name` (writeImageFile, reported by
    // reportImageWrite); with `place`, the world files beside it once it is
    // in place, where its format takes them (writeWorldFiles, reported by
    // reportWorldFileWrite; those of an earlier picture there are removed
    // first, so that none is left describing a picture that was not
    // written); and then, when `thumbnail` is given, a small JPEG of it there
    // (writeThumbnailBelow, reported by reportThumbnailWrite).
    WriteHandle write(Picture picture, const std::string& name, const std::string& thumbnail = std::string(),
                      std::optional<PicturePlace> place = std::nullopt);
    // Writes the world files beside the image file `name` that is in place
    // already (one taken over from an earlier run), as write() does.
    WriteHandle putBackWorldFiles(const std::string& name, const PicturePlace& place);
    // Runs `step` after everything handed over before it.
    void then(std::function<void()> step);
    // Waits until every step has run; the calling thread's lines held so far
    // are out too. Afterwards the thread's lines are written directly.
    void drain();

    int workers() const { return workers_; }
    // Writer threads started so far (at most workers()).
    int writersStarted() const;
    // Seconds the batch waited for a free buffer, and seconds spent writing
    // files (summed over the workers).
    double bufferWaitSeconds() const { return bufferWaitSeconds_; }
    double writeSeconds() const;

private:
    // Runs `work` as a write job (on a worker, or at once with 0 workers) and
    // hands its lines over as the next step; `name` is what it writes.
    WriteHandle submit(const std::string& name, std::function<void(WriteOutcome&)> work);
    void writeFiles(const osg::Image& picture, const std::string& name, const std::string& thumbnail,
                    const std::optional<PicturePlace>& place, WriteOutcome& outcome) const;
    bool placeWorldFiles(const WriteRequest& request, WriteOutcome& outcome) const;
    void flushHeldLines();
    void stopThreads();
    void enqueueStep(std::function<void()> step);
    void runWorker();
    void runSteps();
    void startWriter();
    void giveBack(osg::ref_ptr<osg::Image> buffer);

    const RenderConfig& config_;
    const int workers_;
    void holdOrEmit(int level, const std::string& message);

    std::vector<HeldLine> held_;  // the calling thread's lines waiting behind unfinished steps
    Logger::LineSink batchSink_;  // where the calling thread's lines go

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> jobs_;
    std::deque<std::function<void()>> steps_;
    // `buffer` as a picture that goes back to the free buffers when let go.
    Picture held(osg::ref_ptr<osg::Image> buffer);
    // `picture` copied into `buffer` (another where it does not fit), held.
    Picture copied(osg::ref_ptr<osg::Image> buffer, const osg::Image& picture);
    // A free buffer, or null where one more may be made; waits while all
    // the buffers that pictures of `bytes` may have are taken.
    osg::ref_ptr<osg::Image> freeBuffer(double bytes);
    std::vector<osg::ref_ptr<osg::Image>> freeBuffers_;
    int buffers_ = 0;
    int stepsRunning_ = 0;
    bool stopping_ = false;
    double writeSeconds_ = 0.0;
    double bufferWaitSeconds_ = 0.0;
    WriterScaling scaling_;
    const Clock::time_point created_ = Clock::now();
    std::vector<std::thread> threads_;
};

}  // namespace vistrel
