#pragma once

#include "core/FrameArea.h"
#include "core/PolygonFrame.h"
#include "render/FrameCamera.h"

#include <osg/Matrixd>
#include <osg/Vec3d>

#include <vector>

namespace vistrel {

// The depth buffer of one draw with the placement it was drawn with.
struct DepthPicture {
    int width = 0;
    int height = 0;
    // Window depth per pixel, row by row from the bottom: 0 at the near
    // plane, 1 where nothing was drawn.
    std::vector<float> depth;
    // Window coordinates (column, row, depth) to scene coordinates, from the
    // view, the projection as the draw fitted its near and far planes, and
    // the viewport (set with place()).
    osg::Matrixd toScene;

    void place(const osg::Matrixd& windowToScene);

    bool drawn(int x, int y) const { return depth[index(x, y)] < 1.0f; }
    // The scene point the centre of pixel (x, y) shows.
    osg::Vec3d pointAt(int x, int y) const;
    // The z of pointAt(x, y) alone, by the same arithmetic.
    double heightAt(int x, int y) const;
    // How far along the view direction pixel (x, y) shows its point, from a
    // plane across the view. The placements are orthographic: that distance
    // is the same linear function of the depth for every pixel.
    double distanceAt(int x, int y) const { return nearDistance_ + depthRange_ * depth[index(x, y)]; }

private:
    double nearDistance_ = 0.0;  // of the near plane, along the view direction
    double depthRange_ = 0.0;  // from the near to the far plane
    std::size_t index(int x, int y) const
    {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x);
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

// visiblePixels / surfacePixels; -1 when the frame's surface is not in the picture.
double visibleShare(const PictureMeasure& measure);
// modelPixels / areaPixels; -1 when no pixel lies in the area (or not a vertical view).
double modelShare(const PictureMeasure& measure);

// The cell grid of the pixels of a vertical picture taken with `setup`.
AreaGrid verticalPictureGrid(const CameraSetup& setup, int width, int height);

// Counts the area and model pixels of a vertical picture and the heights of
// the model over the area (`model`: the picture's depth, from `setup`). A
// pixel standing alone high above its neighbours (a wall seen edge-on) does
// not count for the highest.
void measureVerticalArea(const DepthPicture& model, const PolygonFrame& frame, const CameraSetup& setup,
                         PictureMeasure& measure);

// Counts the surface and visible pixels: `own` holds the depth of the frame's
// own surface drawn alone, `model` that of the whole model from the same
// placement; a pixel is visible where both show the same point, within
// `tolerance` scene units.
void compareSurfaces(const DepthPicture& model, const DepthPicture& own, double tolerance, PictureMeasure& measure);

}  // namespace vistrel
