#pragma once

#include "core/PolygonFrame.h"
#include "render/FrameCamera.h"

#include <osg/Node>
#include <osg/Vec3d>
#include <osg/Vec4>

#include <functional>
#include <string>
#include <vector>

namespace vistrel {

class OffscreenRenderer;

// Renders the view of `setup` with the frame's outline draped on the model
// into the renderer's capture image; without a usable outline the plain view
// is rendered (and a WARN logged). The overlay is removed again afterwards.
bool renderRangeLineFrame(OffscreenRenderer& renderer, const CameraSetup& setup, const PolygonFrame& frame,
                          bool depthTested);

// The outline overlay of all rings of the frame, or null when no ring gives
// samples (or there is no scene): a transform to the frame's centre holding
// one geode with a line strip per ring, in coordinates relative to that
// centre. Unless `depthTested` the outline is drawn after the model without
// depth test, so nothing hides it.
osg::ref_ptr<osg::Node> buildRangeLine(const OffscreenRenderer& renderer, const PolygonFrame& frame, bool depthTested);

// Samples along a ring every `step` units: every segment from its start
// point, the closing edge when the ring is open, and the first point again.
// `height(x, y)` gives each sample's z.
std::vector<osg::Vec3d> sampleRing(const std::vector<RingPoint>& ring, double step,
                                   const std::function<double(double, double)>& height);

// Highest model hit of a vertical line (loaded tiles only), or `fallback`,
// plus `lift`.
double sampleSurfaceHeight(osg::Node* scene, double x, double y, double top, double bottom, double fallback,
                           double lift);

// Forward then backward pass holding each step between neighbours to `limit`.
void clampHeightSteps(std::vector<double>& z, double limit);
// The full smoothing of a closed ring: clamp, wrapped 1-2-1 average, closed end.
void smoothRingHeights(std::vector<double>& z, double limit);

// The outline colour of a name (case-insensitive); red for unknown names.
osg::Vec4 rangeLineColour(const std::string& name);

}  // namespace vistrel
