#pragma once

// Procedural textures of the sample city: ground (grass, roads, paving,
// trees), one window bay of a facade, and a roof. Pure functions of the
// layout, so every run paints the same pixels.

#include "CityLayout.h"

#include <osg/Image>
#include <osg/ref_ptr>

namespace samplecity {

// The ground seen from above over `region`, `size` x `size` pixels; row 0 is
// the region's south edge. Colours are painted in world coordinates, so
// neighbouring regions and levels match.
osg::ref_ptr<osg::Image> makeGroundImage(const CityLayout& city, const Rect& region, int size);

// One bay of the building's facade (one floor high, one window wide),
// meant to repeat along the walls.
osg::ref_ptr<osg::Image> makeFacadeImage(const Building& building, int size);

// The whole roof of the building, stretched over its footprint.
osg::ref_ptr<osg::Image> makeRoofImage(const Building& building, int size);

}  // namespace samplecity
