#pragma once

#include <osg/Camera>

namespace vistrel {

// OpenSceneGraph skips glVertexPointer and its companions when a drawable's
// array has the same address and modified count as the array it dispatched
// last. Geometry made and dropped between frames (the outline overlay, tiles
// the pager expires) can reuse such an address for an array whose data lies
// elsewhere, and GL then reads freed memory: the outline vanishes or turns
// into stray lines. Installed as the camera's initial draw callback, this
// forgets the dispatched arrays at the start of every frame, so each drawable
// sets its pointers again.
class ArrayPointerReset : public osg::Camera::DrawCallback {
public:
    void operator()(osg::RenderInfo& renderInfo) const override;
};

}  // namespace vistrel
