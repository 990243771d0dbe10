#pragma once

#include "core/RenderConfig.h"
#include "render/FrameCamera.h"
#include "render/OwnSurface.h"
#include "render/PictureSource.h"
#include "render/SpareDepth.h"

#include <osg/Group>
#include <osg/Image>
#include <osg/ref_ptr>
#include <osgViewer/Viewer>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vistrel {

// Where the time of the renderer goes, summed over all calls.
struct RenderTimings {
    int renders = 0;  // renderFrame calls that gave a picture
    int draws = 0;
    int readbacks = 0;  // pictures read back from the frame-buffer object
    int tileDraws = 0;  // draws of an unchanged view, made because tiles arrived
    int looks = 0;  // frames that only culled the view while its tiles arrived (not in draws)
    int overlayDraws = 0;  // overlays drawn over the kept picture of the model, without the model
    double tileWaitSeconds = 0.0;  // time from a picture's last warm-up draw until its view settled
    double drawSeconds = 0.0;  // viewer.frame() calls, readback included
    double sleepSeconds = 0.0;  // warm-up pauses for the database pager
    int measures = 0;  // pictures measured (measurePicture): one draw of the frame's surface each
    double measureSeconds = 0.0;  // those draws, the depth read-backs and the counting
};

// The largest render target the context takes (0 where not reported).
struct RenderTargetLimits {
    int renderbuffer = 0;  // GL_MAX_RENDERBUFFER_SIZE
    int viewportWidth = 0;  // GL_MAX_VIEWPORT_DIMS
    int viewportHeight = 0;
};

// The limits of the current context.
RenderTargetLimits queryRenderTargetLimits();

// Empty when a width x height target fits the limits, else the ERROR text
// naming the size and the limit it exceeds.
std::string renderTargetLimitError(int width, int height, const RenderTargetLimits& limits);

// Draws the model into a hidden frame-buffer object and reads every frame
// back into one RGBA image. Created once per run and reused for every image.
class OffscreenRenderer final : public PictureSource {
public:
    explicit OffscreenRenderer(const RenderConfig& config);
    ~OffscreenRenderer() override;
    OffscreenRenderer(const OffscreenRenderer&) = delete;
    OffscreenRenderer& operator=(const OffscreenRenderer&) = delete;

    // Makes the context, the frame-buffer object camera and the viewer.
    // False when there is no scene, no context can be made or the configured
    // size is beyond what the context can render into; `errors` then holds
    // the ERROR texts saying why, in the order to log them (a missing EGL
    // device asked for gives two: the device, then that no context was
    // made). The context's description is logged as INFO on success.
    bool initialize(osg::Node* scene, std::vector<std::string>& errors) override;
    // Holds render targets to at most `pixels` per side on top of what the
    // context reports; for memory caps and for tests. Call before initialize.
    void limitTargetSize(int pixels) { targetLimit_ = pixels; }
    const RenderTargetLimits& targetLimits() const { return limits_; }
    // Places the camera and draws, with whatever overlays hang under the
    // scene root, until the view is settled: after the warm-up (warmup_frames
    // draws with a pause each, none with warmup_until_loaded) it keeps
    // drawing while the database pager has tiles requested, loading or
    // waiting to be merged, up to tile_load_timeout seconds. A draw is made
    // only when the pager merged tiles or the camera or the scene changed
    // since the last one; the last drawn picture is then read back into
    // captureImage(). A picture taken at the timeout is still given (true)
    // but tilesIncomplete() says so. A frame not drawn through the
    // frame-buffer object is a render failure. A render that gives no picture
    // leaves its reason (the ERROR text) in renderError().
    bool renderFrame(const CameraSetup& setup);
    // Why the last renderFrame gave no picture; empty after one that did.
    const std::string& renderError() const override { return renderError_; }
    // Removes overlays, then renders the model alone.
    bool renderModel(const CameraSetup& setup) override;
    // Renders with the frame's outline draped on the model (renderRangeLineFrame).
    bool renderOutline(const CameraSetup& setup, const PolygonFrame& frame, bool depthTested) override;
    // Renders the model with `overlay` under the scene root for this one
    // picture. Where the frame-buffer object still holds the settled picture
    // of the model alone from this placement (holdsModelPicture), only the
    // overlay is drawn, over that picture's colour and depth with its near
    // and far planes: the same picture, for one draw of the overlay.
    bool renderOverlay(const CameraSetup& setup, osg::Node* overlay);
    // True when a render of the model alone from `setup` would draw nothing:
    // the last draw showed the model alone from there, settled, and the
    // pager has nothing to add to it.
    bool holdsModelPicture(const CameraSetup& setup);
    // Reads the depth of the last draw where the frame can show, then draws
    // the frame's own surface alone (OwnSurface) into a spare depth buffer
    // (SpareDepth) and compares the two. The capture image and the picture's
    // colour and depth are left as they are, so that the frame-buffer object
    // holds the picture still; where the spare cannot be had, the next render
    // draws anew.
    bool measurePicture(const CameraSetup& setup, const PolygonFrame& frame, MeasureParts parts,
                        PictureMeasure& measure) override;

    // True when the database pager has nothing requested, loading, to
    // compile or to merge: another draw would show the same model.
    bool pagerIdle() const;
    // Tiles the pager has requested, is reading, or holds to compile or merge.
    int outstandingRequests() const;
    // With this on (the default), a draw is made only when something changed
    // and a settled view is not drawn again. Off: every warm-up round and the
    // last one draw, as a strictly one-by-one batch does (for comparisons).
    void setReuseSettledPlacement(bool reuse) { reuseSettledPlacement_ = reuse; }
    // True when the last render reached tile_load_timeout with tiles still
    // loading; outstandingRequests() at that moment is in incompleteRequests().
    bool tilesIncomplete() const override { return tilesIncomplete_; }
    int incompleteRequests() const override { return incompleteRequests_; }
    // Leaves only the model under the scene root.
    void prepareSceneRoot();

    osg::Node* scene() const { return scene_.get(); }
    osg::Group* sceneRoot() const { return sceneRoot_.get(); }
    // The picture of the last render: RGBA, 8 bits per channel, bottom row
    // first. Owned by the renderer and overwritten by the next render.
    osg::Image* captureImage() const override { return captureImage_.get(); }
    osg::ref_ptr<osg::Image> exchangeCapture(osg::ref_ptr<osg::Image> next) override;
    osg::Camera* camera() const { return camera_.get(); }
    const RenderConfig& config() const { return config_; }

    // Which kind of context was created, and GL_RENDERER.
    const std::string& contextDescription() const { return contextDescription_; }
    const std::string& glRenderer() const { return glRenderer_; }
    // True once a frame has been drawn through a frame-buffer object (and not
    // through a fallback render target).
    bool drewThroughFrameBufferObject() const;

    const RenderTimings& timings() const { return timings_; }

private:
    // An EGL context, else a GLX pbuffer one; null when neither can be made
    // (an EGL device asked for but missing adds its ERROR text to `errors`).
    osg::ref_ptr<osg::GraphicsContext> createContext(std::vector<std::string>& errors);
    // Sets up the viewer's camera on `context` to draw into the frame-buffer
    // object, with the capture image to read into.
    void attachCamera(osg::GraphicsContext* context);
    // Reads the driver's names and render-target limits with `context` made
    // current; the limit ERROR text when the configured size exceeds them.
    std::string readContextLimits(osg::GraphicsContext* context);
    // One viewer frame with `clearMask` and `state` over the scene root; the
    // picture's clear and no state are put back, also when the frame throws.
    void frameWith(GLbitfield clearMask, osg::StateSet* state);
    // Draws the scene root; with `picture` false it only looks: the view is
    // culled (its tiles asked for, those arrived merged) and nothing drawn.
    void drawOneFrame(bool picture);
    // Draws the picture where the last frame only looked; returns `complete`.
    bool pictureOfSettledView(bool complete);
    void sleepFor(std::chrono::microseconds pause);
    // True when the camera placement or the children of the scene root
    // changed since the last draw.
    bool viewChanged() const;
    // True when a draw now would differ from the last one: the view changed
    // or the pager has tiles to merge.
    bool drawWouldChange() const;
    // Draws when forced or when drawWouldChange().
    void drawIfNeeded(bool force);
    // Draws until the view is settled; false at the timeout.
    bool settle();
    // Copies the frame-buffer object into captureImage().
    bool readBack();
    // Runs `read` with the frame-buffer object bound for reading; false when
    // there is none to read from.
    bool readFrameBuffer(const std::function<void()>& read);
    // Runs `work` with the context current and the frame-buffer object the
    // camera draws into; false when there is none.
    bool withFrameBuffer(const std::function<void(osg::State&, osg::FrameBufferObject&)>& work);
    // The overlay alone drawn over the kept picture (renderOverlay).
    bool drawOverModelPicture(osg::Node* overlay);
    // The draw of the frame's own surface from the last draw's placement.
    OwnSurfacePass ownSurfaceOf(const PolygonFrame& frame) const;
    // Draws the frame's own surface and counts how much of it the picture
    // (`model`, its depth) shows.
    bool measureOwnSurface(const OwnSurfacePass& pass, const DepthPicture& model, const CameraSetup& setup,
                           PictureMeasure& measure);
    // Draws the frame's own surface into a spare depth buffer alone, within
    // the pass's window rectangle (cleared first), and reads that rectangle
    // into `own`; false when it cannot be read. The picture's colour and
    // depth stay as they are.
    bool drawOwnSurface(const OwnSurfacePass& pass, DepthPicture& own);
    // Clears the depth within `part` of the frame-buffer object.
    void clearDepth(osg::State& state, osg::FrameBufferObject& fbo, const PixelRect& part) const;
    // The depth buffer of the last draw within `part`, with its placement.
    bool readDepth(DepthPicture& picture, const PixelRect& part);

    const RenderConfig& config_;
    osg::ref_ptr<osg::Node> scene_;
    osg::ref_ptr<osg::Group> sceneRoot_;
    osg::ref_ptr<osgViewer::Viewer> viewer_;
    osg::ref_ptr<osg::Camera> camera_;
    osg::ref_ptr<osg::Image> captureImage_;
    bool initialized_ = false;
    int targetLimit_ = 0;
    bool reuseSettledPlacement_ = true;
    bool tilesIncomplete_ = false;
    int incompleteRequests_ = 0;
    // The camera placement of the render in hand, and what the last draw showed.
    osg::Matrixd placedView_;
    osg::Matrixd placedProjection_;
    bool hasDrawn_ = false;
    bool lookedOnly_ = false;  // the last frame was a look: the buffers hold no picture
    osg::ref_ptr<osg::StateSet> lookState_;
    std::string renderError_;
    osg::Matrixd drawnView_;
    osg::Matrixd drawnProjection_;
    osg::Matrixd fittedProjection_;  // the projection of the last draw, its near and far planes fitted
    std::vector<const osg::Node*> drawnChildren_;
    RenderTargetLimits limits_;
    std::string contextDescription_;
    std::string glRenderer_;
    std::string glVersion_;
    RenderTimings timings_;
    SpareDepth spareDepth_;
    // The depth pictures of the measures, kept from one to the next: no new
    // memory, no fill per measure.
    DepthPicture modelDepth_;
    DepthPicture ownDepth_;
};

}  // namespace vistrel
