#pragma once

#include "vector/FrameSystems.h"
#include "core/RenderConfig.h"
#include "core/RunProtocol.h"
#include "model/SceneOrigin.h"
#include "vector/PolygonFrameReader.h"

#include <osg/Node>

#include <vector>

namespace vistrel {

// The frames of a run once they are read and placed over the model.
struct PreparedFrames {
    FrameReadLoss loss;
    std::vector<PolygonFrame> frames;
    FramesInModel placement;
    Extent2 modelExtent;
};

// Reads the frames (only those passing `where`), moves them into the model's
// coordinates when that is called for and applies the preview limit:
// ExitSuccess when some frame lies over the model, ExitNoFrames,
// ExitNothingToRender (the ERROR logged, the frames kept) or, for a `where`
// the layer cannot take, ExitConfigOrTaskFailure with the ERROR logged.
int prepareFrames(const RenderConfig& config, osg::Node* scene, const SceneOrigin& origin, PreparedFrames& prepared);

// Runs the task of a validated configuration and returns the exit code.
int runRenderTask(RenderConfig config);

}  // namespace vistrel
