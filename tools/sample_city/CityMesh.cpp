#include "CityMesh.h"

#include "CityTextures.h"

#include <osg/Geometry>
#include <osg/PrimitiveSet>
#include <osg/StateSet>
#include <osg/Texture2D>

#include <algorithm>
#include <cmath>

namespace samplecity {

namespace {

// Grid lines of the ground are shifted off round numbers so that vertical
// sample lines at round coordinates never run along a triangle edge.
constexpr double kGridOffsetX = 0.37;
constexpr double kGridOffsetY = 0.71;
constexpr double kBayWidth = 3.5;

osg::ref_ptr<osg::StateSet> texturedState(osg::Image* image, bool repeat)
{
    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(image);
    const osg::Texture::WrapMode wrap = repeat ? osg::Texture::REPEAT : osg::Texture::CLAMP_TO_EDGE;
    texture->setWrap(osg::Texture::WRAP_S, wrap);
    texture->setWrap(osg::Texture::WRAP_T, wrap);
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR_MIPMAP_LINEAR);
    texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::LINEAR);
    osg::ref_ptr<osg::StateSet> state = new osg::StateSet;
    state->setTextureAttributeAndModes(0, texture.get(), osg::StateAttribute::ON);
    // Like photographed meshes, the light is in the texture.
    state->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    return state;
}

void appendIndices(osg::DrawElementsUInt& triangles, std::initializer_list<unsigned int> indices)
{
    for (unsigned int index : indices) {
        triangles.push_back(index);
    }
}

osg::ref_ptr<osg::Geometry> newGeometry(osg::Vec3Array* vertices, osg::Vec2Array* texCoords, osg::Vec4Array* colours,
                                        osg::DrawElementsUInt* triangles)
{
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices);
    geometry->setTexCoordArray(0, texCoords, osg::Array::BIND_PER_VERTEX);
    if (colours->size() == 1) {
        geometry->setColorArray(colours, osg::Array::BIND_OVERALL);
    } else {
        geometry->setColorArray(colours, osg::Array::BIND_PER_VERTEX);
    }
    geometry->addPrimitiveSet(triangles);
    return geometry;
}

// Grid positions over [lo, hi]: both ends, the fixed breaks inside, and the
// regular lines that are not too close to any of those.
std::vector<double> gridLines(double lo, double hi, double cell, double offset, const std::vector<double>& breaks)
{
    std::vector<double> fixed{lo, hi};
    for (double b : breaks) {
        if (b > lo && b < hi) {
            fixed.push_back(b);
        }
    }
    std::vector<double> lines = fixed;
    const double first = offset + std::ceil((lo - offset) / cell) * cell;
    for (double v = first; v < hi; v += cell) {
        bool nearFixed = false;
        for (double f : fixed) {
            nearFixed = nearFixed || std::fabs(v - f) < cell * 0.3;
        }
        if (!nearFixed) {
            lines.push_back(v);
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

osg::ref_ptr<osg::Geometry> buildGround(const CityLayout& city, const Rect& region, const LevelDetail& detail)
{
    // The hole's outline is cut into the grid of the regions it touches.
    const bool holeInside = city.hole.x0 < region.x1 && city.hole.x1 > region.x0 && city.hole.y0 < region.y1 &&
                            city.hole.y1 > region.y0;
    std::vector<double> xBreaks, yBreaks;
    if (holeInside) {
        xBreaks = {city.hole.x0, city.hole.x1};
        yBreaks = {city.hole.y0, city.hole.y1};
    }
    const std::vector<double> xs = gridLines(region.x0, region.x1, detail.groundCell, kGridOffsetX, xBreaks);
    const std::vector<double> ys = gridLines(region.y0, region.y1, detail.groundCell, kGridOffsetY, yBreaks);

    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec2Array> texCoords = new osg::Vec2Array;
    for (double y : ys) {
        for (double x : xs) {
            vertices->push_back(osg::Vec3(x, y, city.groundZ(x, y)));
            texCoords->push_back(osg::Vec2((x - region.x0) / region.width(), (y - region.y0) / region.depth()));
        }
    }
    osg::ref_ptr<osg::DrawElementsUInt> triangles = new osg::DrawElementsUInt(GL_TRIANGLES);
    const unsigned int row = static_cast<unsigned int>(xs.size());
    for (std::size_t j = 0; j + 1 < ys.size(); ++j) {
        for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
            const double cx = (xs[i] + xs[i + 1]) * 0.5;
            const double cy = (ys[j] + ys[j + 1]) * 0.5;
            if (city.hole.contains(cx, cy)) {
                continue;
            }
            const unsigned int a = static_cast<unsigned int>(j) * row + static_cast<unsigned int>(i);
            const unsigned int b = a + 1;
            const unsigned int c = a + row + 1;
            const unsigned int d = a + row;
            appendIndices(*triangles, {a, b, c, a, c, d});
        }
    }
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
    colours->push_back(osg::Vec4(1, 1, 1, 1));
    osg::ref_ptr<osg::Geometry> ground = newGeometry(vertices.get(), texCoords.get(), colours.get(), triangles.get());
    ground->setName("ground");
    osg::ref_ptr<osg::Image> image = makeGroundImage(city, region, detail.groundTexture);
    ground->setStateSet(texturedState(image.get(), false).get());
    return ground;
}

struct Wall {
    double xa, ya, xb, yb;  // along the wall, outside on the right
    float shade;            // baked sun: south walls brightest
};

std::vector<Wall> buildingWalls(const Building& b)
{
    const Rect& o = b.outer;
    std::vector<Wall> walls = {
        {o.x0, o.y0, o.x1, o.y0, 1.0f},   // facing south
        {o.x1, o.y0, o.x1, o.y1, 0.88f},  // facing east
        {o.x1, o.y1, o.x0, o.y1, 0.7f},   // facing north
        {o.x0, o.y1, o.x0, o.y0, 0.8f},   // facing west
    };
    if (b.courtyard) {
        const Rect& c = *b.courtyard;
        walls.push_back({c.x1, c.y0, c.x0, c.y0, 0.7f});   // facing north into the yard
        walls.push_back({c.x0, c.y0, c.x0, c.y1, 0.88f});  // facing east
        walls.push_back({c.x0, c.y1, c.x1, c.y1, 1.0f});   // facing south
        walls.push_back({c.x1, c.y1, c.x1, c.y0, 0.8f});   // facing west
    }
    return walls;
}

osg::ref_ptr<osg::Geometry> buildWalls(const CityLayout& city, const Building& b, const LevelDetail& detail)
{
    const double roof = roofZ(city, b);
    const double base = baseZ(city, b);
    const double groundRef = roof - b.height;
    const double floorHeight = b.height / b.floors;
    std::vector<double> rows{base};
    if (detail.floorsPerRow > 0) {
        for (int k = detail.floorsPerRow; k < b.floors; k += detail.floorsPerRow) {
            rows.push_back(groundRef + k * floorHeight);
        }
    }
    rows.push_back(roof);

    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec2Array> texCoords = new osg::Vec2Array;
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
    osg::ref_ptr<osg::DrawElementsUInt> triangles = new osg::DrawElementsUInt(GL_TRIANGLES);
    for (const Wall& w : buildingWalls(b)) {
        const double length = std::hypot(w.xb - w.xa, w.yb - w.ya);
        const int columns =
            detail.wallQuadWidth > 0 ? std::max(1, static_cast<int>(std::ceil(length / detail.wallQuadWidth))) : 1;
        const unsigned int first = static_cast<unsigned int>(vertices->size());
        for (double z : rows) {
            for (int k = 0; k <= columns; ++k) {
                const double t = double(k) / columns;
                vertices->push_back(osg::Vec3(w.xa + t * (w.xb - w.xa), w.ya + t * (w.yb - w.ya), z));
                texCoords->push_back(osg::Vec2(t * length / kBayWidth, (z - groundRef) / floorHeight));
                colours->push_back(osg::Vec4(w.shade, w.shade, w.shade, 1.0f));
            }
        }
        const unsigned int stride = static_cast<unsigned int>(columns + 1);
        for (unsigned int r = 0; r + 1 < rows.size(); ++r) {
            for (unsigned int k = 0; k < static_cast<unsigned int>(columns); ++k) {
                const unsigned int a = first + r * stride + k;
                appendIndices(*triangles, {a, a + 1, a + stride + 1, a, a + stride + 1, a + stride});
            }
        }
    }
    osg::ref_ptr<osg::Geometry> geometry = newGeometry(vertices.get(), texCoords.get(), colours.get(), triangles.get());
    geometry->setName(b.id + "_walls");
    osg::ref_ptr<osg::Image> image = makeFacadeImage(b, detail.facadeTexture);
    geometry->setStateSet(texturedState(image.get(), true).get());
    return geometry;
}

osg::ref_ptr<osg::Geometry> buildRoof(const CityLayout& city, const Building& b, const LevelDetail& detail)
{
    const double z = roofZ(city, b);
    const Rect& o = b.outer;
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec2Array> texCoords = new osg::Vec2Array;
    osg::ref_ptr<osg::DrawElementsUInt> triangles = new osg::DrawElementsUInt(GL_TRIANGLES);
    auto add = [&](double x, double y) {
        vertices->push_back(osg::Vec3(x, y, z));
        texCoords->push_back(osg::Vec2((x - o.x0) / o.width(), (y - o.y0) / o.depth()));
        return static_cast<unsigned int>(vertices->size() - 1);
    };
    for (const Rect& r : roofRects(b)) {
        // A fan around an off-centre point: the diagonals of a split
        // rectangle would pass through the centre, where frames are sampled.
        const unsigned int hub = add(r.x0 + 0.41 * r.width(), r.y0 + 0.63 * r.depth());
        const unsigned int c0 = add(r.x0, r.y0);
        const unsigned int c1 = add(r.x1, r.y0);
        const unsigned int c2 = add(r.x1, r.y1);
        const unsigned int c3 = add(r.x0, r.y1);
        appendIndices(*triangles, {hub, c0, c1, hub, c1, c2, hub, c2, c3, hub, c3, c0});
    }
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
    colours->push_back(osg::Vec4(1, 1, 1, 1));
    osg::ref_ptr<osg::Geometry> geometry = newGeometry(vertices.get(), texCoords.get(), colours.get(), triangles.get());
    geometry->setName(b.id + "_roof");
    osg::ref_ptr<osg::Image> image = makeRoofImage(b, detail.roofTexture);
    geometry->setStateSet(texturedState(image.get(), false).get());
    return geometry;
}

}  // namespace

bool regionOwns(const Rect& region, const Building& building)
{
    const double cx = building.outer.cx();
    const double cy = building.outer.cy();
    return cx >= region.x0 && cx < region.x1 && cy >= region.y0 && cy < region.y1;
}

osg::ref_ptr<osg::Geode> buildRegionGeode(const CityLayout& city, const Rect& region, const LevelDetail& detail)
{
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(buildGround(city, region, detail).get());
    for (const Building& b : city.buildings) {
        if (regionOwns(region, b)) {
            geode->addDrawable(buildWalls(city, b, detail).get());
            geode->addDrawable(buildRoof(city, b, detail).get());
        }
    }
    return geode;
}

}  // namespace samplecity
