#include "app/ImagePipeline.h"

#include "core/RunProtocol.h"
#include "core/Seconds.h"

#include "output/ImageWriter.h"
#include "output/Thumbnail.h"
#include "output/WorldFile.h"

#include <cstring>
#include <exception>

namespace vistrel {

namespace {

// Memory the waiting pictures may take together.
constexpr double kBufferBudgetBytes = 2.0 * 1024 * 1024 * 1024;

void emitLines(const std::vector<HeldLine>& lines)
{
    for (const HeldLine& line : lines) {
        Logger::instance().emit(line.level, line.message);
    }
}

}  // namespace

bool reportImageWrite(const WriteResult& result)
{
    Logger& log = Logger::instance();
    switch (result.status) {
    case WriteStatus::Written: log.info(std::string(kWrotePrefix) + result.path); return true;
    case WriteStatus::Failed:
        log.error(runMessage(RunMessage::ImageWriteFailed, {result.path + ": " + result.reason}));
        break;
    case WriteStatus::RefusedLink: log.error(runMessage(RunMessage::SymlinkRefused, {result.reason})); break;
    case WriteStatus::FolderFailed: log.error(runMessage(RunMessage::RenderFailed, {result.reason})); break;
    }
    return false;
}

bool reportWorldFileWrite(const WriteResult& result)
{
    if (result.written()) {
        return true;
    }
    if (result.status == WriteStatus::RefusedLink) {
        Logger::instance().error(runMessage(RunMessage::SymlinkRefused, {result.reason}));
    } else {
        Logger::instance().error(runMessage(RunMessage::WorldFileWriteFailed, {result.path + ": " + result.reason}));
    }
    return false;
}

bool reportThumbnailWrite(const WriteResult& result, bool* refused)
{
    if (result.written()) {
        return true;
    }
    if (result.status == WriteStatus::RefusedLink) {
        Logger::instance().error(runMessage(RunMessage::SymlinkRefused, {result.reason}));
        if (refused) {
            *refused = true;
        }
    } else {
        Logger::instance().warn("Failed to write thumbnail: " + result.path + ": " + result.reason);
    }
    return false;
}

ImagePipeline::ImagePipeline(const RenderConfig& config, int workers)
    : config_(config), workers_(std::max(0, workers)), scaling_(workers_)
{
    if (workers_ > 0) {
        try {
            threads_.emplace_back([this] { runSteps(); });
            for (int i = 0; i < scaling_.writers(); ++i) {
                startWriter();
            }
        } catch (...) {
            stopThreads();
            throw;
        }
    }
    batchSink_ = [this](int level, const std::string& message) { holdOrEmit(level, message); };
    Logger::divertThisThread(&batchSink_);
}

ImagePipeline::~ImagePipeline()
{
    drain();
    stopThreads();
    Logger::divertThisThread(nullptr);
}

void ImagePipeline::stopThreads()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
    threads_.clear();
}

void ImagePipeline::startWriter()
{
    threads_.emplace_back([this] { runWorker(); });
}

int ImagePipeline::writersStarted() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return scaling_.writers();
}

osg::ref_ptr<osg::Image> ImagePipeline::freeBuffer(double bytes)
{
    osg::ref_ptr<osg::Image> buffer;
    bool anotherWriter = false;
    {
        const auto waitStart = Clock::now();
        std::unique_lock<std::mutex> lock(mutex_);
        // writers + 1 pictures, but no more than the byte budget allows (two
        // at the least, so that writing still overlaps rendering).
        const int affordable = static_cast<int>(std::max(2.0, kBufferBudgetBytes / std::max(1.0, bytes)));
        const int capacity = std::min(scaling_.writers() + 1, affordable);
        changed_.wait(lock, [&] { return !freeBuffers_.empty() || buffers_ < capacity; });
        if (!freeBuffers_.empty()) {
            buffer = freeBuffers_.back();
            freeBuffers_.pop_back();
        } else {
            ++buffers_;
        }
        const auto now = Clock::now();
        const double waited = secondsBetween(waitStart, now);
        bufferWaitSeconds_ += waited;
        anotherWriter = workers_ > 0 && scaling_.notePicture(waited, secondsBetween(created_, now));
    }
    if (anotherWriter) {
        startWriter();
    }
    return buffer;
}

ImagePipeline::Picture ImagePipeline::held(osg::ref_ptr<osg::Image> buffer)
{
    osg::Image* raw = buffer.get();
    return Picture(raw, [this, buffer](osg::Image*) { giveBack(buffer); });
}

ImagePipeline::Picture ImagePipeline::copied(osg::ref_ptr<osg::Image> buffer, const osg::Image& picture)
{
    if (!buffer || buffer->s() != picture.s() || buffer->t() != picture.t() ||
        buffer->getPixelFormat() != picture.getPixelFormat() || buffer->getDataType() != picture.getDataType()) {
        buffer = new osg::Image;
        buffer->allocateImage(picture.s(), picture.t(), picture.r(), picture.getPixelFormat(), picture.getDataType(),
                              picture.getPacking());
    }
    std::memcpy(buffer->data(), picture.data(), picture.getTotalSizeInBytes());
    return held(std::move(buffer));
}

ImagePipeline::Picture ImagePipeline::snapshot(const osg::Image& picture)
{
    return copied(freeBuffer(picture.getTotalSizeInBytes()), picture);
}

ImagePipeline::Picture ImagePipeline::take(PictureSource& source)
{
    osg::ref_ptr<osg::Image> buffer = freeBuffer(source.captureImage()->getTotalSizeInBytes());
    osg::ref_ptr<osg::Image> taken = source.exchangeCapture(buffer);
    return taken ? held(std::move(taken)) : copied(std::move(buffer), *source.captureImage());
}

ImagePipeline::Picture ImagePipeline::forWriting(osg::Image& picture)
{
    if (workers_ == 0) {
        return Picture(&picture, [](osg::Image*) {});
    }
    return snapshot(picture);
}

ImagePipeline::Picture ImagePipeline::forWriting(PictureSource& source)
{
    if (workers_ == 0) {
        return Picture(source.captureImage(), [](osg::Image*) {});
    }
    return take(source);
}

void ImagePipeline::giveBack(osg::ref_ptr<osg::Image> buffer)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        freeBuffers_.push_back(std::move(buffer));
    }
    changed_.notify_all();
}

ImagePipeline::WriteHandle ImagePipeline::write(Picture picture, const std::string& name, const std::string& thumbnail,
                                                std::optional<PicturePlace> place)
{
    return submit(name, [this, picture, name, thumbnail, place](WriteOutcome& outcome) mutable {
        const Picture held = std::move(picture);  // the buffer is free for the next picture once written
        writeFiles(*held, name, thumbnail, place, outcome);
    });
}

ImagePipeline::WriteHandle ImagePipeline::putBackWorldFiles(const std::string& name, const PicturePlace& place)
{
    return submit(name, [this, name, place](WriteOutcome& outcome) {
        outcome.written = placeWorldFiles(writeRequest(nullptr, config_, name, place), outcome);
    });
}

void ImagePipeline::writeFiles(const osg::Image& picture, const std::string& name, const std::string& thumbnail,
                               const std::optional<PicturePlace>& place, WriteOutcome& outcome) const
{
    const WriteRequest request = writeRequest(&picture, config_, name, place);
    if (request.worldFiles) {
        removeWorldFiles(request, config_.output_dir);
    }
    const WriteResult image = writeImageFile(request, config_.output_dir);
    outcome.digest = image.digest;
    if (!reportImageWrite(image)) {
        return;
    }
    outcome.written = !request.worldFiles || placeWorldFiles(request, outcome);
    if (!thumbnail.empty()) {
        reportThumbnailWrite(writeThumbnailBelow(picture, thumbnail, config_.output_dir), &outcome.refused);
    }
}

bool ImagePipeline::placeWorldFiles(const WriteRequest& request, WriteOutcome& outcome) const
{
    const WriteResult files = writeWorldFiles(request, config_.output_dir);
    if (reportWorldFileWrite(files)) {
        return true;
    }
    const bool refused = files.status == WriteStatus::RefusedLink;
    outcome.refused = outcome.refused || refused;
    outcome.remark = refused ? "拒绝经由符号链接写入世界文件: " + files.reason
                             : "世界文件写入失败: " + files.path + ": " + files.reason;
    return false;
}

ImagePipeline::WriteHandle ImagePipeline::submit(const std::string& name, std::function<void(WriteOutcome&)> work)
{
    auto task = std::make_shared<std::packaged_task<WriteOutcome()>>([this, name, work = std::move(work)] {
        WriteOutcome outcome;
        const auto start = Clock::now();
        Logger::holdThisThread(&outcome.lines);
        try {
            work(outcome);
        } catch (const std::exception& e) {
            Logger::instance().error(runMessage(RunMessage::RenderFailed, {e.what()}));
        } catch (...) {
            Logger::instance().error(runMessage(RunMessage::RenderFailedWriting, {name}));
        }
        if (workers_ > 0) {
            Logger::divertThisThread(nullptr);
        } else {
            Logger::divertThisThread(&batchSink_);  // the job ran on the calling thread
        }
        outcome.finished = Clock::now();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            writeSeconds_ += secondsBetween(start, outcome.finished);
        }
        return outcome;
    });
    WriteHandle handle = task->get_future().share();
    flushHeldLines();
    if (workers_ == 0) {
        (*task)();
    } else {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.emplace_back([task] { (*task)(); });
        }
        changed_.notify_all();
    }
    enqueueStep([handle] { emitLines(handle.get().lines); });
    return handle;
}

void ImagePipeline::then(std::function<void()> step)
{
    flushHeldLines();
    enqueueStep(std::move(step));
}

void ImagePipeline::holdOrEmit(int level, const std::string& message)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (steps_.empty() && stepsRunning_ == 0 && held_.empty()) {
        // Nothing before it is pending: out now, so that a crash in the next
        // render still leaves the line (written under the lock, so no step
        // can start in between).
        Logger::instance().emit(level, message);
        return;
    }
    held_.push_back({level, message});
}

void ImagePipeline::flushHeldLines()
{
    std::vector<HeldLine> lines;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines.swap(held_);
    }
    if (!lines.empty()) {
        enqueueStep([lines = std::move(lines)] { emitLines(lines); });
    }
}

void ImagePipeline::enqueueStep(std::function<void()> step)
{
    if (workers_ == 0) {
        step();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        steps_.push_back(std::move(step));
    }
    changed_.notify_all();
}

void ImagePipeline::drain()
{
    flushHeldLines();
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return steps_.empty() && stepsRunning_ == 0; });
}

double ImagePipeline::writeSeconds() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return writeSeconds_;
}

void ImagePipeline::runWorker()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

void ImagePipeline::runSteps()
{
    for (;;) {
        std::function<void()> step;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || !steps_.empty(); });
            if (steps_.empty()) {
                return;
            }
            step = std::move(steps_.front());
            steps_.pop_front();
            ++stepsRunning_;
        }
        try {
            step();
        } catch (const std::exception& e) {
            Logger::instance().emit(Logger::Error, std::string("Batch step failed: ") + e.what());
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --stepsRunning_;
        }
        changed_.notify_all();
    }
}

}  // namespace vistrel
