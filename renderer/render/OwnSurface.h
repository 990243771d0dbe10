#pragma once

#include "core/PolygonFrame.h"
#include "render/PictureMeasure.h"

#include <osg/Matrixd>
#include <osg/StateSet>
#include <osg/ref_ptr>

namespace vistrel {

// The state that draws only the model inside the frame's area: every
// fragment whose scene x/y falls outside it (a mask of the area over the
// frame's bounds, at most 1024 cells a side) is discarded, so the depth
// buffer holds the frame's own surface as if nothing else stood there.
// `view` is the view matrix of the draw (the mask is reached from eye
// coordinates, which keeps single precision fine far from the origin).
// Set with OVERRIDE on the scene root; it writes depth alone (the colour
// buffer keeps what it holds).
// Where the scene reaches the window through `sceneToWindow` (view,
// projection and viewport of an orthographic placement), the draw is held to
// the window rectangle that the mask's cells between the heights `lowZ` and
// `highZ` (the scene's) cover, with a pixel to spare: no fragment outside it
// passes the mask, so the depth buffer is the same, for the part of a draw;
// only that rectangle needs clearing before it and reading after it.
struct OwnSurfacePass {
    osg::ref_ptr<osg::StateSet> state;
    PixelRect window;  // the rectangle the draw is held to; empty when it misses the window
};
OwnSurfacePass ownSurfacePass(const PolygonFrame& frame, const osg::Matrixd& view, const osg::Matrixd& sceneToWindow,
                              double lowZ, double highZ, int width, int height);

}  // namespace vistrel
