#include "app/SaveImage.h"

#include "core/RunProtocol.h"
#include "core/Logger.h"
#include "core/PathBelow.h"
#include "output/ImageWriter.h"
#include "output/Thumbnail.h"

#include <exception>
#include <filesystem>

namespace vistrel {

bool saveImage(const osg::Image* image, const RenderConfig& config, const std::string& name, FileDigest* digest)
{
    try {
        return writeImageFile(image, config, name, digest);
    } catch (const std::exception& e) {
        Logger::instance().error(runMessage(RunMessage::RenderFailed, {e.what()}));
        return false;
    }
}

bool saveThumbnail(const osg::Image& picture, const std::string& path, const std::string& outputDir, bool* refused)
{
    std::string reason;
    try {
        const std::string link = makeFolderBelow(std::filesystem::path(path).parent_path(), outputDir);
        if (!link.empty()) {
            Logger::instance().error(runMessage(RunMessage::SymlinkRefused, {link}));
            if (refused) {
                *refused = true;
            }
            return false;
        }
    } catch (const std::exception& e) {
        reason = e.what();
    }
    if (reason.empty() && writeThumbnail(picture, path, reason)) {
        return true;
    }
    Logger::instance().warn("Failed to write thumbnail: " + path + ": " + reason);
    return false;
}

}  // namespace vistrel
