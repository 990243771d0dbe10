#include "CityTextures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace samplecity {

namespace {

struct Colour {
    double r = 0, g = 0, b = 0;
};

Colour operator*(const Colour& c, double k) { return {c.r * k, c.g * k, c.b * k}; }
Colour operator+(const Colour& a, const Colour& b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
Colour mix(const Colour& a, const Colour& b, double t) { return a * (1 - t) + b * t; }
Colour fromRgb(const Rgb& c) { return {double(c[0]), double(c[1]), double(c[2])}; }

// Integer hash noise in [0, 1): the same on every platform.
double hashNoise(int x, int y, std::uint32_t seed)
{
    std::uint32_t h = seed * 0x9E3779B1u;
    h ^= static_cast<std::uint32_t>(x) * 0x85EBCA77u;
    h = (h << 13) | (h >> 19);
    h ^= static_cast<std::uint32_t>(y) * 0xC2B2AE3Du;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return (h & 0xFFFFFFu) / double(0x1000000);
}

// Smooth value noise with features of `cell` metres.
double valueNoise(double x, double y, double cell, std::uint32_t seed)
{
    const double fx = x / cell;
    const double fy = y / cell;
    const int ix = static_cast<int>(std::floor(fx));
    const int iy = static_cast<int>(std::floor(fy));
    double tx = fx - ix;
    double ty = fy - iy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    const double a = hashNoise(ix, iy, seed);
    const double b = hashNoise(ix + 1, iy, seed);
    const double c = hashNoise(ix, iy + 1, seed);
    const double d = hashNoise(ix + 1, iy + 1, seed);
    return (a * (1 - tx) + b * tx) * (1 - ty) + (c * (1 - tx) + d * tx) * ty;
}

double distanceToSegment(double px, double py, const Point2& a, const Point2& b, double* along)
{
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((px - a.x) * dx + (py - a.y) * dy) / len2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    if (along) {
        *along = t * std::sqrt(len2);
    }
    return std::hypot(px - (a.x + t * dx), py - (a.y + t * dy));
}

double distanceToRect(double x, double y, const Rect& r)
{
    const double dx = std::max({r.x0 - x, 0.0, x - r.x1});
    const double dy = std::max({r.y0 - y, 0.0, y - r.y1});
    return std::hypot(dx, dy);
}

struct Tree {
    double x = 0, y = 0, radius = 0;
};

// Trees stand on a jittered 9 m lattice, at most one per cell, and keep
// clear of buildings.
class TreeLattice {
public:
    explicit TreeLattice(const CityLayout& city)
        : cells_(static_cast<int>(std::ceil(city.tilesX * city.tileSize / kCell)) + 2),
          rows_(static_cast<int>(std::ceil(city.tilesY * city.tileSize / kCell)) + 2),
          trees_(static_cast<std::size_t>(cells_ * rows_))
    {
        for (int cj = 0; cj < rows_; ++cj) {
            for (int ci = 0; ci < cells_; ++ci) {
                if (hashNoise(ci, cj, 11) > 0.45) {
                    continue;
                }
                Tree tree{(ci + 0.2 + 0.6 * hashNoise(ci, cj, 12)) * kCell, (cj + 0.2 + 0.6 * hashNoise(ci, cj, 13)) * kCell,
                          1.8 + 1.4 * hashNoise(ci, cj, 14)};
                bool clear = true;
                for (const Building& b : city.buildings) {
                    clear = clear && distanceToRect(tree.x, tree.y, b.outer) >= tree.radius + 3.0;
                }
                if (clear) {
                    trees_[static_cast<std::size_t>(cj * cells_ + ci)] = tree;
                }
            }
        }
    }

    const Tree* treeAt(double x, double y) const
    {
        const int ti = static_cast<int>(std::floor(x / kCell));
        const int tj = static_cast<int>(std::floor(y / kCell));
        for (int cj = tj - 1; cj <= tj + 1; ++cj) {
            for (int ci = ti - 1; ci <= ti + 1; ++ci) {
                if (ci < 0 || cj < 0 || ci >= cells_ || cj >= rows_) {
                    continue;
                }
                const Tree& tree = trees_[static_cast<std::size_t>(cj * cells_ + ci)];
                if (tree.radius > 0 && std::hypot(x - tree.x, y - tree.y) < tree.radius) {
                    return &tree;
                }
            }
        }
        return nullptr;
    }

private:
    static constexpr double kCell = 9.0;
    int cells_;
    int rows_;
    std::vector<Tree> trees_;
};

Colour groundColour(const CityLayout& city, const TreeLattice& trees, double x, double y)
{
    // Roads: asphalt with edge lines and a dashed centre line, then pavement.
    double nearestRoad = std::numeric_limits<double>::max();
    double nearestAlong = 0;
    double nearestPath = std::numeric_limits<double>::max();
    for (const RoadLine& road : city.roads) {
        for (std::size_t k = 0; k + 1 < road.points.size(); ++k) {
            double along = 0;
            const double d = distanceToSegment(x, y, road.points[k], road.points[k + 1], &along);
            if (road.points.size() == 2) {
                if (d < nearestRoad) {
                    nearestRoad = d;
                    nearestAlong = along;
                }
            } else {
                nearestPath = std::min(nearestPath, d);
            }
        }
    }
    const double grain = hashNoise(static_cast<int>(std::floor(x * 4)), static_cast<int>(std::floor(y * 4)), 7);
    if (nearestRoad < city.roadHalfWidth) {
        if (nearestRoad < 0.12 && std::fmod(nearestAlong, 8.0) < 4.0) {
            return {232, 230, 218};
        }
        if (nearestRoad > city.roadHalfWidth - 0.55 && nearestRoad < city.roadHalfWidth - 0.4) {
            return {225, 225, 225};
        }
        return Colour{72, 74, 78} * (0.94 + 0.12 * grain);
    }
    if (nearestRoad < city.roadHalfWidth + 2.0) {
        const bool seam = std::fmod(std::fabs(nearestAlong), 1.5) < 0.08;
        return seam ? Colour{140, 136, 128} : Colour{178, 172, 160};
    }
    if (nearestPath < 0.9) {
        return Colour{196, 176, 130} * (0.95 + 0.1 * grain);
    }

    // Paving around buildings.
    for (const Building& b : city.buildings) {
        if (distanceToRect(x, y, b.outer) < 3.0 || (b.courtyard && b.courtyard->contains(x, y))) {
            const bool seam = std::fmod(x + 1000.0, 1.2) < 0.08 || std::fmod(y + 1000.0, 1.2) < 0.08;
            return seam ? Colour{150, 146, 138} : Colour{194, 188, 176} * (0.97 + 0.06 * grain);
        }
    }

    // Grass with trees.
    if (const Tree* tree = trees.treeAt(x, y)) {
        const double d = std::hypot(x - tree->x, y - tree->y);
        const double shade = 0.75 + 0.35 * (1 - d / tree->radius) + 0.1 * (x - tree->x - (y - tree->y)) / tree->radius;
        return Colour{44, 88, 40} * shade;
    }
    const double patch = valueNoise(x, y, 14.0, 3);
    return Colour{82, 128, 58} * (0.82 + 0.3 * patch + 0.06 * grain);
}

osg::ref_ptr<osg::Image> newRgbImage(int size)
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(size, size, 1, GL_RGB, GL_UNSIGNED_BYTE);
    image->setInternalTextureFormat(GL_RGB8);
    return image;
}

void putPixel(osg::Image& image, int s, int t, const Colour& c)
{
    unsigned char* p = image.data(s, t);
    auto byte = [](double v) { return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0, 255.0))); };
    p[0] = byte(c.r);
    p[1] = byte(c.g);
    p[2] = byte(c.b);
}

}  // namespace

osg::ref_ptr<osg::Image> makeGroundImage(const CityLayout& city, const Rect& region, int size)
{
    osg::ref_ptr<osg::Image> image = newRgbImage(size);
    const TreeLattice trees(city);
    const double px = region.width() / size;
    const double py = region.depth() / size;
    for (int t = 0; t < size; ++t) {
        for (int s = 0; s < size; ++s) {
            // 2 x 2 samples per pixel keep thin markings from flickering.
            Colour sum;
            for (int k = 0; k < 4; ++k) {
                const double x = region.x0 + (s + 0.25 + 0.5 * (k % 2)) * px;
                const double y = region.y0 + (t + 0.25 + 0.5 * (k / 2)) * py;
                sum = sum + groundColour(city, trees, x, y);
            }
            putPixel(*image, s, t, sum * 0.25);
        }
    }
    return image;
}

osg::ref_ptr<osg::Image> makeFacadeImage(const Building& building, int size)
{
    osg::ref_ptr<osg::Image> image = newRgbImage(size);
    const Colour wall = fromRgb(building.facade);
    const Colour glassLow{38, 52, 72};
    const Colour glassHigh{92, 118, 146};
    const Colour frame{226, 224, 216};
    for (int t = 0; t < size; ++t) {
        for (int s = 0; s < size; ++s) {
            const double u = (s + 0.5) / size;
            const double v = (t + 0.5) / size;
            Colour c = wall * (0.96 + 0.06 * hashNoise(s, t, 21));
            if (v < 0.07) {
                c = wall * 0.78;  // floor slab
            }
            const bool inWindow = u > 0.2 && u < 0.8 && v > 0.3 && v < 0.82;
            const bool inFrame = u > 0.17 && u < 0.83 && v > 0.27 && v < 0.85;
            if (inWindow) {
                c = mix(glassLow, glassHigh, (v - 0.3) / 0.52);
                if (std::fabs(u - 0.5) < 0.02) {
                    c = frame;  // mullion
                }
            } else if (inFrame) {
                c = frame;
            }
            putPixel(*image, s, t, c);
        }
    }
    return image;
}

osg::ref_ptr<osg::Image> makeRoofImage(const Building& building, int size)
{
    osg::ref_ptr<osg::Image> image = newRgbImage(size);
    const Colour roof = fromRgb(building.roof);
    const Colour parapet = mix(roof, Colour{235, 235, 230}, 0.45);
    const Colour unit{204, 204, 208};
    for (int t = 0; t < size; ++t) {
        for (int s = 0; s < size; ++s) {
            const double u = (s + 0.5) / size;
            const double v = (t + 0.5) / size;
            Colour c = roof * (0.93 + 0.1 * hashNoise(s, t, 31));
            const double edge = std::min({u, v, 1 - u, 1 - v});
            if (edge < 0.04) {
                c = parapet;
            } else if (u > 0.58 && u < 0.78 && v > 0.55 && v < 0.75) {
                c = unit * (u < 0.6 || v > 0.73 ? 0.8 : 1.0);  // rooftop plant with a shaded rim
            } else if (u > 0.58 && u < 0.8 && v > 0.53 && v < 0.55) {
                c = roof * 0.6;  // its shadow
            }
            putPixel(*image, s, t, c);
        }
    }
    return image;
}

}  // namespace samplecity
