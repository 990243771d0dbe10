#include "app/RenderBatch.h"

#include "app/HtmlReport.h"
#include "app/PictureFinishing.h"
#include "app/RenderReport.h"
#include "app/StopSignal.h"
#include "core/Logger.h"
#include "core/NumberText.h"
#include "core/RunProtocol.h"
#include "core/Seconds.h"
#include "output/WriteRequest.h"
#include "render/OcclusionAvoidance.h"
#include "render/VerticalCheck.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <numeric>
#include <optional>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

// The log's words for the images of a frame whose points cannot be moved
// into the model's system (the reason follows).
constexpr const char* kUnplacedReason = "the frame cannot be placed in the model's system: ";

// With world_file, the pictures of a vertical view get world files.
bool hasWorldFiles(const RenderConfig& config, const std::string& angle)
{
    return config.world_file && angle == "top";
}

// Where the pictures of a vertical view placed by `setup` lie, for their
// world files or the writer's own georeference; none for other views.
std::optional<PicturePlace> placeOf(const RenderConfig& config, const BatchOptions& options, const std::string& angle,
                                    const CameraSetup& setup)
{
    if (angle != "top") {
        return std::nullopt;
    }
    const PictureFootprint footprint{setup.center.x(),  setup.center.y(), setup.orthoWidth,
                                     setup.orthoHeight, config.width,     config.height};
    return PicturePlace{footprint, options.worldFileCrs, options.storedCrs};
}

// An image whose world files failed fails, with their remark, though its
// picture is there.
void noteWorldFiles(ImageResult& result, const ImagePipeline::WriteHandle& write)
{
    if (write.valid() && !write.get().remark.empty()) {
        result.success = false;
        addRemark(result, write.get().remark);
    }
}

// The frame's heights and model share as its vertical picture measured them.
void takeVerticalMeasure(const PictureMeasure& measure, PolygonFrame& frame)
{
    frame.modelShare = modelShare(measure);
    frame.hasModelHeights = measure.hasHeights;
    if (measure.hasHeights) {
        frame.minZ = measure.minZ;
        frame.maxZ = measure.maxZ;
        frame.centerZ = (measure.minZ + measure.maxZ) * 0.5;
    }
}

}  // namespace

// One frame on its way through the batch.
struct RenderBatch::FrameJob {
    FrameJob(const PolygonFrame& layerFrame, int position, std::vector<PlannedName> names)
        : layerFrame(layerFrame), frame(layerFrame), position(position), names(std::move(names))
    {
    }
    LedgerFrame ledgerFrame() const { return {frame, position, geometry}; }

    const PolygonFrame& layerFrame;  // as the layer holds it (beforeFrame may measure it)
    PolygonFrame frame;  // the frame rendered: its heights as its vertical picture measured them
    const int position;  // 0-based position in the layer
    std::vector<PlannedName> names;  // one per image of the frame (frameImages), once named
    std::string geometry;  // frameGeometry, once the frame is prepared
    Precheck precheck = Precheck::Render;
    std::string reason;  // why the frame is skipped or failed
    bool skipReplayed = false;  // the skip comes from an earlier run's journal
    bool leftOut = false;  // retry_failed_only: only its written images are taken over
    CameraSetup precheckSetup;
    ImagePipeline::Picture precheckPicture;  // kept when it can serve as the top image
    bool looked = false;  // the pre-check drew the vertical view (precheckSetup)
    double topVisibleShare = -1.0;  // what the pre-check's picture shows of the frame
    std::shared_ptr<SheetPictures> sheet;  // with dossier: the pictures of its sheet
    std::string sheetPath;
    const JournalEntry* sheetTaken = nullptr;  // an earlier run's sheet, taken over
};

// One image of an angle on its way through the pipeline.
struct RenderBatch::ImageSlot {
    ImageSlot(const PlannedImage& image, const PlannedName& name) : image(image), name(name) {}

    const PlannedImage& image;
    const PlannedName& name;
    ImageResult result;
    ImagePipeline::WriteHandle write;
    Clock::time_point start = Clock::now();
    bool taken = false;  // taken over from an earlier run's journal
    bool incomplete = false;  // its tiles were still loading at tile_load_timeout
    bool leftOut = false;  // retry_failed_only left it as it was: no result, no journal line
};

// One configured angle of a frame: its image and, for "top" with
// output_top_range, the outline image, which share one camera placement.
struct RenderBatch::AngleWork {
    std::string angle;
    std::vector<ImageSlot> slots;  // the angle's image first
    Clock::time_point start = Clock::now();
    CameraSetup setup;
    OcclusionChoice choice;
    bool placed = false;
};

RenderBatch::RenderBatch(const RenderConfig& config, BatchOptions options)
    : config_(config), options_(std::move(options)), camera_(config), renderer_(config), pictures_(renderer_),
      nameTemplate_(config), ledger_(config)
{
}

RenderBatch::RenderBatch(const RenderConfig& config, PictureSource& pictures, BatchOptions options)
    : config_(config), options_(std::move(options)), camera_(config), renderer_(config), pictures_(pictures),
      nameTemplate_(config), ledger_(config)
{
}

bool RenderBatch::run(osg::Node* scene, const std::vector<PolygonFrame>& frames)
{
    if (!scene) {
        Logger::instance().error(runMessage(RunMessage::NullScene));
        return false;
    }
    if (frames.empty()) {
        Logger::instance().warn("No SHP frames to render.");
        return true;
    }
    if (!startRenderer(scene) || !startRun(frames)) {
        return false;
    }
    renderFrames(scene, frames);
    return finishRun(frames);
}

bool RenderBatch::startRenderer(osg::Node* scene)
{
    std::vector<std::string> errors;
    if (!pictures_.initialize(scene, errors)) {
        for (const std::string& error : errors) {
            Logger::instance().error(error);
        }
        return false;
    }
    renderer_.setReuseSettledPlacement(options_.reuse);
    return true;
}

bool RenderBatch::startRun(const std::vector<PolygonFrame>& frames)
{
    last_ = RunRecord{};
    last_.shard = ShardPlan::of(config_);
    last_.images = frameImages(config_);
    if (!ledger_.open(model_)) {
        return false;
    }
    if (last_.shard.split() || config_.resume) {
        Logger::instance().info(formatLine(RunState{last_.shard.index, last_.shard.count, config_.resume}));
    }
    logRetriedFrames(frames);
    last_.namesAllFrames = last_.shard.split() || ledger_.earlierNamedAllFrames();
    last_.results.assign(frames.size(), FrameResults{});
    last_.measured.assign(frames.size(), std::nullopt);
    last_.totalFrames = static_cast<int>(last_.shard.positions(frames.size()).size());
    last_.totalImages = last_.totalFrames * static_cast<int>(config_.angles.size());
    last_.start = Clock::now();
    return true;
}

void RenderBatch::renderFrames(osg::Node* scene, const std::vector<PolygonFrame>& frames)
{
    ImagePipeline pipeline(config_, options_.pipelined ? config_.num_threads : 0);
    for (std::size_t p = 0; p < frames.size() && !stopArrived(last_.stopped); ++p) {
        // A batch that names every frame names them all in order, this shard's or not.
        std::vector<PlannedName> names =
            last_.namesAllFrames ? nameImages(nameTemplate_, frames[p], last_.images) : std::vector<PlannedName>();
        if (last_.shard.owns(p)) {
            renderFrame(pipeline, scene, std::make_shared<FrameJob>(frames[p], static_cast<int>(p), std::move(names)));
        }
    }
    pipeline.drain();
    last_.writeSeconds = pipeline.writeSeconds();
    last_.bufferWaitSeconds = pipeline.bufferWaitSeconds();
    last_.writersStarted = pipeline.writersStarted();
}

void RenderBatch::renderFrame(ImagePipeline& pipeline, osg::Node* scene, const std::shared_ptr<FrameJob>& job)
{
    const auto position = static_cast<std::size_t>(job->position);
    Logger::instance().info(
        formatLine(FrameProgress{last_.shard.numberInShard(position), last_.totalFrames, job->frame.name}));
    // A frame retry_failed_only leaves out needs the model only to put back world files.
    const bool retried = ledger_.retries(job->ledgerFrame());
    if (options_.beforeFrame && (retried || config_.world_file)) {
        options_.beforeFrame(position, renderer_);
        job->frame = job->layerFrame;
    }
    if (config_.dossier) {
        job->sheet = std::make_shared<SheetPictures>(config_);
    }
    prepareFrame(pipeline, *job);
    last_.measured[position] = job->frame;
    for (std::size_t a = 0; a < config_.angles.size() && !stopArrived(last_.stopped); ++a) {
        renderAngle(pipeline, scene, job, a);
    }
    if (job->sheet && job->precheck == Precheck::Render && !last_.stopped) {
        prepareSheet(pipeline, job);
    }
    job->precheckPicture.reset();  // the buffer is free for the next frame
}

bool RenderBatch::finishRun(const std::vector<PolygonFrame>& frames)
{
    if (last_.stopped) {
        logStopped();
    }
    // The reports cover this shard's frames.
    std::vector<PolygonFrame> reportFrames;
    ResultsTable reportResults;
    for (const std::size_t p : last_.shard.positions(frames.size())) {
        reportFrames.push_back(last_.measured[p] ? *last_.measured[p] : frames[p]);
        reportResults.push_back(last_.results[p]);
    }
    if (config_.dossier && config_.dossier_book && !last_.stopped) {
        writeSheetBook(reportFrames, reportResults);
    }
    bool reported = writeRenderReport(config_, nameTemplate_, reportFrames, reportResults,
                                      reportFileName(last_.shard.index, last_.shard.count));
    if (config_.html_report) {
        reported = writeHtmlReport(config_, reportFrames, reportResults,
                                   reportFileName(last_.shard.index, last_.shard.count, "html")) &&
                   reported;
    }
    // A stop that arrives while the reports are written ends the run as
    // stopped, once they are complete.
    if (!last_.stopped && stopArrived(last_.stopped)) {
        logStopped();
    }
    // The summary counts what the report shows, outline images included.
    const ImageCounts counts = countImages(config_, reportResults);
    RunFinished summary{counts.written,    counts.planned(),  counts.skipped, counts.failed,
                        last_.shard.index, last_.shard.count, counts.notDone};
    summary.hidden = counts.hidden;
    summary.partlyOutside = counts.partlyOutside;
    Logger::instance().info(formatLine(summary));
    return counts.failed == 0 && last_.sheetsFailed == 0 && reported && !ledger_.failed() && !last_.refused;
}

void RenderBatch::prepareFrame(ImagePipeline& pipeline, FrameJob& job)
{
    ResumeLedger::Replay decided = ResumeLedger::Replay::None;
    if (!decideFrame(job, decided)) {
        if (job.precheck == Precheck::Fail) {
            logUnplacedFrame(job);
        } else if (job.skipReplayed) {
            ledger_.recordedMeasures(job.ledgerFrame(), job.frame);
            Logger::instance().warn(formatLine(SkipFrame{job.frame.name, job.reason}));
        }
        return;
    }
    if (decided == ResumeLedger::Replay::Rendered) {
        job.precheck = Precheck::Render;
        ledger_.recordedMeasures(job.ledgerFrame(), job.frame);
    } else {
        std::optional<CameraSetup> drawn;
        job.precheck = precheckFrame(job.frame, job.reason, &drawn);
        if (drawn && job.precheck != Precheck::Fail) {
            job.precheckSetup = *drawn;
            job.looked = true;
            // A skipped frame reports its area's model share and heights;
            // how much of its surface shows is said of written pictures only.
            measureFrame(job, job.precheck == Precheck::Skip ? MeasureParts::Area : MeasureParts::SurfaceAndArea);
        }
    }
    if (job.precheck == Precheck::Skip) {
        return;
    }
    nameFrame(job);
    if (decided == ResumeLedger::Replay::None && job.precheck == Precheck::Render) {
        keepPrecheckPicture(pipeline, job);
    }
}

void RenderBatch::measureFrame(FrameJob& job, MeasureParts parts)
{
    PictureMeasure measure;
    if (!pictures_.measurePicture(job.precheckSetup, job.frame, parts, measure)) {
        Logger::instance().warn("Cannot measure the vertical view of frame " + job.frame.name + ": " +
                                pictures_.renderError());
        return;
    }
    takeVerticalMeasure(measure, job.frame);
    job.topVisibleShare = visibleShare(measure);
    if (options_.frameMeasured) {
        options_.frameMeasured(job.frame, renderer_);
    }
}

bool RenderBatch::decideFrame(FrameJob& job, ResumeLedger::Replay& decided)
{
    job.geometry = frameGeometry(job.frame);
    // An earlier run decided already: its decision stands, so that the
    // names that follow are the ones it gave.
    decided = ledger_.replay(job.ledgerFrame(), job.reason);
    const bool retried = ledger_.retries(job.ledgerFrame());
    if (!retried && decided != ResumeLedger::Replay::Rendered) {
        job.precheck = Precheck::LeftOut;  // nothing written to take over
        return false;
    }
    job.leftOut = !retried;
    if (!job.frame.unusable.empty()) {
        // A frame that cannot be placed over the model fails without a look.
        job.precheck = Precheck::Fail;
        job.reason = std::string(kRemarkFrameUnplaced) + job.frame.unusable;
        nameFrame(job);
        return false;
    }
    if (decided == ResumeLedger::Replay::Skipped) {
        job.precheck = Precheck::Skip;
        job.skipReplayed = true;
        return false;
    }
    return true;
}

void RenderBatch::nameFrame(FrameJob& job)
{
    if (!last_.namesAllFrames) {
        job.names = nameImages(nameTemplate_, job.frame, last_.images);
    }
}

void RenderBatch::logUnplacedFrame(const FrameJob& job) const
{
    // One line for the frame, not one per angle: the cause is the frame's.
    std::string angles;
    for (const std::string& angle : config_.angles) {
        angles += (angles.empty() ? "" : ",") + angle;
    }
    Logger::instance().error(runMessage(RunMessage::FailedFrame,
                                        {job.frame.name, angles, std::string(kUnplacedReason) + job.frame.unusable}));
}

int RenderBatch::logRetriedFrames(const std::vector<PolygonFrame>& frames) const
{
    if (!config_.retry_failed_only) {
        return -1;
    }
    const std::string unknownGeometry;
    int retried = 0;
    const std::vector<std::size_t> positions = last_.shard.positions(frames.size());
    for (const std::size_t p : positions) {
        retried += ledger_.retries(LedgerFrame{frames[p], static_cast<int>(p), unknownGeometry}) ? 1 : 0;
    }
    Logger::instance().info("retry_failed_only: " + std::to_string(retried) + " of " +
                            std::to_string(positions.size()) +
                            " frames have failed or skipped images and are rendered again; the others keep their "
                            "written images or are left out");
    return retried;
}

RenderBatch::Plan RenderBatch::plan(const std::vector<PolygonFrame>& frames)
{
    Plan plan;
    last_ = RunRecord{};
    last_.shard = ShardPlan::of(config_);
    last_.images = frameImages(config_);
    if (!ledger_.openToRead(model_)) {
        plan.refused = true;
        return plan;
    }
    last_.namesAllFrames = last_.shard.split() || ledger_.earlierNamedAllFrames();
    plan.framesRetried = logRetriedFrames(frames);
    plan.toRender.assign(frames.size(), 0);
    for (std::size_t p = 0; p < frames.size(); ++p) {
        std::vector<PlannedName> names =
            last_.namesAllFrames ? nameImages(nameTemplate_, frames[p], last_.images) : std::vector<PlannedName>();
        if (!last_.shard.owns(p)) {
            continue;
        }
        ++plan.totalFrames;
        plan.imagesPlanned += static_cast<int>(last_.images.size());
        FrameJob job(frames[p], static_cast<int>(p), std::move(names));
        ResumeLedger::Replay replay = ResumeLedger::Replay::None;
        if (!decideFrame(job, replay)) {
            continue;
        }
        nameFrame(job);  // as if its pre-check passed
        for (std::size_t i = 0; i < last_.images.size(); ++i) {
            const std::string path = i < job.names.size() ? job.names[i].path : std::string();
            if (ledger_.takeOver(job.ledgerFrame(), last_.images[i].key, path).entry) {
                ++plan.imagesTakenOver;
            } else if (!job.leftOut) {
                ++plan.toRender[p];
            }
        }
    }
    return plan;
}

int RenderBatch::Plan::imagesToRender() const
{
    int images = 0;
    for (const int frameImages : toRender) {
        images += frameImages;
    }
    return images;
}

double RenderBatch::measurePicture(osg::Node* scene, const PolygonFrame& frame, std::size_t position)
{
    if (!startRenderer(scene)) {
        return -1.0;
    }
    const auto start = Clock::now();
    if (options_.beforeFrame) {
        options_.beforeFrame(position, renderer_);
    }
    AngleWork work;
    work.angle = config_.angles.front();
    try {
        work.setup = chooseCamera(config_, scene, frame, work.angle, work.choice);
        work.placed = true;
    } catch (const std::exception& e) {
        Logger::instance().warn(std::string("No picture to measure: ") + e.what());
        return -1.0;
    }
    if (!pictures_.renderModel(work.setup)) {
        logRenderError();
        return -1.0;
    }
    return secondsBetween(start, Clock::now());
}

void RenderBatch::keepPrecheckPicture(ImagePipeline& pipeline, FrameJob& job)
{
    const bool topWanted = std::find(config_.angles.begin(), config_.angles.end(), "top") != config_.angles.end();
    if (!options_.reuse || !topWanted || pictures_.tilesIncomplete()) {
        return;
    }
    try {
        job.precheckPicture = capturePicture(pipeline, job, "top", job.precheckSetup, true);
    } catch (const std::exception&) {
        job.precheckPicture.reset();  // the top image is then rendered again
    }
}

RenderBatch::Precheck RenderBatch::precheckFrame(const PolygonFrame& frame, std::string& reason,
                                                 std::optional<CameraSetup>* drawn)
{
    try {
        const CameraSetup setup = camera_.computeSetup(frame, "top");
        const VerticalCheckResult check = checkVerticalImage(pictures_, setup, &frame);
        if (!check.rendered) {
            logRenderError();
        } else if (drawn) {
            *drawn = setup;
        }
        if (check.rendered && noteIncomplete(frame, "top") && !check.passed) {
            // A view still loading says nothing sure about the model.
            reason = kRemarkTilesIncomplete;
            return Precheck::Fail;
        }
        if (check.passed) {
            return Precheck::Render;
        }
        reason = check.message.empty() ? kRemarkNoModel : check.message;
        if (!check.rendered) {
            // A picture that could not be drawn says nothing about the model.
            return Precheck::Fail;
        }
    } catch (const std::exception& e) {
        reason = std::string(kRemarkPrecheckFailed) + e.what();
    }
    Logger::instance().warn(formatLine(SkipFrame{frame.name, reason}));
    return Precheck::Skip;
}

void RenderBatch::renderAngle(ImagePipeline& pipeline, osg::Node* scene, const std::shared_ptr<const FrameJob>& job,
                              std::size_t angleIndex)
{
    static const PlannedName kUnnamed;  // a skipped frame's images have no names
    auto work = std::make_shared<AngleWork>();
    work->angle = config_.angles[angleIndex];
    for (std::size_t i = 0; i < last_.images.size(); ++i) {
        if (last_.images[i].angleIndex == angleIndex) {
            work->slots.emplace_back(last_.images[i], i < job->names.size() ? job->names[i] : kUnnamed);
        }
    }
    if (job->precheck == Precheck::Render) {
        try {
            for (ImageSlot& slot : work->slots) {
                if (!renderImage(pipeline, scene, *job, *work, slot)) {
                    break;
                }
            }
        } catch (const std::exception& e) {
            // The camera or the renderer could not go on.
            failImage(job->frame, *work, work->slots.front(), e.what());
        }
    } else {
        for (ImageSlot& slot : work->slots) {
            slot.leftOut = job->precheck == Precheck::LeftOut;
            slot.result.skipped = job->precheck == Precheck::Skip;
            slot.result.note = job->reason;
        }
    }
    pipeline.then([this, job, work, precheck = job->precheck, journaled = !job->skipReplayed] {
        settleAngle(*job, *work, precheck, journaled);
    });
}

void RenderBatch::placeCamera(osg::Node* scene, const FrameJob& job, AngleWork& work)
{
    if (work.placed) {
        return;
    }
    // The vertical view stays where the pre-check looked: its placement does
    // not depend on the heights, which that look measured.
    work.setup = work.angle == "top" && job.looked ? job.precheckSetup
                                                   : chooseCamera(config_, scene, job.frame, work.angle, work.choice);
    work.placed = true;
}

bool RenderBatch::renderImage(ImagePipeline& pipeline, osg::Node* scene, const FrameJob& job, AngleWork& work,
                              ImageSlot& slot)
{
    if (job.leftOut) {
        // Only a written image of the frame is taken over; the rest stays as it was.
        slot.leftOut = !slot.name.error.empty() || !takeOverImage(pipeline, scene, job, work, slot);
        return true;
    }
    if (!slot.name.error.empty()) {
        // An image without a name fails; its angle's outline image fails with it.
        failImage(job.frame, work, slot, slot.name.error);
        return false;
    }
    if (takeOverImage(pipeline, scene, job, work, slot)) {
        return true;
    }
    if (job.sheet) {
        job.sheet->renew();
    }
    placeCamera(scene, job, work);
    slot.start = Clock::now();
    slot.result.path = slot.name.path;
    // The outline image is seen from its angle's camera.
    const ImageResult& angleImage = work.slots.front().result;
    slot.result.occlusionScore = slot.image.outline ? angleImage.occlusionScore : work.choice.score;
    slot.result.viewAngle = slot.image.outline ? angleImage.viewAngle : work.choice.viewAngle;
    ImagePipeline::Picture picture = drawPicture(pipeline, job, work, slot);
    if (slot.incomplete) {
        slot.result.note = kRemarkTilesIncomplete;  // written all the same, but it fails
    }
    noteMeasures(job.frame, work, slot);
    if (picture) {
        slot.write = writePicture(pipeline, job, work, slot, std::move(picture));
    }
    return true;
}

bool RenderBatch::takeOverImage(ImagePipeline& pipeline, osg::Node* scene, const FrameJob& job, AngleWork& work,
                                ImageSlot& slot)
{
    const ResumeLedger::TakeOver earlier = ledger_.takeOver(job.ledgerFrame(), slot.image.key, slot.name.path);
    if (!earlier.refusal.empty()) {
        Logger::instance().info("Rendering " + slot.name.path + " again: " + earlier.refusal);
    }
    if (!earlier.entry) {
        return false;
    }
    slot.result = earlier.entry->result;
    slot.taken = true;
    Logger::instance().info(std::string(kResumedPrefix) + slot.result.path);
    if (hasWorldFiles(config_, work.angle)) {
        placeCamera(scene, job, work);
        slot.write = putBackWorldFiles(pipeline, work, slot);
    }
    if (job.sheet) {
        // The sheet reads the picture back from its file, if it is made anew.
        if (work.angle == "top") {
            placeCamera(scene, job, work);
        }
        job.sheet->keepFile(slot.image.key, slot.result.path, work.angle == "top" ? work.setup.orthoWidth : 0.0);
    }
    return true;
}

ImagePipeline::Picture RenderBatch::drawPicture(ImagePipeline& pipeline, const FrameJob& job, AngleWork& work,
                                                ImageSlot& slot)
{
    if (!slot.image.outline && work.angle == "top" && job.precheckPicture && sameSetup(work.setup, job.precheckSetup)) {
        slot.result.visibleShare = job.topVisibleShare;
        return job.precheckPicture;  // the pre-check drew exactly this, with nothing left to load
    }
    bool drawn = slot.image.outline ? pictures_.renderOutline(work.setup, job.frame, config_.range_line_depth_test)
                                    : pictures_.renderModel(work.setup);
    if (drawn && !slot.image.outline) {
        // Measured on the model alone; with outline_all_views a side view
        // then gets its outline, draped so that only its visible parts show.
        measureImage(job.frame, work, slot);
        if (config_.outline_all_views && work.angle != "top") {
            drawn = pictures_.renderOutline(work.setup, job.frame, true);
        }
    }
    if (!drawn) {
        logRenderError();
        return nullptr;
    }
    slot.incomplete = noteIncomplete(job.frame, slot.image.key);
    return capturePicture(pipeline, job, slot.image.key, work.setup, false);
}

void RenderBatch::measureImage(const PolygonFrame& frame, const AngleWork& work, ImageSlot& slot)
{
    PictureMeasure measure;
    const MeasureParts parts = work.angle == "top" ? MeasureParts::SurfaceAndArea : MeasureParts::Surface;
    if (pictures_.measurePicture(work.setup, frame, parts, measure)) {
        slot.result.visibleShare = visibleShare(measure);
    } else {
        Logger::instance().warn("Cannot measure the picture of frame " + frame.name + " angle " + work.angle + ": " +
                                pictures_.renderError());
    }
}

void RenderBatch::noteMeasures(const PolygonFrame& frame, const AngleWork& work, ImageSlot& slot) const
{
    if (slot.image.outline) {
        return;  // its remarks are its angle's image's
    }
    const double share = slot.result.visibleShare;
    if (share >= 0.0 && share < config_.min_visible_share) {
        addRemark(slot.result, kRemarkMostlyHidden);
        Logger::instance().warn("Frame " + frame.name + " angle " + work.angle + " shows " + fixedNumber(share, 3) +
                                " of the frame unobstructed, below min_visible_share " +
                                streamNumber(config_.min_visible_share));
    }
    if (work.angle == "top" && frame.modelShare >= 0.0 && frame.modelShare < kFullModelShare) {
        addRemark(slot.result, kRemarkPartlyOutside);
    }
}

ImagePipeline::Picture RenderBatch::capturePicture(ImagePipeline& pipeline, const FrameJob& job, const std::string& key,
                                                   const CameraSetup& setup, bool keep)
{
    ImagePipeline::Picture picture = keep ? pipeline.take(pictures_) : pipeline.forWriting(pictures_);
    finishPicture(FinishingContext{job.frame, key, setup, config_}, *picture);
    if (job.sheet) {
        const bool vertical = key == "top" || key == kOutlineImageKey;
        job.sheet->keep(key, *picture, vertical ? setup.orthoWidth : 0.0);
    }
    return picture;
}

void RenderBatch::prepareSheet(ImagePipeline& pipeline, const std::shared_ptr<FrameJob>& job)
{
    try {
        job->sheetPath = sheetPath(config_, nameTemplate_, job->frame);
    } catch (const std::exception& e) {
        Logger::instance().error(runMessage(RunMessage::FailedFrame, {job->frame.name, kDossierKey, e.what()}));
        ++last_.sheetsFailed;
        return;
    }
    if (!job->sheet->renewed()) {
        job->sheetTaken = ledger_.takeOver(job->ledgerFrame(), kDossierKey, job->sheetPath).entry;
    }
    pipeline.then([this, job] { settleSheet(*job); });
}

void RenderBatch::settleSheet(const FrameJob& job)
{
    FrameResults& results = last_.results[static_cast<std::size_t>(job.position)];
    if (job.sheetTaken) {
        results[kDossierKey] = job.sheetTaken->result;
        Logger::instance().info(std::string(kResumedPrefix) + job.sheetPath);
        return;
    }
    FileDigest digest;
    bool refused = false;
    const ImageResult sheet =
        makeSheet(config_, job.frame, results, *job.sheet, job.sheetPath, sheetSetting(), digest, refused);
    results[kDossierKey] = sheet;
    last_.refused = last_.refused || refused;
    last_.sheetsFailed += sheet.success ? 0 : 1;
    if (!job.skipReplayed) {
        ledger_.record(job.ledgerFrame(), kDossierKey, sheet, sheet.success ? &digest : nullptr, last_.namesAllFrames);
    }
}

void RenderBatch::writeSheetBook(const std::vector<PolygonFrame>& frames, const ResultsTable& results)
{
    const auto groundWidth = [this](const PolygonFrame& frame) {
        try {
            return camera_.computeSetup(frame, "top").orthoWidth;
        } catch (const std::exception&) {
            return 0.0;  // the vertical picture then goes without a scale bar
        }
    };
    std::vector<std::size_t> positions(frames.size());
    std::iota(positions.begin(), positions.end(), std::size_t{0});
    if (!writeBook(config_, frames, results, positions, groundWidth, sheetSetting())) {
        ++last_.sheetsFailed;
    }
}

SheetSetting RenderBatch::sheetSetting() const
{
    fs::path model = fs::path(config_.osgb_path).lexically_normal();
    if (model.filename().empty()) {
        model = model.parent_path();
    }
    return SheetSetting{model.filename().string(), systemName_.empty() ? "未知" : systemName_, todayText()};
}

ImagePipeline::WriteHandle RenderBatch::writePicture(ImagePipeline& pipeline, const FrameJob& job,
                                                     const AngleWork& work, const ImageSlot& slot,
                                                     ImagePipeline::Picture picture)
{
    return pipeline.write(std::move(picture), slot.result.path, thumbnailFor(job.frame, slot.image.key),
                          placeOf(config_, options_, work.angle, work.setup));
}

ImagePipeline::WriteHandle RenderBatch::putBackWorldFiles(ImagePipeline& pipeline, const AngleWork& work,
                                                          const ImageSlot& slot)
{
    // A run killed between the picture and its world file left none.
    return pipeline.putBackWorldFiles(slot.result.path, *placeOf(config_, options_, work.angle, work.setup));
}

void RenderBatch::failImage(const PolygonFrame& frame, AngleWork& work, ImageSlot& slot, const std::string& reason)
{
    slot.result.note = reason;
    Logger::instance().error(runMessage(RunMessage::FailedFrame, {frame.name, work.angle, reason}));
    if (slot.image.outline) {
        return;
    }
    for (ImageSlot& other : work.slots) {
        // The outline image fails with its angle's image, unless it went its own way.
        const bool untouched =
            !other.write.valid() && !other.taken && other.result.path.empty() && other.result.note.empty();
        if (other.image.outline && untouched) {
            other.result.note = reason;
        }
    }
}

void RenderBatch::settleAngle(const FrameJob& job, AngleWork& work, Precheck precheck, bool journaled)
{
    const auto now = Clock::now();
    FrameResults& frameResults = last_.results[static_cast<std::size_t>(job.position)];
    for (ImageSlot& slot : work.slots) {
        if (slot.leftOut) {
            continue;  // no result: the reports say 未完成
        }
        settleImage(slot, work, precheck != Precheck::Skip, now);
        frameResults[slot.image.key] = slot.result;
    }
    // The journal learns of an image only once its file is in place.
    for (const ImageSlot& slot : work.slots) {
        if (journaled && !slot.taken && !slot.leftOut) {
            ledger_.record(job.ledgerFrame(), slot.image.key, slot.result,
                           slot.write.valid() ? &slot.write.get().digest : nullptr, last_.namesAllFrames);
        }
    }
    logProgress(job, work, now);
}

void RenderBatch::settleImage(ImageSlot& slot, const AngleWork& work, bool looked, Clock::time_point now)
{
    const bool hasWrite = slot.write.valid();
    last_.refused = last_.refused || (hasWrite && slot.write.get().refused);
    if (looked) {
        if (!slot.taken) {
            slot.result.success = hasWrite && slot.write.get().written && !slot.incomplete;
        }
        noteWorldFiles(slot.result, slot.write);
    }
    if (slot.taken) {
        return;
    }
    // The angle's image is timed over all of the angle's work; its outline
    // image over its own drawing and writing.
    if (!slot.image.outline) {
        slot.result.seconds = secondsBetween(work.start, now);
    } else if (looked) {
        slot.result.seconds = secondsBetween(slot.start, hasWrite ? slot.write.get().finished : now);
    }
}

void RenderBatch::logProgress(const FrameJob& job, const AngleWork& work, Clock::time_point now)
{
    const int done = ++last_.imagesDone;
    const double elapsed = secondsBetween(last_.start, now);
    const double eta = std::max(0, last_.totalImages - done) * (elapsed / done);
    const int frameNumber = last_.shard.numberInShard(static_cast<std::size_t>(job.position));
    Logger::instance().emit(Logger::Info,
                            formatLine(ImageProgress{done, last_.totalImages, frameNumber, last_.totalFrames, elapsed,
                                                     eta, work.angle, work.slots.front().result.success}));
}

bool RenderBatch::noteIncomplete(const PolygonFrame& frame, const std::string& key)
{
    if (!pictures_.tilesIncomplete()) {
        return false;
    }
    Logger::instance().warn("Tiles still loading after tile_load_timeout " + streamNumber(config_.tile_load_timeout) +
                            " s: frame " + frame.name + " angle " + key + ", " +
                            std::to_string(pictures_.incompleteRequests()) + " requests outstanding");
    return true;
}

void RenderBatch::logRenderError() const
{
    if (!pictures_.renderError().empty()) {
        Logger::instance().error(pictures_.renderError());
    }
}

std::string RenderBatch::thumbnailFor(const PolygonFrame& frame, const std::string& key) const
{
    return config_.html_report ? thumbnailPath(config_, frame, key) : std::string();
}

}  // namespace vistrel
