#pragma once

#include <osg/GraphicsContext>
#include <osg/ref_ptr>

#include <string>

namespace vistrel {

// A headless desktop-OpenGL context through EGL: the device platform (a GPU)
// when one is present, else Mesa's surfaceless platform. It owns a small
// pbuffer surface; rendering goes to the camera's frame-buffer object.
class EglGraphicsContext : public osg::GraphicsContext {
public:
    // Returns null when no EGL platform gives a context; `failure` then says why.
    static osg::ref_ptr<EglGraphicsContext> create(int width, int height, std::string& failure);

    // "EGL device" or "EGL surfaceless", plus the EGL vendor.
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

    void* display_ = nullptr;
    void* surface_ = nullptr;
    void* context_ = nullptr;
    bool realized_ = false;
    std::string description_;
};

}  // namespace vistrel
