#include "app/SaveImage.h"

#include "core/RunProtocol.h"
#include "core/Logger.h"
#include "output/ImageWriter.h"
#include "output/Thumbnail.h"

#include <exception>
#include <filesystem>

namespace vistrel {

bool saveImage(const osg::Image* image, const RenderConfig& config, const std::string& name)
{
    try {
        return writeImageFile(image, config, name);
    } catch (const std::exception& e) {
        Logger::instance().error(runMessage(RunMessage::RenderFailed, {e.what()}));
        return false;
    }
}

bool saveThumbnail(const osg::Image& picture, const std::string& path)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::string reason = ec ? ec.message() : std::string();
    if (reason.empty() && writeThumbnail(picture, path, reason)) {
        return true;
    }
    Logger::instance().warn("Failed to write thumbnail: " + path + ": " + reason);
    return false;
}

}  // namespace vistrel
