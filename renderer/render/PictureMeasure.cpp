#include "render/PictureMeasure.h"

#include "core/FrameArea.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vistrel {

osg::Vec3d DepthPicture::pointAt(int x, int y) const
{
    return osg::Vec3d(x + 0.5, y + 0.5, depth[index(x, y)]) * toScene;
}

void DepthPicture::place(const osg::Matrixd& windowToScene)
{
    toScene = windowToScene;
    affine_ = toScene(0, 3) == 0.0 && toScene(1, 3) == 0.0 && toScene(2, 3) == 0.0 && toScene(3, 3) == 1.0;
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

PixelRect unite(const PixelRect& a, const PixelRect& b)
{
    if (a.empty() || b.empty()) {
        return a.empty() ? b : a;
    }
    const int x0 = std::min(a.x, b.x);
    const int y0 = std::min(a.y, b.y);
    const int x1 = std::max(a.x + a.width, b.x + b.width);
    const int y1 = std::max(a.y + a.height, b.y + b.height);
    return PixelRect{x0, y0, x1 - x0, y1 - y0};
}

PixelRect grownWithin(const PixelRect& rect, int pixels, int width, int height)
{
    if (rect.empty()) {
        return rect;
    }
    const int x0 = std::max(0, rect.x - pixels);
    const int y0 = std::max(0, rect.y - pixels);
    const int x1 = std::min(width, rect.x + rect.width + pixels);
    const int y1 = std::min(height, rect.y + rect.height + pixels);
    return PixelRect{x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0)};
}

PixelRect spanBounds(const std::vector<CellSpan>& spans)
{
    PixelRect bounds;
    for (const CellSpan& span : spans) {
        bounds = unite(bounds, PixelRect{span.first, span.row, span.last - span.first, 1});
    }
    return bounds;
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

namespace {

// Depths are looked at kDepthRun at a time first: most runs of a picture
// are either all drawn or all empty (depth 1, nothing drawn). A float's bits,
// as a signed integer, are below 1's for every value below 1 (negative
// values included), so a run without such bits has no drawn pixel; counting
// them takes many values at once.
constexpr int kDepthRun = 32;
constexpr std::int32_t kDepthOneBits = 0x3f800000;

bool noneDrawn(const float* depth)
{
    int below = 0;
    for (int i = 0; i < kDepthRun; ++i) {
        std::int32_t bits = 0;
        std::memcpy(&bits, depth + i, sizeof bits);
        below += bits < kDepthOneBits ? 1 : 0;
    }
    return below == 0;
}

// Whether pixel (x, y), at height z, stands more than `tolerance` above both
// neighbours across a row or across a column. A wall seen edge-on from above
// projects to a sliver far narrower than a pixel (walls lean by a hair where
// the model's frame is not the one they were built upright in); where it
// covers a pixel centre, the depth the rasterizer interpolates across so thin
// a triangle means nothing and may lie anywhere up to the near plane. Such
// pixels sit singly along the edges of roofs; nothing the picture resolves
// rises that steeply on both sides of one pixel.
bool standsAboveNeighbours(const DepthPicture& model, int x, int y, double z, double tolerance)
{
    const auto above = [&](int ax, int ay, int bx, int by) {
        if (ax < 0 || ay < 0 || bx >= model.width || by >= model.height || !model.holds(ax, ay) ||
            !model.holds(bx, by) || !model.drawn(ax, ay) || !model.drawn(bx, by)) {
            return false;
        }
        return z - model.pointAt(ax, ay).z() > tolerance && z - model.pointAt(bx, by).z() > tolerance;
    };
    return above(x - 1, y, x + 1, y) || above(x, y - 1, x, y + 1);
}

}  // namespace

std::vector<CellSpan> verticalAreaSpans(const PolygonFrame& frame, const CameraSetup& setup, int width, int height)
{
    return frameAreaSpans(frame, verticalPictureGrid(setup, width, height));
}

namespace {

// The heights over the area, gathered pixel by pixel.
struct AreaHeights {
    double spike = 0.0;  // a rise per pixel no surface the picture resolves has
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -std::numeric_limits<double>::infinity();
    double highestOfAll = -std::numeric_limits<double>::infinity();  // spikes included
    long long modelPixels = 0;
};

// Pixels first .. last - 1 of `row`, their depths from `depth`.
void gatherHeights(const DepthPicture& model, int row, int first, int last, const float* depth, AreaHeights& heights)
{
    for (int x = first; x < last; ++x) {
        if (!(depth[x - first] < 1.0f)) {
            continue;
        }
        ++heights.modelPixels;
        const double z = model.heightAt(x, row);
        heights.lowest = std::min(heights.lowest, z);
        heights.highestOfAll = std::max(heights.highestOfAll, z);
        if (z > heights.highest && !standsAboveNeighbours(model, x, row, z, heights.spike)) {
            heights.highest = z;
        }
    }
}

// Whether one of the drawn pixels of a full run (kDepthRun pixels from
// column `first` of `row`, orthographic placements only) lies below the
// lowest or above the highest height so far: only such a pixel changes the
// heights. `drawn` counts the run's drawn pixels. Many pixels at a time.
bool changesHeights(const DepthPicture& model, int row, int first, const float* depth, const AreaHeights& heights,
                    long long& drawn)
{
    const double py = row + 0.5;
    const double lowest = heights.lowest;
    const double highest = heights.highest;
    long long count = 0;
    long long outside = 0;
    for (int i = 0; i < kDepthRun; ++i) {
        const double z = model.affineHeightOf(first + i + 0.5, py, depth[i]);
        const long long shows = depth[i] < 1.0f ? 1 : 0;
        count += shows;
        const long long beyond = (z < lowest ? 1 : 0) | (z > highest ? 1 : 0);
        outside += shows & beyond;
    }
    drawn = count;
    return outside > 0;
}

}  // namespace

void measureVerticalArea(const DepthPicture& model, const std::vector<CellSpan>& area, const CameraSetup& setup,
                         PictureMeasure& measure)
{
    const AreaGrid grid = verticalPictureGrid(setup, model.width, model.height);
    AreaHeights heights;
    // Two pixels' width of rise per pixel: steeper than 60 degrees.
    heights.spike = 2.0 * std::max(grid.cellX, grid.cellY);
    for (const CellSpan& span : area) {
        measure.areaPixels += span.last - span.first;
        // The part of the run the region holds (all of it where the region
        // was read for the area).
        const int first = std::max(span.first, model.region.x);
        const int last = std::min(span.last, model.region.x + model.region.width);
        if (!model.holds(first, span.row) || last <= first) {
            continue;
        }
        const float* depth = model.depthFrom(first, span.row);
        for (int start = first; start < last; start += kDepthRun) {
            const int end = std::min(last, start + kDepthRun);
            const float* run = depth + (start - first);
            long long drawn = 0;
            if (end - start == kDepthRun &&
                (noneDrawn(run) || (model.affine() && !changesHeights(model, span.row, start, run, heights, drawn)))) {
                heights.modelPixels += drawn;  // nothing else changes
                continue;
            }
            gatherHeights(model, span.row, start, end, run, heights);
        }
    }
    measure.modelPixels += heights.modelPixels;
    measure.hasHeights = measure.modelPixels > 0;
    if (measure.hasHeights) {
        measure.minZ = heights.lowest;
        measure.maxZ = std::isfinite(heights.highest) ? heights.highest : heights.highestOfAll;
    }
}

namespace {

// compareSurfaces over one row of `count` pixels from `own` and `model`.
void compareRow(const float* own, const float* model, int count, const DepthPicture& ownPicture,
                const DepthPicture& modelPicture, double tolerance, PictureMeasure& measure)
{
    long long surface = 0;
    long long visible = 0;
    for (int start = 0; start < count; start += kDepthRun) {
        const int end = std::min(count, start + kDepthRun);
        if (end - start == kDepthRun && noneDrawn(own + start)) {
            continue;  // none of the frame's surface here
        }
        // Every term for every pixel, without branches: many at a time.
        for (int i = start; i < end; ++i) {
            const long long drawn = own[i] < 1.0f ? 1 : 0;
            const long long shows = model[i] < 1.0f ? 1 : 0;
            const double gap = std::fabs(modelPicture.distanceOf(model[i]) - ownPicture.distanceOf(own[i]));
            surface += drawn;
            visible += drawn & shows & (gap <= tolerance ? 1 : 0);
        }
    }
    measure.surfacePixels += surface;
    measure.visiblePixels += visible;
}

}  // namespace

void compareSurfaces(const DepthPicture& model, const DepthPicture& own, double tolerance, PictureMeasure& measure)
{
    if (model.width != own.width || model.height != own.height) {
        return;
    }
    const PixelRect& part = own.region;
    const bool inModel =
        part.empty() || (model.holds(part.x, part.y) && model.holds(part.x + part.width - 1, part.y + part.height - 1));
    for (int y = part.y; y < part.y + part.height; ++y) {
        if (inModel) {
            compareRow(own.depthFrom(part.x, y), model.depthFrom(part.x, y), part.width, own, model, tolerance,
                       measure);
            continue;
        }
        for (int x = part.x; x < part.x + part.width; ++x) {
            if (!own.drawn(x, y)) {
                continue;
            }
            ++measure.surfacePixels;
            if (model.holds(x, y) && model.drawn(x, y) &&
                std::fabs(model.distanceAt(x, y) - own.distanceAt(x, y)) <= tolerance) {
                ++measure.visiblePixels;
            }
        }
    }
}

}  // namespace vistrel
