#pragma once

#include <osg/Image>

#include <string>
#include <vector>

namespace vistrel {

// What to draw on one picture. The arrow and the scale bar belong to
// vertical pictures (north up, `metresPerPixel` known); a caption to any.
struct MarkRequest {
    bool northArrow = false;
    bool scaleBar = false;
    bool caption = false;
    double metresPerPixel = 0.0;  // ground metres of one pixel; 0: not a vertical picture
    std::string captionText;  // UTF-8, one line
};

// A mark's box in picture pixels, x to the right and y down from the top-left.
struct MarkBox {
    std::string mark;  // "north_arrow", "scale_bar" or "caption"
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Where the marks go and how long the scale bar is: sizes follow the
// picture's height, so that 1080p and 4K pictures look alike. The bar's
// ground length is the largest 1, 2 or 5 × 10^n m that takes at most a fifth
// of the picture's width, and `barPixels` its length rounded to the pixel.
struct MarkLayout {
    std::vector<MarkBox> boxes;
    double barMetres = 0.0;
    int barPixels = 0;
};

MarkLayout layoutMarks(int width, int height, const MarkRequest& request);

// Draws the marks onto `pixels` (8-bit RGBA or RGB, bottom row first) with
// cairo and pango (text in Noto Sans CJK), touching no pixel outside their
// boxes; the picture keeps its size. False with the reason when a surface
// cannot be made or the layout is not one the marks take.
bool drawMarks(osg::Image& pixels, const MarkRequest& request, std::string& reason);

// The scale bar's label: "50 m", "2 km".
std::string barLabel(double metres);

}  // namespace vistrel
