#pragma once

#include "core/RenderConfig.h"
#include "render/FrameCamera.h"

#include <osg/Group>
#include <osg/Image>
#include <osg/ref_ptr>
#include <osgViewer/Viewer>

#include <string>

namespace vistrel {

// Where the time of the renderer goes, summed over all calls.
struct RenderTimings {
    int draws = 0;
    double drawSeconds = 0.0;   // viewer.frame() calls, readback included
    double sleepSeconds = 0.0;  // warm-up pauses for the database pager
};

// Draws the model into a hidden frame-buffer object and reads every frame
// back into one RGBA image. Created once per run and reused for every image.
class OffscreenRenderer {
public:
    explicit OffscreenRenderer(const RenderConfig& config);
    ~OffscreenRenderer();
    OffscreenRenderer(const OffscreenRenderer&) = delete;
    OffscreenRenderer& operator=(const OffscreenRenderer&) = delete;

    bool initialize(osg::Node* scene);
    // Places the camera and draws warm-up frames plus the captured one, with
    // whatever overlays hang under the scene root. The picture is then in
    // captureImage().
    bool renderFrame(const CameraSetup& setup);
    // Removes overlays, then renders the model alone.
    bool renderModel(const CameraSetup& setup);
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

    const RenderConfig& config_;
    osg::ref_ptr<osg::Node> scene_;
    osg::ref_ptr<osg::Group> sceneRoot_;
    osg::ref_ptr<osgViewer::Viewer> viewer_;
    osg::ref_ptr<osg::Camera> camera_;
    osg::ref_ptr<osg::Image> captureImage_;
    bool initialized_ = false;
    std::string contextDescription_;
    std::string glRenderer_;
    RenderTimings timings_;
};

}  // namespace vistrel
