#pragma once

#include "core/ImagePlan.h"
#include "core/PolygonFrame.h"
#include "output/NameTemplate.h"

#include <string>
#include <vector>

namespace vistrel {

// The path of one image, or why it has none.
struct PlannedName {
    std::string path;
    std::string error;
};

// The paths of the images of `frame`, one per entry of `images` (frameImages)
// and in their order, from the batch's name template; a name that cannot be
// built leaves its image without a path and with the reason. Every call hands
// out new paths ("#" numbers and "_2" suffixes go on).
std::vector<PlannedName> nameImages(NameTemplate& names, const PolygonFrame& frame,
                                    const std::vector<PlannedImage>& images);

}  // namespace vistrel
