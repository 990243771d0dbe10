#include "render/VerticalCheck.h"

#include "core/ImageResult.h"
#include "core/NumberText.h"

#include <algorithm>
#include <cmath>

namespace vistrel {

VerticalCheckResult checkVerticalImage(PictureSource& renderer, const CameraSetup& setup)
{
    if (!renderer.renderModel(setup)) {
        VerticalCheckResult result;
        result.rendered = false;
        result.message = "正射图质量检测渲染失败";
        return result;
    }
    return computeImageStatistics(renderer.captureImage());
}

VerticalCheckResult computeImageStatistics(const osg::Image* image)
{
    VerticalCheckResult result;
    if (!image || !image->data()) {
        result.message = "正射图质量检测无图像数据";
        return result;
    }
    const int width = image->s();
    const int height = image->t();
    if (width <= 0 || height <= 0) {
        result.message = "正射图质量检测图像尺寸无效";
        return result;
    }
    if (osg::Image::computePixelSizeInBits(image->getPixelFormat(), image->getDataType()) < 24) {
        result.message = "正射图质量检测像素格式无效";
        return result;
    }

    const int stepX = std::max(1, width / 512);
    const int stepY = std::max(1, height / 512);
    long long samples = 0;
    long long white = 0;
    long long black = 0;
    double sum = 0.0;
    double sumSquares = 0.0;
    for (int y = 0; y < height; y += stepY) {
        for (int x = 0; x < width; x += stepX) {
            const unsigned char* p = image->data(x, y);
            const int r = p[0];
            const int g = p[1];
            const int b = p[2];
            const double v = (r + g + b) / 3.0;
            if (r >= 248 && g >= 248 && b >= 248) {
                ++white;
            }
            if (r <= 7 && g <= 7 && b <= 7) {
                ++black;
            }
            sum += v;
            sumSquares += v * v;
            ++samples;
        }
    }
    if (samples == 0) {
        result.message = "正射图质量检测没有有效像素";
        return result;
    }
    const double count = static_cast<double>(samples);
    result.whiteFraction = white / count;
    result.blackFraction = black / count;
    const double mean = sum / count;
    result.stddev = std::sqrt(std::max(0.0, sumSquares / count - mean * mean));
    if (result.whiteFraction < 0.995 && result.blackFraction < 0.995 && result.stddev >= 1.0) {
        result.passed = true;
        result.message = "正射图质量检测通过";
    } else {
        result.message = std::string(kRemarkNoModel) + " white=" + fixedNumber(result.whiteFraction, 3) +
                         " black=" + fixedNumber(result.blackFraction, 3) + " stddev=" + fixedNumber(result.stddev, 3);
    }
    return result;
}

}  // namespace vistrel
