#include "render/SpareDepth.h"

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

}  // namespace

void SpareDepth::attachRenderbuffer(osg::GLExtensions& gl, GLuint renderbuffer) const
{
    gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT, renderbuffer);
    if (packed_) {
        gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER_EXT, GL_STENCIL_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT, renderbuffer);
    }
}

bool SpareDepth::attach(osg::State& state, osg::FrameBufferObject& fbo, int width, int height)
{
    osg::GLExtensions* gl = state.get<osg::GLExtensions>();
    bool packed = false;
    const osg::RenderBuffer* depth = depthRenderbuffer(fbo, packed);
    const GLuint target = fbo.getHandle(state.getContextID());
    if (own_ != 0 || !gl || !gl->isFrameBufferObjectSupported || !depth || target == 0) {
        return false;
    }
    const GLuint own = depth->getObjectID(state.getContextID(), gl);
    const GLenum format = packed ? GL_DEPTH24_STENCIL8_EXT : depth->getInternalFormat();
    if (own == 0) {
        return false;
    }
    // Errors left by earlier calls are not this one's.
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
    if (renderbuffer_ == 0) {
        gl->glGenRenderbuffers(1, &renderbuffer_);
    }
    if (format != format_ || width != width_ || height != height_) {
        gl->glBindRenderbuffer(GL_RENDERBUFFER_EXT, renderbuffer_);
        gl->glRenderbufferStorage(GL_RENDERBUFFER_EXT, format, width, height);
        gl->glBindRenderbuffer(GL_RENDERBUFFER_EXT, 0);
        format_ = format;
        width_ = width;
        height_ = height;
    }
    packed_ = packed;
    gl->glBindFramebuffer(GL_FRAMEBUFFER_EXT, target);
    attachRenderbuffer(*gl, renderbuffer_);
    if (glGetError() != GL_NO_ERROR ||
        gl->glCheckFramebufferStatus(GL_FRAMEBUFFER_EXT) != GL_FRAMEBUFFER_COMPLETE_EXT) {
        attachRenderbuffer(*gl, own);
        format_ = 0;  // made anew by the next attach
        return false;
    }
    own_ = own;
    return true;
}

bool SpareDepth::detach(osg::State& state, osg::FrameBufferObject& fbo)
{
    osg::GLExtensions* gl = state.get<osg::GLExtensions>();
    const GLuint target = fbo.getHandle(state.getContextID());
    if (own_ == 0 || !gl || target == 0) {
        return false;
    }
    gl->glBindFramebuffer(GL_FRAMEBUFFER_EXT, target);
    attachRenderbuffer(*gl, own_);
    own_ = 0;
    return glGetError() == GL_NO_ERROR;
}

void SpareDepth::release(osg::State& state)
{
    osg::GLExtensions* gl = state.get<osg::GLExtensions>();
    if (gl && renderbuffer_ != 0) {
        gl->glDeleteRenderbuffers(1, &renderbuffer_);
    }
    renderbuffer_ = 0;
    format_ = 0;
    own_ = 0;
}

}  // namespace vistrel
