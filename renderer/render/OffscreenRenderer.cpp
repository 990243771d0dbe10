#include "render/OffscreenRenderer.h"

#include "core/Logger.h"
#include "core/RunProtocol.h"
#include "core/Seconds.h"
#include "render/ArrayPointerReset.h"
#include "render/EglGraphicsContext.h"
#include "render/RangeLine.h"

#include <osg/FrameBufferObject>
#include <osg/GL>
#include <osg/Scissor>
#include <osg/Viewport>
#include <osgDB/DatabasePager>
#include <osgUtil/RenderStage>
#include <osgUtil/SceneView>
#include <osgViewer/Renderer>

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

namespace vistrel {

namespace {

using Clock = std::chrono::steady_clock;

// A picture's draw clears both buffers; the measure's draw of the frame's
// own surface needs the depth buffer alone.
constexpr GLbitfield kPictureClear = GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT;

osg::Vec4 clearColour(const RenderConfig& config)
{
    if (config.transparent_bg) {
        return osg::Vec4(0, 0, 0, 0);
    }
    if (config.background == "black") {
        return osg::Vec4(0, 0, 0, 1);
    }
    if (config.background == "transparent") {
        return osg::Vec4(0, 0, 0, 0);
    }
    return osg::Vec4(1, 1, 1, 1);
}

}  // namespace

RenderTargetLimits queryRenderTargetLimits()
{
    RenderTargetLimits limits;
    GLint value[2] = {0, 0};
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE_EXT, value);
    limits.renderbuffer = value[0];
    value[0] = value[1] = 0;
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, value);
    limits.viewportWidth = value[0];
    limits.viewportHeight = value[1];
    return limits;
}

std::string renderTargetLimitError(int width, int height, const RenderTargetLimits& limits)
{
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    // A limit the driver did not report (0) is not held against the size.
    if (limits.renderbuffer > 0 && (width > limits.renderbuffer || height > limits.renderbuffer)) {
        return runMessage(RunMessage::RenderTargetTooLarge,
                          {size, "GL_MAX_RENDERBUFFER_SIZE " + std::to_string(limits.renderbuffer)});
    }
    if ((limits.viewportWidth > 0 && width > limits.viewportWidth) ||
        (limits.viewportHeight > 0 && height > limits.viewportHeight)) {
        return runMessage(RunMessage::RenderTargetTooLarge,
                          {size, "GL_MAX_VIEWPORT_DIMS " + std::to_string(limits.viewportWidth) + "x" +
                                     std::to_string(limits.viewportHeight)});
    }
    return std::string();
}

OffscreenRenderer::OffscreenRenderer(const RenderConfig& config) : config_(config)
{
}

OffscreenRenderer::~OffscreenRenderer()
{
    // The viewer closes the context; drop the camera's references first.
    osg::GraphicsContext* context = camera_ ? camera_->getGraphicsContext() : nullptr;
    if (context && context->getState() && context->isRealized() && context->makeCurrent()) {
        spareDepth_.release(*context->getState());
        context->releaseContext();
    }
    camera_ = nullptr;
    viewer_ = nullptr;
}

osg::ref_ptr<osg::GraphicsContext> OffscreenRenderer::createContext(std::vector<std::string>& errors)
{
    std::string eglFailure;
    const int device = requestedEglDevice(config_.egl_device, eglFailure);
    bool deviceMissing = device < -1;
    osg::ref_ptr<EglGraphicsContext> egl;
    if (!deviceMissing) {
        egl = EglGraphicsContext::create(config_.width, config_.height, device, eglFailure, deviceMissing);
    }
    if (egl.valid()) {
        contextDescription_ = egl->description();
        return egl;
    }
    if (deviceMissing) {
        // An explicit choice is not silently replaced by another renderer.
        errors.push_back(runMessage(RunMessage::EglDeviceMissing,
                                    {device >= 0 ? std::to_string(device) : std::string("?"), eglFailure}));
        return nullptr;
    }

    // With a display, an X pbuffer context through OpenSceneGraph.
    osg::ref_ptr<osg::GraphicsContext::Traits> traits = new osg::GraphicsContext::Traits;
    traits->x = 0;
    traits->y = 0;
    traits->width = config_.width;
    traits->height = config_.height;
    traits->windowDecoration = false;
    traits->doubleBuffer = false;
    traits->pbuffer = true;
    traits->sharedContext = nullptr;
    traits->readDISPLAY();
    if (traits->displayNum < 0) {
        traits->displayNum = 0;
    }
    if (traits->screenNum < 0) {
        traits->screenNum = 0;
    }
    osg::ref_ptr<osg::GraphicsContext> context = osg::GraphicsContext::createGraphicsContext(traits.get());
    if (context.valid()) {
        contextDescription_ = "GLX pbuffer";
        if (context->getState()) {
            osg::GLExtensions::Set(context->getState()->getContextID(), nullptr);
        }
        return context;
    }
    // Said when it happens, before the error the caller logs.
    Logger::instance().warn("EGL context unavailable: " + eglFailure);
    return nullptr;
}

void OffscreenRenderer::attachCamera(osg::GraphicsContext* context)
{
    camera_ = viewer_->getCamera();
    camera_->setGraphicsContext(context);
    camera_->setViewport(new osg::Viewport(0, 0, config_.width, config_.height));
    camera_->setRenderTargetImplementation(osg::Camera::FRAME_BUFFER_OBJECT);
    camera_->setClearMask(kPictureClear);
    camera_->setClearColor(clearColour(config_));
    camera_->setInitialDrawCallback(new ArrayPointerReset);

    // The colour buffer is an RGBA renderbuffer; only the kept picture is
    // read back (readBack), as RGBA: the renderbuffer's own layout, copied
    // without a conversion. The encoders take RGBA rows as they are.
    captureImage_ = new osg::Image;
    captureImage_->allocateImage(config_.width, config_.height, 1, GL_RGBA, GL_UNSIGNED_BYTE, 1);
    camera_->attach(osg::Camera::COLOR_BUFFER, GL_RGBA);
}

std::string OffscreenRenderer::readContextLimits(osg::GraphicsContext* context)
{
    if (!context->makeCurrent()) {
        return std::string();
    }
    const GLubyte* renderer = glGetString(GL_RENDERER);
    glRenderer_ = renderer ? reinterpret_cast<const char*>(renderer) : "unknown";
    const GLubyte* version = glGetString(GL_VERSION);
    glVersion_ = version ? reinterpret_cast<const char*>(version) : "unknown";
    limits_ = queryRenderTargetLimits();
    if (targetLimit_ > 0) {
        limits_.renderbuffer = limits_.renderbuffer > 0 ? std::min(limits_.renderbuffer, targetLimit_) : targetLimit_;
    }
    const std::string limitError = renderTargetLimitError(config_.width, config_.height, limits_);
    context->releaseContext();
    return limitError;
}

bool OffscreenRenderer::initialize(osg::Node* scene, std::vector<std::string>& errors)
{
    errors.clear();
    if (!scene) {
        errors.push_back(runMessage(RunMessage::RendererNullScene));
        return false;
    }
    viewer_ = new osgViewer::Viewer;
    viewer_->setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
    osg::ref_ptr<osg::GraphicsContext> context = createContext(errors);
    if (!context.valid()) {
        errors.push_back(runMessage(RunMessage::NoGraphicsContext));
        viewer_ = nullptr;
        return false;
    }
    attachCamera(context.get());
    scene_ = scene;
    sceneRoot_ = new osg::Group;
    sceneRoot_->addChild(scene);
    viewer_->setDatabasePager(new osgDB::DatabasePager);
    viewer_->setSceneData(sceneRoot_.get());
    viewer_->realize();

    // Without a realised context, or with a size beyond its limits, no
    // frame-buffer object can be made: every picture would come back empty,
    // so the renderer does not start.
    const std::string failure =
        context->isRealized() ? readContextLimits(context.get()) : runMessage(RunMessage::NoGraphicsContext);
    if (!failure.empty()) {
        errors.push_back(failure);
        camera_ = nullptr;
        viewer_ = nullptr;
        return false;
    }
    initialized_ = true;
    Logger& log = Logger::instance();
    log.info("FBO renderer initialized.");
    log.info("OpenGL context: " + contextDescription_ + ", renderer: " + glRenderer_ + ", OpenGL " + glVersion_);
    return true;
}

void OffscreenRenderer::frameWith(GLbitfield clearMask, osg::StateSet* state)
{
    camera_->setClearMask(clearMask);
    sceneRoot_->setStateSet(state);
    const auto restore = [this] {
        camera_->setClearMask(kPictureClear);
        sceneRoot_->setStateSet(nullptr);
    };
    try {
        viewer_->frame();
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

void OffscreenRenderer::drawOneFrame(bool picture)
{
    const auto start = Clock::now();
    if (!picture) {
        // Culled as a picture is (the same tiles asked for), nothing
        // cleared, every fragment outside the empty scissor.
        if (!lookState_) {
            lookState_ = new osg::StateSet;
            lookState_->setAttributeAndModes(new osg::Scissor(0, 0, 0, 0),
                                             osg::StateAttribute::ON | osg::StateAttribute::OVERRIDE);
        }
    }
    frameWith(picture ? kPictureClear : 0, picture ? nullptr : lookState_.get());
    timings_.drawSeconds += secondsBetween(start, Clock::now());
    ++(picture ? timings_.draws : timings_.looks);
    lookedOnly_ = !picture;
    hasDrawn_ = true;
    drawnView_ = placedView_;
    drawnProjection_ = placedProjection_;
    fittedProjection_ = camera_->getProjectionMatrix();
    drawnChildren_.clear();
    for (unsigned i = 0; i < sceneRoot_->getNumChildren(); ++i) {
        drawnChildren_.push_back(sceneRoot_->getChild(i));
    }
}

bool OffscreenRenderer::pagerIdle() const
{
    const osgDB::DatabasePager* pager = viewer_ ? viewer_->getDatabasePager() : nullptr;
    return !pager || !pager->getRequestsInProgress();
}

int OffscreenRenderer::outstandingRequests() const
{
    osgDB::DatabasePager* pager = viewer_ ? viewer_->getDatabasePager() : nullptr;
    if (!pager) {
        return 0;
    }
    int count = static_cast<int>(pager->getFileRequestListSize() + pager->getDataToCompileListSize() +
                                 pager->getDataToMergeListSize());
    for (unsigned i = 0; i < pager->getNumDatabaseThreads(); ++i) {
        count += pager->getDatabaseThread(i)->getActive() ? 1 : 0;
    }
    return count;
}

bool OffscreenRenderer::viewChanged() const
{
    if (!hasDrawn_ || placedView_ != drawnView_ || placedProjection_ != drawnProjection_ ||
        sceneRoot_->getNumChildren() != drawnChildren_.size()) {
        return true;
    }
    for (unsigned i = 0; i < sceneRoot_->getNumChildren(); ++i) {
        if (sceneRoot_->getChild(i) != drawnChildren_[i]) {
            return true;
        }
    }
    return false;
}

bool OffscreenRenderer::drawWouldChange() const
{
    const osgDB::DatabasePager* pager = viewer_->getDatabasePager();
    return viewChanged() || (pager && (pager->requiresUpdateSceneGraph() || pager->getDataToCompileListSize() > 0));
}

void OffscreenRenderer::drawIfNeeded(bool force)
{
    if (!force && !drawWouldChange()) {
        return;
    }
    const bool forTiles = !force && !viewChanged();
    // Unless every draw is asked for, the view is only looked at until it
    // settles (lookedOnly_): the draws as tiles arrive showed nothing kept.
    drawOneFrame(force);
    timings_.tileDraws += forTiles ? 1 : 0;
}

bool OffscreenRenderer::pictureOfSettledView(bool complete)
{
    if (lookedOnly_) {
        drawOneFrame(true);  // the picture of the settled view
    }
    return complete;
}

void OffscreenRenderer::sleepFor(std::chrono::microseconds pause)
{
    const auto sleepStart = Clock::now();
    const auto until = sleepStart + pause;
    while (Clock::now() < until) {
        std::this_thread::sleep_until(until);
    }
    timings_.sleepSeconds += secondsBetween(sleepStart, Clock::now());
}

bool OffscreenRenderer::settle()
{
    const bool force = !reuseSettledPlacement_;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(config_.tile_load_timeout));
    // A view already settled is the picture as it stands: nothing to wait for.
    const bool settled = !force && !drawWouldChange() && pagerIdle();
    const int warmup = config_.warmup_until_loaded || settled ? 0 : std::max(0, config_.warmup_frames);
    for (int i = 0; i < warmup; ++i) {
        drawIfNeeded(force);
        sleepFor(std::chrono::milliseconds(25));
    }
    const osgDB::DatabasePager* pager = viewer_->getDatabasePager();
    auto waitStart = Clock::now();
    for (bool first = true;; first = false) {
        drawIfNeeded(force && first);
        if (first) {
            waitStart = Clock::now();
        }
        if (pagerIdle()) {
            timings_.tileWaitSeconds += secondsBetween(waitStart, Clock::now());
            return pictureOfSettledView(true);
        }
        // Wait while the pager reads files and has nothing to merge yet.
        while (pager && pager->getRequestsInProgress() && !pager->requiresUpdateSceneGraph() &&
               pager->getDataToCompileListSize() == 0 && Clock::now() < deadline) {
            sleepFor(std::chrono::milliseconds(2));
        }
        if (Clock::now() >= deadline && !pagerIdle()) {
            timings_.tileWaitSeconds += secondsBetween(waitStart, Clock::now());
            return pictureOfSettledView(false);
        }
    }
}

bool OffscreenRenderer::withFrameBuffer(const std::function<void(osg::State&, osg::FrameBufferObject&)>& work)
{
    osg::GraphicsContext* context = camera_->getGraphicsContext();
    auto* renderer = dynamic_cast<osgViewer::Renderer*>(camera_->getRenderer());
    osgUtil::RenderStage* stage =
        renderer && renderer->getSceneView(0) ? renderer->getSceneView(0)->getRenderStage() : nullptr;
    osg::FrameBufferObject* fbo = stage ? stage->getFrameBufferObject() : nullptr;
    if (!context || !context->getState() || !fbo) {
        return false;
    }
    // Left as the draws left it: a context kept current would outlive the
    // renderer (and llvmpipe's threads with it, which a forked child lacks).
    const bool wasCurrent = context->isCurrent();
    if (!wasCurrent && !context->makeCurrent()) {
        return false;
    }
    osg::State& state = *context->getState();
    work(state, *fbo);
    state.get<osg::GLExtensions>()->glBindFramebuffer(GL_FRAMEBUFFER_EXT, context->getDefaultFboId());
    if (!wasCurrent) {
        context->releaseContext();
    }
    return true;
}

bool OffscreenRenderer::readFrameBuffer(const std::function<void()>& read)
{
    return withFrameBuffer([&read](osg::State& state, osg::FrameBufferObject& fbo) {
        fbo.apply(state, osg::FrameBufferObject::READ_FRAMEBUFFER);
        read();
    });
}

osg::ref_ptr<osg::Image> OffscreenRenderer::exchangeCapture(osg::ref_ptr<osg::Image> next)
{
    if (!captureImage_) {
        return nullptr;
    }
    if (!next || next->s() != captureImage_->s() || next->t() != captureImage_->t() ||
        next->getPixelFormat() != captureImage_->getPixelFormat() ||
        next->getDataType() != captureImage_->getDataType() || next->getPacking() != captureImage_->getPacking()) {
        next = new osg::Image;
        next->allocateImage(captureImage_->s(), captureImage_->t(), 1, captureImage_->getPixelFormat(),
                            captureImage_->getDataType(), captureImage_->getPacking());
    }
    osg::ref_ptr<osg::Image> taken = captureImage_;
    captureImage_ = next;
    return taken;
}

bool OffscreenRenderer::readBack()
{
    const bool read = readFrameBuffer([this] {
        glReadBuffer(GL_COLOR_ATTACHMENT0_EXT);
        captureImage_->readPixels(0, 0, config_.width, config_.height, GL_RGBA, GL_UNSIGNED_BYTE, 1);
    });
    timings_.readbacks += read ? 1 : 0;
    return read;
}

bool OffscreenRenderer::readDepth(DepthPicture& picture, const PixelRect& part)
{
    picture.width = config_.width;
    picture.height = config_.height;
    picture.region = grownWithin(part, 0, config_.width, config_.height);
    // Every value is read: a buffer of the right size is taken as it is.
    picture.depth.resize(static_cast<std::size_t>(picture.region.width) *
                         static_cast<std::size_t>(picture.region.height));
    // The projection as the draw used it: the cull fits its near and far planes.
    picture.place(
        osg::Matrixd::inverse(drawnView_ * fittedProjection_ * camera_->getViewport()->computeWindowMatrix()));
    return readFrameBuffer([&picture] {
        const PixelRect& region = picture.region;
        if (!region.empty()) {
            glPixelStorei(GL_PACK_ALIGNMENT, 4);
            glReadPixels(region.x, region.y, region.width, region.height, GL_DEPTH_COMPONENT, GL_FLOAT,
                         picture.depth.data());
        }
    });
}

bool OffscreenRenderer::renderFrame(const CameraSetup& setup)
{
    renderError_.clear();
    if (!initialized_ || !viewer_ || !camera_ || !captureImage_) {
        renderError_ = runMessage(RunMessage::RendererNotInitialized);
        return false;
    }
    try {
        FrameCamera(config_).applyToCamera(camera_.get(), setup);
        // The placement as asked for: a draw adjusts the camera's near and far
        // planes to the scene, which is no change of view.
        placedView_ = camera_->getViewMatrix();
        placedProjection_ = camera_->getProjectionMatrix();
        tilesIncomplete_ = false;
        incompleteRequests_ = 0;
        if (!settle()) {
            tilesIncomplete_ = true;
            incompleteRequests_ = std::max(1, outstandingRequests());
        }
        if (!drewThroughFrameBufferObject() || !readBack()) {
            // The driver fell back to the tiny window surface: there is no
            // picture of this placement.
            hasDrawn_ = false;
            renderError_ = runMessage(RunMessage::RenderNotThroughFbo);
            return false;
        }
        ++timings_.renders;
        return true;
    } catch (const std::exception& e) {
        hasDrawn_ = false;
        renderError_ = runMessage(RunMessage::RenderFailed, {e.what()});
        return false;
    }
}

bool OffscreenRenderer::renderModel(const CameraSetup& setup)
{
    prepareSceneRoot();
    return renderFrame(setup);
}

bool OffscreenRenderer::renderOutline(const CameraSetup& setup, const PolygonFrame& frame, bool depthTested)
{
    return renderRangeLineFrame(*this, setup, frame, depthTested);
}

bool OffscreenRenderer::holdsModelPicture(const CameraSetup& setup)
{
    if (!initialized_ || !reuseSettledPlacement_ || !hasDrawn_ || drawnChildren_.size() != 1 ||
        drawnChildren_.front() != scene_.get()) {
        return false;
    }
    FrameCamera(config_).applyToCamera(camera_.get(), setup);
    placedView_ = camera_->getViewMatrix();
    placedProjection_ = camera_->getProjectionMatrix();
    return !drawWouldChange() && pagerIdle();
}

bool OffscreenRenderer::renderOverlay(const CameraSetup& setup, osg::Node* overlay)
{
    if (holdsModelPicture(setup)) {
        return drawOverModelPicture(overlay);
    }
    sceneRoot_->addChild(overlay);
    const bool rendered = renderFrame(setup);
    sceneRoot_->removeChild(overlay);
    return rendered;
}

bool OffscreenRenderer::drawOverModelPicture(osg::Node* overlay)
{
    renderError_.clear();
    const auto start = Clock::now();
    const osg::CullSettings::ComputeNearFarMode nearFar = camera_->getComputeNearFarMode();
    const auto restore = [&] {
        camera_->setClearMask(kPictureClear);
        camera_->setComputeNearFarMode(nearFar);
        sceneRoot_->removeChildren(0, sceneRoot_->getNumChildren());
        sceneRoot_->addChild(scene_.get());
    };
    // Nothing cleared, the model not drawn again, and the picture's depth
    // mapping kept: the overlay meets the model's depth as in one draw.
    sceneRoot_->removeChildren(0, sceneRoot_->getNumChildren());
    sceneRoot_->addChild(overlay);
    camera_->setClearMask(0);
    camera_->setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
    camera_->setProjectionMatrix(fittedProjection_);
    try {
        viewer_->frame();
    } catch (const std::exception& e) {
        restore();
        hasDrawn_ = false;
        renderError_ = runMessage(RunMessage::RenderFailed, {e.what()});
        return false;
    }
    restore();
    timings_.drawSeconds += secondsBetween(start, Clock::now());
    ++timings_.draws;
    ++timings_.overlayDraws;
    // The buffers hold the overlay now: the next picture is drawn anew.
    hasDrawn_ = false;
    tilesIncomplete_ = false;
    incompleteRequests_ = 0;
    if (!drewThroughFrameBufferObject() || !readBack()) {
        renderError_ = runMessage(RunMessage::RenderNotThroughFbo);
        return false;
    }
    ++timings_.renders;
    return true;
}

OwnSurfacePass OffscreenRenderer::ownSurfaceOf(const PolygonFrame& frame) const
{
    const osg::BoundingSphere bound = scene_->getBound();
    const osg::Matrixd sceneToWindow = drawnView_ * fittedProjection_ * camera_->getViewport()->computeWindowMatrix();
    return ownSurfacePass(frame, drawnView_, sceneToWindow, bound.center().z() - bound.radius(),
                          bound.center().z() + bound.radius(), config_.width, config_.height);
}

void OffscreenRenderer::clearDepth(osg::State& state, osg::FrameBufferObject& fbo, const PixelRect& part) const
{
    if (part.empty()) {
        return;
    }
    state.get<osg::GLExtensions>()->glBindFramebuffer(GL_FRAMEBUFFER_EXT, fbo.getHandle(state.getContextID()));
    glScissor(part.x, part.y, part.width, part.height);
    glEnable(GL_SCISSOR_TEST);
    glDepthMask(GL_TRUE);
    glClearDepth(1.0);
    glClear(GL_DEPTH_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    // Set behind the scene graph's back: applied anew by the next draw.
    state.haveAppliedMode(GL_SCISSOR_TEST, osg::StateAttribute::OFF);
    state.haveAppliedAttribute(osg::StateAttribute::SCISSOR);
    state.haveAppliedAttribute(osg::StateAttribute::DEPTH);
}

bool OffscreenRenderer::drawOwnSurface(const OwnSurfacePass& pass, DepthPicture& own)
{
    const osg::Matrixd pictureProjection = fittedProjection_;
    const bool idle = pagerIdle() && !drawWouldChange();
    // The colour buffer keeps the picture and the depth buffer its depth:
    // the surface writes depth alone, into the spare depth buffer, within
    // the pass's rectangle.
    bool spare = false;
    withFrameBuffer([&](osg::State& state, osg::FrameBufferObject& fbo) {
        spare = spareDepth_.attach(state, fbo, config_.width, config_.height);
        clearDepth(state, fbo, pass.window);
    });
    const auto putBack = [this] {
        bool back = false;
        withFrameBuffer([&](osg::State& state, osg::FrameBufferObject& fbo) { back = spareDepth_.detach(state, fbo); });
        return back;
    };
    try {
        frameWith(0, pass.state.get());
    } catch (...) {
        putBack();
        fittedProjection_ = pictureProjection;
        hasDrawn_ = false;
        throw;
    }
    fittedProjection_ = camera_->getProjectionMatrix();
    ++timings_.measures;
    const bool read = readDepth(own, pass.window);
    const bool back = spare && putBack();
    fittedProjection_ = pictureProjection;
    // Without the spare the surface was drawn over the picture's depth; with
    // tiles merged meanwhile the picture is no longer the model's.
    hasDrawn_ = back && idle && pagerIdle();
    return read;
}

bool OffscreenRenderer::measurePicture(const CameraSetup& setup, const PolygonFrame& frame, MeasureParts parts,
                                       PictureMeasure& measure)
{
    measure = PictureMeasure{};
    renderError_.clear();
    const auto start = Clock::now();
    if (!hasDrawn_) {
        renderError_ = runMessage(RunMessage::RenderFailed, {"the depth of the picture cannot be read"});
        return false;
    }
    // The frame's own surface, drawn alone from the same placement, reaches
    // only its pass's rectangle; the area of a vertical view and a pixel
    // around it are read besides.
    const bool surface = parts != MeasureParts::Area;
    const bool vertical = parts != MeasureParts::Surface;
    const OwnSurfacePass pass = surface ? ownSurfaceOf(frame) : OwnSurfacePass{};
    const std::vector<CellSpan> area =
        vertical ? verticalAreaSpans(frame, setup, config_.width, config_.height) : std::vector<CellSpan>{};
    const PixelRect needed = unite(pass.window, grownWithin(spanBounds(area), 1, config_.width, config_.height));
    DepthPicture& model = modelDepth_;
    if (!readDepth(model, needed)) {
        renderError_ = runMessage(RunMessage::RenderFailed, {"the depth of the picture cannot be read"});
        return false;
    }
    if (vertical) {
        measureVerticalArea(model, area, setup, measure);
    }
    const bool measured = !surface || measureOwnSurface(pass, model, setup, measure);
    timings_.measureSeconds += secondsBetween(start, Clock::now());
    return measured;
}

bool OffscreenRenderer::measureOwnSurface(const OwnSurfacePass& pass, const DepthPicture& model,
                                          const CameraSetup& setup, PictureMeasure& measure)
{
    DepthPicture& own = ownDepth_;
    if (!drawOwnSurface(pass, own)) {
        renderError_ = runMessage(RunMessage::RenderFailed, {"the depth of the frame's own surface cannot be read"});
        return false;
    }
    // Both draws show the same geometry through the same matrices: a
    // centimetre covers what rounding differs.
    constexpr double kSamePoint = 0.01;
    compareSurfaces(model, own, kSamePoint * std::max(1.0, setup.orthoWidth / 100.0), measure);
    return true;
}

void OffscreenRenderer::prepareSceneRoot()
{
    if (scene_ && sceneRoot_ && sceneRoot_->getNumChildren() != 1) {
        sceneRoot_->removeChildren(1, sceneRoot_->getNumChildren() - 1);
    }
}

bool OffscreenRenderer::drewThroughFrameBufferObject() const
{
    if (!camera_ || camera_->getRenderTargetImplementation() != osg::Camera::FRAME_BUFFER_OBJECT) {
        return false;
    }
    auto* renderer = dynamic_cast<osgViewer::Renderer*>(camera_->getRenderer());
    if (!renderer || !renderer->getSceneView(0)) {
        return false;
    }
    osgUtil::RenderStage* stage = renderer->getSceneView(0)->getRenderStage();
    return stage && stage->getFrameBufferObject() != nullptr;
}

}  // namespace vistrel
