#pragma once

#include <osg/GraphicsContext>
#include <osg/ref_ptr>

#include <string>

namespace vistrel {

// A headless desktop-OpenGL context through EGL: the device platform (a GPU)
// when one is present, else Mesa's surfaceless platform. It owns a small
// pbuffer surface; rendering goes to the camera's frame-buffer object.
// The EGL device index to use: `configured` when it is 0 or more, else
// VISTREL_EGL_DEVICE when set, else -1 (automatic). -2, with `failure`, when
// the variable is not a number.
int requestedEglDevice(int configured, std::string& failure);

class EglGraphicsContext : public osg::GraphicsContext {
public:
    // Returns null when no EGL platform gives a context; `failure` then says
    // why. `device` >= 0 asks for that EGL device alone (`deviceMissing` is
    // set when there is no such device or it does not open); -1 tries the
    // GPUs, then Mesa's surfaceless platform, and says once (INFO) when no
    // GPU opened.
    static osg::ref_ptr<EglGraphicsContext> create(int width, int height, int device, std::string& failure,
                                                   bool& deviceMissing);

    // "EGL device i of n: name" or "EGL surfaceless", with the EGL version
    // and the driver's vendor and version.
    const std::string& description() const { return description_; }

    bool valid() const override;
    bool realizeImplementation() override;
    bool isRealizedImplementation() const override;
    void closeImplementation() override;
    bool makeCurrentImplementation() override;
    bool makeContextCurrentImplementation(osg::GraphicsContext* readContext) override;
    bool releaseContextImplementation() override;
    void bindPBufferToTextureImplementation(GLenum buffer) override;
    void swapBuffersImplementation() override;

protected:
    ~EglGraphicsContext() override;

private:
    EglGraphicsContext() = default;
    bool open(void* display, const std::string& kind, std::string& failure);
    static void noteNoGpu();

    void* display_ = nullptr;
    void* surface_ = nullptr;
    void* context_ = nullptr;
    bool realized_ = false;
    std::string description_;
};

}  // namespace vistrel
