#include "core/ImagePlan.h"

#include <algorithm>

namespace vistrel {

bool hasOutlineImage(const std::string& angle, bool outputTopRange)
{
    return outputTopRange && angle == "top";
}

bool writesOutlineImages(const std::vector<std::string>& angles, bool outputTopRange)
{
    return std::any_of(angles.begin(), angles.end(),
                       [outputTopRange](const std::string& angle) { return hasOutlineImage(angle, outputTopRange); });
}

std::vector<PlannedImage> frameImages(const RenderConfig& config)
{
    std::vector<PlannedImage> images;
    for (std::size_t a = 0; a < config.angles.size(); ++a) {
        images.push_back({config.angles[a], a, false});
        if (hasOutlineImage(config.angles[a], config.output_top_range)) {
            images.push_back({kOutlineImageKey, a, true});
        }
    }
    return images;
}

}  // namespace vistrel
