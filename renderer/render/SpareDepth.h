#pragma once

#include <osg/FrameBufferObject>
#include <osg/GLExtensions>
#include <osg/State>

namespace vistrel {

// A second depth buffer for a frame-buffer object: a draw that needs a depth
// buffer of its own (the measure's draw of the frame's own surface) is made
// with this one attached in place of the object's, so that the picture's
// depth stays as it is for an outline drawn over it, with nothing copied.
// Its GL objects belong to the context current at attach(); release() frees
// them with that context current.
class SpareDepth {
public:
    // Attaches the spare buffer (depth, and stencil where the object packs
    // them together) to `fbo`, made for the viewport of width x height, and
    // leaves `fbo` bound. False when `fbo` has no depth renderbuffer or the
    // spare cannot be made; `fbo` then keeps its own.
    bool attach(osg::State& state, osg::FrameBufferObject& fbo, int width, int height);
    // Attaches `fbo`'s own depth buffer again; false when the spare was not
    // attached or the own one cannot be put back.
    bool detach(osg::State& state, osg::FrameBufferObject& fbo);
    void release(osg::State& state);

private:
    // Attaches `renderbuffer` as the bound object's depth (and stencil).
    void attachRenderbuffer(osg::GLExtensions& gl, GLuint renderbuffer) const;

    GLuint renderbuffer_ = 0;
    GLenum format_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool packed_ = false;  // depth and stencil in one buffer
    GLuint own_ = 0;  // the object's own depth renderbuffer while the spare is attached
};

}  // namespace vistrel
