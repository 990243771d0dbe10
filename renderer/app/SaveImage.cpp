#include "app/SaveImage.h"

#include "core/Logger.h"
#include "output/ImageWriter.h"

#include <exception>

namespace vistrel {

bool saveImage(const osg::Image* image, const RenderConfig& config, const std::string& name)
{
    try {
        return writeImageFile(image, config, name);
    } catch (const std::exception& e) {
        Logger::instance().error(std::string("Render failed: ") + e.what());
        return false;
    }
}

}  // namespace vistrel
