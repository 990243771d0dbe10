#include "render/VerticalCheck.h"

#include "core/FrameArea.h"
#include "core/ImageResult.h"
#include "core/NumberText.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace vistrel {

namespace {

// The extent of the frame's rings (its bounds when it has none), widened by
// `margin` and a little more for the rounding of points along the edges: a
// point outside it is farther than `margin` from every edge.
struct Extent {
    double minX, minY, maxX, maxY;
    bool holds(double x, double y) const { return x >= minX && x <= maxX && y >= minY && y <= maxY; }
};

Extent nearExtent(const PolygonFrame& frame, double margin)
{
    Extent e{frame.minX, frame.minY, frame.maxX, frame.maxY};
    bool first = true;
    for (const std::vector<RingPoint>& ring : frame.rings) {
        for (const RingPoint& p : ring) {
            e = first ? Extent{p.x, p.y, p.x, p.y}
                      : Extent{std::min(e.minX, p.x), std::min(e.minY, p.y), std::max(e.maxX, p.x),
                               std::max(e.maxY, p.y)};
            first = false;
        }
    }
    const double slack =
        margin + 1e-6 * (1.0 + std::max({std::fabs(e.minX), std::fabs(e.maxX), std::fabs(e.minY), std::fabs(e.maxY)}));
    return Extent{e.minX - slack, e.minY - slack, e.maxX + slack, e.maxY + slack};
}

}  // namespace

PixelFilter frameAreaPixels(const PolygonFrame& frame, const CameraSetup& setup, int width, int height)
{
    const double pixelX = setup.orthoWidth / std::max(1, width);
    const double pixelY = setup.orthoHeight / std::max(1, height);
    const double left = setup.center.x() - setup.orthoWidth / 2.0;
    const double bottom = setup.center.y() - setup.orthoHeight / 2.0;
    const double margin = std::max(pixelX, pixelY);
    const Extent extent = nearExtent(frame, margin);
    // The pixels are asked for row by row: each row's crossings and near
    // edges are found once.
    auto line = std::make_shared<FrameAreaLine>(frame, margin);
    auto lineRow = std::make_shared<int>(-1);
    return [line, lineRow, pixelX, pixelY, left, bottom, extent](int x, int y) {
        const double px = left + (x + 0.5) * pixelX;
        const double py = bottom + (y + 0.5) * pixelY;
        if (!extent.holds(px, py)) {
            return false;
        }
        if (*lineRow != y) {
            line->moveTo(py);
            *lineRow = y;
        }
        return line->near(px);
    };
}

VerticalCheckResult checkVerticalImage(PictureSource& renderer, const CameraSetup& setup, const PolygonFrame* frame)
{
    if (!renderer.renderModel(setup)) {
        VerticalCheckResult result;
        result.rendered = false;
        result.message = "正射图质量检测渲染失败";
        return result;
    }
    const osg::Image* image = renderer.captureImage();
    if (!frame || !image) {
        return computeImageStatistics(image);
    }
    return computeImageStatistics(image, frameAreaPixels(*frame, setup, image->s(), image->t()));
}

namespace {

struct PixelTally {
    long long samples = 0;
    long long white = 0;
    long long black = 0;
    double sum = 0.0;
    double sumSquares = 0.0;
};

PixelTally tallyPixels(const osg::Image& image, const PixelFilter& counts)
{
    const int width = image.s();
    const int height = image.t();
    const int stepX = std::max(1, width / 512);
    const int stepY = std::max(1, height / 512);
    const std::size_t pixelBytes = image.getPixelSizeInBits() / 8;
    PixelTally tally;
    for (int y = 0; y < height; y += stepY) {
        const unsigned char* row = image.data(0, y);
        for (int x = 0; x < width; x += stepX) {
            if (counts && !counts(x, y)) {
                continue;
            }
            const unsigned char* p = row + static_cast<std::size_t>(x) * pixelBytes;
            const int r = p[0];
            const int g = p[1];
            const int b = p[2];
            const double v = (r + g + b) / 3.0;
            tally.white += r >= 248 && g >= 248 && b >= 248 ? 1 : 0;
            tally.black += r <= 7 && g <= 7 && b <= 7 ? 1 : 0;
            tally.sum += v;
            tally.sumSquares += v * v;
            ++tally.samples;
        }
    }
    return tally;
}

}  // namespace

VerticalCheckResult computeImageStatistics(const osg::Image* image, const PixelFilter& counts)
{
    VerticalCheckResult result;
    if (!image || !image->data()) {
        result.message = "正射图质量检测无图像数据";
        return result;
    }
    if (image->s() <= 0 || image->t() <= 0) {
        result.message = "正射图质量检测图像尺寸无效";
        return result;
    }
    if (osg::Image::computePixelSizeInBits(image->getPixelFormat(), image->getDataType()) < 24) {
        result.message = "正射图质量检测像素格式无效";
        return result;
    }

    PixelTally tally = tallyPixels(*image, counts);
    if (tally.samples == 0 && counts) {
        tally = tallyPixels(*image, {});
    }
    const long long samples = tally.samples;
    const long long white = tally.white;
    const long long black = tally.black;
    const double sum = tally.sum;
    const double sumSquares = tally.sumSquares;
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
