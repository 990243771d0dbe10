#pragma once

#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "render/FrameCamera.h"

#include <osg/Node>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vistrel {

// The view used for an image: its occlusion score (0 = nothing in the way,
// 1 = every sight line blocked) and its elevation in degrees.
struct OcclusionChoice {
    double score = 0.0;
    double viewAngle = 0.0;
};

// The placement for `angle`: vertical views and runs without occlusion
// avoidance take the configured placement; side views try steeper angles up
// to 70 degrees and keep the first free one, or else the least blocked.
CameraSetup chooseCamera(const RenderConfig& config, osg::Node* root, const PolygonFrame& frame,
                         const std::string& angle, OcclusionChoice& choice);

// Share of five sight lines (frame centre and corners at centerZ) whose part
// near the frame hits loaded model geometry: from 7 % of the way from the
// sample point towards the camera, over the share occlusion_sample_step
// (0.1..0.9) of the line. Hits within one picture pixel of the frame's area
// (its own building) do not count.
double occlusionScore(const RenderConfig& config, osg::Node* root, const PolygonFrame& frame, const CameraSetup& setup);

// Candidate view angles: the configured one rounded to 5 degrees, then every
// 5 degrees up to 70.
std::vector<int> candidateViewAngles(double obliqueViewAngle);

// Index of the candidate to use given the scores in candidate order: a later
// candidate must be strictly better; a score of at most 0.01 ends the search.
// `score(i)` is called only for the candidates that are tried.
std::size_t pickCandidate(std::size_t count, const std::function<double(std::size_t)>& score, double& bestScore);

// Sight-line tests made so far in this process.
std::size_t occlusionRayTestCount();

}  // namespace vistrel
