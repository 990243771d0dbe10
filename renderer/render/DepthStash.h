#pragma once

#include <osg/FrameBufferObject>
#include <osg/GLExtensions>
#include <osg/State>

namespace vistrel {

// A copy of a frame-buffer object's depth buffer in a renderbuffer of its
// own: a draw that needs the depth buffer for itself (the measure's draw of
// the frame's own surface) gives the picture's depth back afterwards, so that
// the picture stays in the frame-buffer object for an outline drawn over it.
// Its GL objects belong to the context current at save(); release() frees
// them with that context current.
class DepthStash {
public:
    // Copies the depth (and stencil, where packed with it) of `fbo`, made for
    // the viewport of width x height. False when it has no depth
    // renderbuffer or the copy cannot be made.
    bool save(osg::State& state, osg::FrameBufferObject& fbo, int width, int height);
    // Copies the saved depth back into `fbo`; false when nothing was saved.
    bool restore(osg::State& state, osg::FrameBufferObject& fbo);
    void release(osg::State& state);

private:
    // The stash's own frame-buffer object, made or remade for `format`.
    bool prepare(osg::GLExtensions& gl, GLenum format, int width, int height);
    void copy(osg::GLExtensions& gl, GLuint from, GLuint to) const;

    GLuint fbo_ = 0;
    GLuint renderbuffer_ = 0;
    GLenum format_ = 0;
    GLbitfield mask_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool saved_ = false;
};

}  // namespace vistrel
