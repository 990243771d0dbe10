#pragma once

#include "core/FrameArea.h"
#include "core/PolygonFrame.h"
#include "render/FrameCamera.h"

#include <osg/Matrixd>
#include <osg/Vec3d>

#include <vector>

namespace vistrel {

// A rectangle of window pixels: columns x .. x + width - 1, rows y ..
// y + height - 1 (from the bottom).
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool empty() const { return width <= 0 || height <= 0; }
    bool holds(int px, int py) const { return px >= x && py >= y && px < x + width && py < y + height; }
};

// The smallest rectangle holding both (the other one when one is empty).
PixelRect unite(const PixelRect& a, const PixelRect& b);
// `rect` grown by `pixels` on every side and cut to a width x height window.
PixelRect grownWithin(const PixelRect& rect, int pixels, int width, int height);
// The smallest rectangle holding every cell of `spans` (columns, rows).
PixelRect spanBounds(const std::vector<CellSpan>& spans);

// The depth buffer of one draw, or of a rectangle of it, with the placement
// it was drawn with.
struct DepthPicture {
    int width = 0;  // of the whole picture
    int height = 0;
    // The part read; depth holds its values, row by row from the bottom.
    PixelRect region;
    // Window depth per pixel of the region: 0 at the near plane, 1 where
    // nothing was drawn.
    std::vector<float> depth;
    // Window coordinates (column, row, depth) to scene coordinates, from the
    // view, the projection as the draw fitted its near and far planes, and
    // the viewport (set with place()).
    osg::Matrixd toScene;

    void place(const osg::Matrixd& windowToScene);

    // Pixels outside the region are taken as not read: drawn() is for pixels
    // inside it.
    bool holds(int x, int y) const { return region.holds(x, y); }
    bool drawn(int x, int y) const { return depth[index(x, y)] < 1.0f; }
    // The scene point the centre of pixel (x, y) shows.
    osg::Vec3d pointAt(int x, int y) const;
    // The z of pointAt(x, y) alone, by the same arithmetic.
    double heightAt(int x, int y) const { return heightOf(x + 0.5, y + 0.5, depth[index(x, y)]); }
    double heightOf(double px, double py, double pz) const
    {
        // Matrixd::preMult's third row and its divide, nothing else.
        const double z = affineHeightOf(px, py, pz);
        if (affine_) {
            return z;  // the divide by exactly 1, left out
        }
        const osg::Matrixd& m = toScene;
        const double d = 1.0f / (m(0, 3) * px + m(1, 3) * py + m(2, 3) * pz + m(3, 3));
        return z * d;
    }
    // heightOf before its divide: the height itself where affine().
    double affineHeightOf(double px, double py, double pz) const
    {
        const osg::Matrixd& m = toScene;
        return m(0, 2) * px + m(1, 2) * py + m(2, 2) * pz + m(3, 2);
    }
    bool affine() const { return affine_; }
    // How far along the view direction pixel (x, y) shows its point, from a
    // plane across the view. The placements are orthographic: that distance
    // is the same linear function of the depth for every pixel.
    double distanceAt(int x, int y) const { return distanceOf(depth[index(x, y)]); }
    double distanceOf(float windowDepth) const { return nearDistance_ + depthRange_ * windowDepth; }
    // The depth of pixel (x, y) and those to its right in the region.
    const float* depthFrom(int x, int y) const { return depth.data() + index(x, y); }

private:
    bool affine_ = false;  // toScene keeps w at 1: no divide (orthographic placements)
    double nearDistance_ = 0.0;  // of the near plane, along the view direction
    double depthRange_ = 0.0;  // from the near to the far plane
    std::size_t index(int x, int y) const
    {
        return static_cast<std::size_t>(y - region.y) * static_cast<std::size_t>(region.width) +
               static_cast<std::size_t>(x - region.x);
    }
};

// What a picture shows of its frame, counted in pixels.
struct PictureMeasure {
    // Pixels where the frame's own surface (the model inside its area) shows
    // when nothing else is drawn, and those of them where nothing outside the
    // frame stands in front of it.
    long long surfacePixels = 0;
    long long visiblePixels = 0;
    // Vertical views: pixels whose centre lies in the frame's area, and those
    // of them that show the model.
    long long areaPixels = 0;
    long long modelPixels = 0;
    // Vertical views: the lowest and highest model surface shown over the
    // area; hasHeights when some pixel of the area shows the model.
    bool hasHeights = false;
    double minZ = 0.0;
    double maxZ = 0.0;
};

// What a measure takes of a picture: the frame's own surface and how much of
// it shows (every view), the frame's area with its model pixels and heights
// (vertical views), or both.
enum class MeasureParts { Surface, Area, SurfaceAndArea };

// visiblePixels / surfacePixels; -1 when the frame's surface is not in the picture.
double visibleShare(const PictureMeasure& measure);
// modelPixels / areaPixels; -1 when no pixel lies in the area (or not a vertical view).
double modelShare(const PictureMeasure& measure);

// The cell grid of the pixels of a vertical picture taken with `setup`.
AreaGrid verticalPictureGrid(const CameraSetup& setup, int width, int height);

// The pixels of a vertical picture taken with `setup` whose centre lies in
// the frame's area, as runs of pixels (row from the bottom, columns).
std::vector<CellSpan> verticalAreaSpans(const PolygonFrame& frame, const CameraSetup& setup, int width, int height);

// Counts the area and model pixels of a vertical picture and the heights of
// the model over the area (`area`: its pixels as verticalAreaSpans gives
// them; `model`: the picture's depth, from `setup`, read over the area and a
// pixel around it). A pixel standing alone high above its neighbours (a wall
// seen edge-on) does not count for the highest.
void measureVerticalArea(const DepthPicture& model, const std::vector<CellSpan>& area, const CameraSetup& setup,
                         PictureMeasure& measure);

// Counts the surface and visible pixels: `own` holds the depth of the frame's
// own surface drawn alone, `model` that of the whole model from the same
// placement (read over at least own's region); a pixel is visible where both
// show the same point, within `tolerance` scene units.
void compareSurfaces(const DepthPicture& model, const DepthPicture& own, double tolerance, PictureMeasure& measure);

}  // namespace vistrel
