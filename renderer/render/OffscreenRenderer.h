#pragma once

#include "core/RenderConfig.h"
#include "render/FrameCamera.h"

#include <osg/Group>
#include <osg/Image>
#include <osg/ref_ptr>
#include <osgViewer/Viewer>

#include <chrono>
#include <string>

namespace vistrel {

// Where the time of the renderer goes, summed over all calls.
struct RenderTimings {
    int renders = 0;            // renderFrame calls that drew
    int draws = 0;
    double drawSeconds = 0.0;   // viewer.frame() calls, readback included
    double sleepSeconds = 0.0;  // warm-up pauses for the database pager
};

// The largest render target the context takes (0 where not reported).
struct RenderTargetLimits {
    int renderbuffer = 0;    // GL_MAX_RENDERBUFFER_SIZE
    int viewportWidth = 0;   // GL_MAX_VIEWPORT_DIMS
    int viewportHeight = 0;
};

// The limits of the current context.
RenderTargetLimits queryRenderTargetLimits();

// Empty when a width x height target fits the limits, else the ERROR text
// naming the size and the limit it exceeds.
std::string renderTargetLimitError(int width, int height, const RenderTargetLimits& limits);

// Draws the model into a hidden frame-buffer object and reads every frame
// back into one RGBA image. Created once per run and reused for every image.
class OffscreenRenderer {
public:
    explicit OffscreenRenderer(const RenderConfig& config);
    ~OffscreenRenderer();
    OffscreenRenderer(const OffscreenRenderer&) = delete;
    OffscreenRenderer& operator=(const OffscreenRenderer&) = delete;

    // Fails (ERROR logged) when no context can be made or the configured size
    // is beyond what the context can render into.
    bool initialize(osg::Node* scene);
    // Holds render targets to at most `pixels` per side on top of what the
    // context reports; for memory caps and for tests. Call before initialize.
    void limitTargetSize(int pixels) { targetLimit_ = pixels; }
    const RenderTargetLimits& targetLimits() const { return limits_; }
    // Places the camera and draws warm-up frames plus the captured one, with
    // whatever overlays hang under the scene root. The picture is then in
    // captureImage(). A frame not drawn through the frame-buffer object is a
    // render failure.
    bool renderFrame(const CameraSetup& setup);
    // Removes overlays, then renders the model alone.
    bool renderModel(const CameraSetup& setup);

    // True when the database pager has nothing requested, loading, to
    // compile or to merge: another draw would show the same model.
    bool pagerIdle() const;
    // With this on, a render of the placement just rendered, while the pager
    // is idle, is a single draw: the warm-up could load nothing new. Off by
    // default: every render makes the configured warm-up draws.
    void setReuseSettledPlacement(bool reuse) { reuseSettledPlacement_ = reuse; }
    // True when the last render with warmup_until_loaded stopped at its cap
    // of max(warmup_frames, 64) warm-up draws with tiles still loading.
    bool warmupCapReached() const { return warmupCapReached_; }
    // Leaves only the model under the scene root.
    void prepareSceneRoot();

    osg::Node* scene() const { return scene_.get(); }
    osg::Group* sceneRoot() const { return sceneRoot_.get(); }
    // The picture of the last render: RGBA, 8 bits per channel, bottom row
    // first. Owned by the renderer and overwritten by the next render.
    osg::Image* captureImage() const { return captureImage_.get(); }
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
    osg::ref_ptr<osg::GraphicsContext> createContext();
    void drawOneFrame();
    void sleepFor(std::chrono::microseconds pause);
    void fixedWarmup();
    void warmupUntilLoaded();

    const RenderConfig& config_;
    osg::ref_ptr<osg::Node> scene_;
    osg::ref_ptr<osg::Group> sceneRoot_;
    osg::ref_ptr<osgViewer::Viewer> viewer_;
    osg::ref_ptr<osg::Camera> camera_;
    osg::ref_ptr<osg::Image> captureImage_;
    bool initialized_ = false;
    int targetLimit_ = 0;
    bool reuseSettledPlacement_ = false;
    bool warmupCapReached_ = false;
    bool hasLastSetup_ = false;
    CameraSetup lastSetup_;
    RenderTargetLimits limits_;
    std::string contextDescription_;
    std::string glRenderer_;
    std::string glVersion_;
    RenderTimings timings_;
};

}  // namespace vistrel
