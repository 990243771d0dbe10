#pragma once

// Textured triangle meshes of the sample city at one level of detail: the
// ground of a region (with the hole cut out) and the buildings standing in
// it. Every level has the same surfaces; finer levels split them into more
// triangles and carry larger textures.

#include "CityLayout.h"

#include <osg/Geode>
#include <osg/ref_ptr>

namespace samplecity {

struct LevelDetail {
    int level = 0;            // export level number (17, 18, 19)
    double groundCell = 0;    // spacing of the ground grid in metres
    int groundTexture = 0;    // ground texture size over the region, pixels
    int facadeTexture = 0;    // size of one facade bay texture, pixels
    int roofTexture = 0;      // size of a roof texture, pixels
    int floorsPerRow = 0;     // wall rows span this many floors; 0: one row
    double wallQuadWidth = 0; // longest wall quad along a wall; 0: whole wall
};

// A building belongs to the region holding its footprint centre
// (west and south edges included).
bool regionOwns(const Rect& region, const Building& building);

// Ground of `region` plus every building the region owns.
osg::ref_ptr<osg::Geode> buildRegionGeode(const CityLayout& city, const Rect& region, const LevelDetail& detail);

}  // namespace samplecity
