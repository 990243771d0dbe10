#pragma once

// Ground truth of the sample city, computed from the layout itself (exact
// planes and boxes), never by reading the written files back:
//  - the model heights under a frame, measured like the renderer does with
//    25 vertical lines over the frame's bounds;
//  - for every side and diagonal view, which share of the renderer's five
//    occlusion sight lines hits the model at each candidate view angle.
// Every line and sight segment must clear every surface boundary by a safe
// margin; a layout where one grazes an edge is rejected (an exception), so
// the numbers never depend on rounding inside a ray test.

#include "CityLayout.h"

#include <string>
#include <vector>

namespace samplecity {

// Camera settings the sample configuration renders with.
struct CameraSettings {
    double distance = 100.0;
    double obliqueDistanceFactor = 0.8;
    double obliqueViewAngle = 50.0;
    double occlusionSampleStep = 0.35;
    double cameraPadding = 1.05;
    double obliquePaddingFactor = 1.02;
};

// Closest a sample line or sight segment may pass a surface boundary.
constexpr double kSafeMargin = 0.05;

// The 25 vertical sample positions over a frame's bounds, row by row in x.
std::vector<Point2> heightSamplePoints(const Rect& bounds);

// Surface heights along the vertical line at (x, y), lowest first.
std::vector<double> surfaceHeightsAt(const CityLayout& city, double x, double y);

struct FrameHeights {
    bool hit = false;
    double groundZ = 0;  // lowest surface over all sample lines
    double roofZ = 0;    // highest
};

FrameHeights measureFrameHeights(const CityLayout& city, const Rect& bounds);

struct SideOcclusion {
    std::string side;             // north, south, east, west, ne45, nw45, se45, sw45
    std::vector<double> angles;   // candidate view angles, flattest first
    std::vector<double> scores;   // blocked share of the five sight lines per angle
    double chosenAngle = 0;
    double chosenScore = 0;
};

std::vector<SideOcclusion> measureOcclusion(const CityLayout& city, const Rect& bounds, const FrameHeights& heights,
                                            const CameraSettings& camera);

}  // namespace samplecity
