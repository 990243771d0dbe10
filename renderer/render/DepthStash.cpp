#include "render/DepthStash.h"

#include <osg/Camera>

namespace vistrel {

namespace {

// The depth renderbuffer of `fbo` and whether stencil is packed with it.
const osg::RenderBuffer* depthRenderbuffer(const osg::FrameBufferObject& fbo, bool& packed)
{
    for (const auto& [component, attachment] : fbo.getAttachmentMap()) {
        if (component == osg::Camera::DEPTH_BUFFER || component == osg::Camera::PACKED_DEPTH_STENCIL_BUFFER) {
            packed = component == osg::Camera::PACKED_DEPTH_STENCIL_BUFFER;
            return attachment.getRenderBuffer();
        }
    }
    return nullptr;
}

bool packsStencil(GLenum format)
{
    return format == GL_DEPTH24_STENCIL8_EXT || format == GL_DEPTH_STENCIL_EXT;
}

}  // namespace

bool DepthStash::prepare(osg::GLExtensions& gl, GLenum format, int width, int height)
{
    if (fbo_ != 0 && format == format_ && width == width_ && height == height_) {
        return true;
    }
    if (fbo_ == 0) {
        gl.glGenFramebuffers(1, &fbo_);
        gl.glGenRenderbuffers(1, &renderbuffer_);
    }
    gl.glBindRenderbuffer(GL_RENDERBUFFER_EXT, renderbuffer_);
    gl.glRenderbufferStorage(GL_RENDERBUFFER_EXT, format, width, height);
    gl.glBindRenderbuffer(GL_RENDERBUFFER_EXT, 0);
    gl.glBindFramebuffer(GL_FRAMEBUFFER_EXT, fbo_);
    gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT, renderbuffer_);
    gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER_EXT, GL_STENCIL_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT,
                                 packsStencil(format) ? renderbuffer_ : 0);
    // No colour buffer: nothing is drawn or read there.
    glDrawBuffer(GL_NONE);
    glReadBuffer(GL_NONE);
    const bool complete = gl.glCheckFramebufferStatus(GL_FRAMEBUFFER_EXT) == GL_FRAMEBUFFER_COMPLETE_EXT;
    format_ = format;
    width_ = width;
    height_ = height;
    mask_ = GL_DEPTH_BUFFER_BIT | (packsStencil(format) ? GL_STENCIL_BUFFER_BIT : 0);
    if (!complete) {
        format_ = 0;  // made anew by the next save
    }
    return complete;
}

void DepthStash::copy(osg::GLExtensions& gl, GLuint from, GLuint to) const
{
    // Errors left by earlier calls are not this copy's.
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
    gl.glBindFramebuffer(GL_READ_FRAMEBUFFER_EXT, from);
    gl.glBindFramebuffer(GL_DRAW_FRAMEBUFFER_EXT, to);
    gl.glBlitFramebuffer(0, 0, width_, height_, 0, 0, width_, height_, mask_, GL_NEAREST);
}

bool DepthStash::save(osg::State& state, osg::FrameBufferObject& fbo, int width, int height)
{
    saved_ = false;
    osg::GLExtensions* gl = state.get<osg::GLExtensions>();
    bool packed = false;
    const osg::RenderBuffer* depth = depthRenderbuffer(fbo, packed);
    const GLuint source = fbo.getHandle(state.getContextID());
    if (!gl || !gl->isFrameBufferObjectSupported || !gl->glBlitFramebuffer || !depth || source == 0) {
        return false;
    }
    const GLenum format = packed ? GL_DEPTH24_STENCIL8_EXT : depth->getInternalFormat();
    if (!prepare(*gl, format, width, height)) {
        return false;
    }
    copy(*gl, source, fbo_);
    saved_ = glGetError() == GL_NO_ERROR;
    return saved_;
}

bool DepthStash::restore(osg::State& state, osg::FrameBufferObject& fbo)
{
    osg::GLExtensions* gl = state.get<osg::GLExtensions>();
    const GLuint target = fbo.getHandle(state.getContextID());
    if (!saved_ || !gl || target == 0) {
        return false;
    }
    copy(*gl, fbo_, target);
    saved_ = false;
    return glGetError() == GL_NO_ERROR;
}

void DepthStash::release(osg::State& state)
{
    osg::GLExtensions* gl = state.get<osg::GLExtensions>();
    if (gl && fbo_ != 0) {
        gl->glDeleteFramebuffers(1, &fbo_);
        gl->glDeleteRenderbuffers(1, &renderbuffer_);
    }
    fbo_ = renderbuffer_ = 0;
    format_ = 0;
    saved_ = false;
}

}  // namespace vistrel
