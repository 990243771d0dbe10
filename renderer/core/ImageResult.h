#pragma once

#include <map>
#include <string>
#include <vector>

namespace vistrel {

// The outcome of one image of the batch.
struct ImageResult {
    bool success = false;  // the image file was written
    bool skipped = false;  // the frame was skipped by the pre-check
    std::string path;  // full path of the image (also set when writing failed)
    double seconds = 0.0;  // wall time spent on this image
    double occlusionScore = 0.0;
    double viewAngle = 0.0;
    std::string note;  // skip reason or error message
};

// Per frame: angle key -> result (also "top_range" for the outline image).
using FrameResults = std::map<std::string, ImageResult>;
// One entry per frame, in frame order.
using ResultsTable = std::vector<FrameResults>;

}  // namespace vistrel
