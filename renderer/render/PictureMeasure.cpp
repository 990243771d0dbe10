#include "render/PictureMeasure.h"

#include "core/FrameArea.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vistrel {

osg::Vec3d DepthPicture::pointAt(int x, int y) const
{
    return osg::Vec3d(x + 0.5, y + 0.5, depth[index(x, y)]) * toScene;
}

double DepthPicture::heightAt(int x, int y) const
{
    // Matrixd::preMult's third row and its divide, nothing else.
    const double px = x + 0.5;
    const double py = y + 0.5;
    const double pz = depth[index(x, y)];
    const osg::Matrixd& m = toScene;
    const double d = 1.0f / (m(0, 3) * px + m(1, 3) * py + m(2, 3) * pz + m(3, 3));
    return (m(0, 2) * px + m(1, 2) * py + m(2, 2) * pz + m(3, 2)) * d;
}

void DepthPicture::place(const osg::Matrixd& windowToScene)
{
    toScene = windowToScene;
    const osg::Vec3d nearPoint = osg::Vec3d(0.0, 0.0, 0.0) * toScene;
    osg::Vec3d forward = osg::Vec3d(0.0, 0.0, 1.0) * toScene - nearPoint;
    depthRange_ = forward.normalize();
    nearDistance_ = nearPoint * forward;
}

double visibleShare(const PictureMeasure& measure)
{
    return measure.surfacePixels > 0
               ? static_cast<double>(measure.visiblePixels) / static_cast<double>(measure.surfacePixels)
               : -1.0;
}

double modelShare(const PictureMeasure& measure)
{
    return measure.areaPixels > 0 ? static_cast<double>(measure.modelPixels) / static_cast<double>(measure.areaPixels)
                                  : -1.0;
}

AreaGrid verticalPictureGrid(const CameraSetup& setup, int width, int height)
{
    AreaGrid grid;
    grid.columns = width;
    grid.rows = height;
    grid.cellX = setup.orthoWidth / std::max(1, width);
    grid.cellY = setup.orthoHeight / std::max(1, height);
    grid.originX = setup.center.x() - setup.orthoWidth / 2.0;
    grid.originY = setup.center.y() - setup.orthoHeight / 2.0;
    return grid;
}

void measureVerticalArea(const DepthPicture& model, const PolygonFrame& frame, const CameraSetup& setup,
                         PictureMeasure& measure)
{
    const std::vector<unsigned char> area = frameAreaMask(frame, verticalPictureGrid(setup, model.width, model.height));
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -lowest;
    for (int y = 0; y < model.height; ++y) {
        for (int x = 0; x < model.width; ++x) {
            if (!area[static_cast<std::size_t>(y) * static_cast<std::size_t>(model.width) +
                      static_cast<std::size_t>(x)]) {
                continue;
            }
            ++measure.areaPixels;
            if (!model.drawn(x, y)) {
                continue;
            }
            ++measure.modelPixels;
            const double z = model.heightAt(x, y);
            lowest = std::min(lowest, z);
            highest = std::max(highest, z);
        }
    }
    measure.hasHeights = measure.modelPixels > 0;
    if (measure.hasHeights) {
        measure.minZ = lowest;
        measure.maxZ = highest;
    }
}

void compareSurfaces(const DepthPicture& model, const DepthPicture& own, double tolerance, PictureMeasure& measure)
{
    if (model.width != own.width || model.height != own.height) {
        return;
    }
    for (int y = 0; y < own.height; ++y) {
        for (int x = 0; x < own.width; ++x) {
            if (!own.drawn(x, y)) {
                continue;
            }
            ++measure.surfacePixels;
            if (model.drawn(x, y) && std::fabs(model.distanceAt(x, y) - own.distanceAt(x, y)) <= tolerance) {
                ++measure.visiblePixels;
            }
        }
    }
}

}  // namespace vistrel
