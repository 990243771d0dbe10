#pragma once

// The fixed layout of the sample city: tiles, ground, buildings, the hole in
// the ground and the frames of the parcel layer. All coordinates here are
// local metres relative to the model origin (x east, y north, z up).

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace samplecity {

struct Rect {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;

    double width() const { return x1 - x0; }
    double depth() const { return y1 - y0; }
    double cx() const { return (x0 + x1) * 0.5; }
    double cy() const { return (y0 + y1) * 0.5; }
    bool contains(double x, double y) const { return x > x0 && x < x1 && y > y0 && y < y1; }
};

struct Point2 {
    double x = 0, y = 0;
};

using Rgb = std::array<unsigned char, 3>;

struct Building {
    std::string id;                 // "B01"
    Rect outer;                     // footprint
    std::optional<Rect> courtyard;  // open inner yard of a ring-shaped building
    double height = 0;              // roof above the ground at the footprint centre
    int floors = 1;
    Rgb facade{};
    Rgb roof{};
};

// One polygon part of a frame: an exterior ring and optional interior rings,
// each listed once (not closed).
struct FramePart {
    std::vector<Point2> exterior;
    std::vector<std::vector<Point2>> interiors;
};

struct FrameSpec {
    std::string role;
    std::string zddm;
    std::string fwbh;
    std::string name;
    std::optional<int> floors;  // CS; parcels without buildings leave it null
    std::vector<FramePart> parts;
};

struct RoadLine {
    std::string name;
    std::string kind;
    std::vector<Point2> points;
};

struct TileIndex {
    int i = 0;  // east
    int j = 0;  // north
};

struct CityLayout {
    std::array<double, 3> origin{};  // projected coordinates of local (0, 0, 0)
    std::string srs;                 // of the model
    double zonePrefix = 0;           // added to x in the shapefiles
    int shapefileEpsg = 0;

    double tileSize = 0;
    int tilesX = 0;
    int tilesY = 0;
    TileIndex emptyTile;

    // Ground plane z = groundZ0 + groundSlopeX * x + groundSlopeY * y.
    double groundZ0 = 0;
    double groundSlopeX = 0;
    double groundSlopeY = 0;
    Rect hole;  // no ground surface inside

    std::vector<Building> buildings;
    std::vector<FrameSpec> frames;
    std::vector<RoadLine> roads;
    double roadHalfWidth = 0;

    double groundZ(double x, double y) const { return groundZ0 + groundSlopeX * x + groundSlopeY * y; }
    bool tileExists(int i, int j) const;
    Rect tileRect(int i, int j) const;
    // True where the ground mesh has a surface (inside an existing tile and
    // outside the hole); points on a boundary count as uncovered.
    bool groundCovers(double x, double y) const;
};

// Roof and base of a building: the roof is flat, the walls reach below the
// lowest ground under the footprint so no gap shows on the slope.
double roofZ(const CityLayout& city, const Building& b);
double baseZ(const CityLayout& city, const Building& b);
// The flat roof as rectangles (one, or four strips around a courtyard).
std::vector<Rect> roofRects(const Building& b);

// Envelope of a frame over all its parts.
Rect frameBounds(const FrameSpec& frame);

std::string tileName(int i, int j);

// The sample city. Always the same.
CityLayout makeSampleCity();

}  // namespace samplecity
