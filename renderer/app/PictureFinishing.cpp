#include "app/PictureFinishing.h"

#include "core/ImagePlan.h"
#include "core/Logger.h"
#include "output/NameTemplate.h"
#include "output/PictureMarks.h"

#include <algorithm>
#include <ctime>

namespace vistrel {

namespace {

bool wants(const RenderConfig& config, const char* mark)
{
    return std::find(config.annotate.begin(), config.annotate.end(), mark) != config.annotate.end();
}

MarkRequest markRequest(const FinishingContext& context)
{
    const RenderConfig& config = context.config;
    MarkRequest request;
    request.northArrow = wants(config, "north_arrow");
    request.scaleBar = wants(config, "scale_bar");
    request.caption = wants(config, "caption");
    const bool vertical = context.key == "top" || context.key == kOutlineImageKey;
    if (vertical && config.width > 0) {
        request.metresPerPixel = context.setup.orthoWidth / config.width;
    }
    if (request.caption) {
        request.captionText = captionText(config.caption_template, context.frame, context.key) + "    " + todayText();
    }
    return request;
}

}  // namespace

void finishPicture(const FinishingContext& context, osg::Image& pixels)
{
    if (context.config.annotate.empty()) {
        return;
    }
    std::string reason;
    if (!drawMarks(pixels, markRequest(context), reason)) {
        Logger::instance().warn("No marks on the " + context.key + " picture of " + context.frame.name + ": " + reason);
    }
}

std::string todayText()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

}  // namespace vistrel
