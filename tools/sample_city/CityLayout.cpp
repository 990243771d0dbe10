#include "CityLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace samplecity {

bool CityLayout::tileExists(int i, int j) const
{
    if (i < 0 || j < 0 || i >= tilesX || j >= tilesY) {
        return false;
    }
    return !(i == emptyTile.i && j == emptyTile.j);
}

Rect CityLayout::tileRect(int i, int j) const
{
    return {i * tileSize, j * tileSize, (i + 1) * tileSize, (j + 1) * tileSize};
}

bool CityLayout::groundCovers(double x, double y) const
{
    if (x >= hole.x0 && x <= hole.x1 && y >= hole.y0 && y <= hole.y1) {
        return false;
    }
    if (x <= 0 || y <= 0 || x >= tilesX * tileSize || y >= tilesY * tileSize) {
        return false;
    }
    const int i = static_cast<int>(std::floor(x / tileSize));
    const int j = static_cast<int>(std::floor(y / tileSize));
    if (!tileExists(i, j)) {
        return false;
    }
    // The edge of the empty tile is not covered either.
    const Rect empty = tileRect(emptyTile.i, emptyTile.j);
    return !(x >= empty.x0 && x <= empty.x1 && y >= empty.y0 && y <= empty.y1);
}

double roofZ(const CityLayout& city, const Building& b)
{
    return city.groundZ(b.outer.cx(), b.outer.cy()) + b.height;
}

double baseZ(const CityLayout& city, const Building& b)
{
    const double lowest = std::min({city.groundZ(b.outer.x0, b.outer.y0), city.groundZ(b.outer.x1, b.outer.y0),
                                    city.groundZ(b.outer.x0, b.outer.y1), city.groundZ(b.outer.x1, b.outer.y1)});
    return lowest - 1.5;
}

std::vector<Rect> roofRects(const Building& b)
{
    if (!b.courtyard) {
        return {b.outer};
    }
    const Rect& o = b.outer;
    const Rect& c = *b.courtyard;
    return {
        {o.x0, o.y0, o.x1, c.y0},  // south strip
        {o.x0, c.y1, o.x1, o.y1},  // north strip
        {o.x0, c.y0, c.x0, c.y1},  // west strip
        {c.x1, c.y0, o.x1, c.y1},  // east strip
    };
}

Rect frameBounds(const FrameSpec& frame)
{
    Rect r{std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
           std::numeric_limits<double>::lowest(), std::numeric_limits<double>::lowest()};
    for (const FramePart& part : frame.parts) {
        for (const Point2& p : part.exterior) {
            r.x0 = std::min(r.x0, p.x);
            r.y0 = std::min(r.y0, p.y);
            r.x1 = std::max(r.x1, p.x);
            r.y1 = std::max(r.y1, p.y);
        }
    }
    return r;
}

std::string tileName(int i, int j)
{
    char text[32];
    std::snprintf(text, sizeof(text), "Tile_+%03d_+%03d", i, j);
    return text;
}

namespace {

// Distinct, fairly saturated colours: hues spread by the golden ratio.
Rgb paletteColour(int index, double saturation, double value, double hueShift)
{
    double h = std::fmod(index * 0.6180339887498949 + hueShift, 1.0) * 6.0;
    const int sector = static_cast<int>(h);
    const double f = h - sector;
    const double p = value * (1 - saturation);
    const double q = value * (1 - saturation * f);
    const double t = value * (1 - saturation * (1 - f));
    double r = 0, g = 0, b = 0;
    switch (sector % 6) {
    case 0: r = value; g = t; b = p; break;
    case 1: r = q; g = value; b = p; break;
    case 2: r = p; g = value; b = t; break;
    case 3: r = p; g = q; b = value; break;
    case 4: r = t; g = p; b = value; break;
    default: r = value; g = p; b = q; break;
    }
    auto byte = [](double v) { return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    return {byte(r), byte(g), byte(b)};
}

FramePart rectPart(double x0, double y0, double x1, double y1)
{
    return {{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}, {}};
}

Rect pad(const Rect& r, double margin)
{
    return {r.x0 - margin, r.y0 - margin, r.x1 + margin, r.y1 + margin};
}

}  // namespace

CityLayout makeSampleCity()
{
    CityLayout city;
    city.origin = {512000.0, 3390000.0, 0.0};
    city.srs = "EPSG:4547";
    city.zonePrefix = 38000000.0;
    city.shapefileEpsg = 4526;  // CGCS2000 / 3-degree Gauss-Kruger zone 38 (central meridian 114E)
    city.tileSize = 120.0;
    city.tilesX = 3;
    city.tilesY = 3;
    city.emptyTile = {2, 2};
    city.groundZ0 = 20.0;
    city.groundSlopeX = 0.02;
    city.groundSlopeY = 0.01;
    city.hole = {160.0, 40.0, 200.0, 70.0};
    city.roadHalfWidth = 5.0;

    struct Plan {
        const char* id;
        Rect outer;
        std::optional<Rect> courtyard;
        double height;
        int floors;
    };
    const std::vector<Plan> plans = {
        // Tile +000 +000
        {"B01", {10, 10, 40, 30}, {}, 18, 6},
        {"B02", {55, 10, 80, 35}, {}, 24, 8},
        {"B03", {80, 60, 100, 80}, {}, 80, 26},
        {"B04", {15, 53, 30, 64}, {}, 3, 1},
        {"B05", {20, 85, 30, 95}, {}, 7, 2},
        {"B06", {40, 85, 50, 95}, {}, 7, 2},
        // Tile +001 +000, around the hole
        {"B07", {130, 10, 150, 30}, {}, 15, 5},
        {"B08", {210, 10, 230, 30}, {}, 30, 10},
        {"B09", {135, 85, 150, 105}, {}, 12, 4},
        {"B10", {210, 85, 228, 105}, {}, 21, 7},
        // Tile +002 +000
        {"B11", {255, 20, 275, 40}, {}, 9, 3},
        {"B12", {300, 20, 320, 40}, {}, 9, 3},
        {"B13", {260, 70, 300, 100}, {}, 36, 12},
        {"B14", {330, 60, 350, 100}, {}, 45, 15},
        // Tile +000 +001: the tower south of the low house
        {"B15", {47, 167, 63, 174}, {}, 74, 24},
        {"B16", {49, 210, 61, 220}, {}, 6, 2},
        {"B17", {5, 140, 20, 160}, {}, 12, 4},
        {"B18", {85, 140, 105, 170}, {}, 20, 6},
        {"B19", {85, 190, 105, 225}, {}, 15, 5},
        // Tile +001 +001: the courtyard building
        {"B20", {140, 150, 180, 186}, Rect{150, 160, 170, 176}, 17, 6},
        {"B21", {195, 140, 225, 160}, {}, 27, 9},
        {"B22", {195, 195, 225, 220}, {}, 12, 4},
        {"B23", {135, 200, 160, 225}, {}, 10, 3},
        // Tile +002 +001: the row of shops
        {"B24", {261, 150, 264, 205}, {}, 10, 3},
        {"B25", {290, 140, 320, 170}, {}, 24, 8},
        {"B26", {290, 190, 340, 225}, {}, 15, 5},
        // Tile +000 +002
        {"B27", {70, 260, 100, 285}, {}, 9, 3},
        {"B28", {70, 300, 100, 340}, {}, 33, 11},
        // Tile +001 +002
        {"B29", {140, 260, 170, 300}, {}, 21, 7},
        {"B30", {190, 260, 225, 330}, {}, 50, 16},
        {"B31", {140, 320, 175, 350}, {}, 6, 2},
    };
    for (std::size_t k = 0; k < plans.size(); ++k) {
        const Plan& p = plans[k];
        Building b;
        b.id = p.id;
        b.outer = p.outer;
        b.courtyard = p.courtyard;
        b.height = p.height;
        b.floors = p.floors;
        // Hue, saturation and brightness all vary, so no two buildings
        // look alike from the side or from above.
        static const double facadeValues[3] = {0.95, 0.8, 0.88};
        static const double roofValues[3] = {0.5, 0.68, 0.86};
        const int n = static_cast<int>(k);
        b.facade = paletteColour(n, n % 2 ? 0.35 : 0.5, facadeValues[n % 3], 0.05);
        b.roof = paletteColour(n, n % 2 ? 0.45 : 0.65, roofValues[n % 3], 0.40);
        city.buildings.push_back(b);
    }

    auto building = [&city](const char* id) -> const Rect& {
        for (const Building& b : city.buildings) {
            if (b.id == id) {
                return b.outer;
            }
        }
        return city.hole;  // not reached: every id below exists
    };
    auto around = [&](const char* id, double margin) {
        const Rect r = pad(building(id), margin);
        return rectPart(r.x0, r.y0, r.x1, r.y1);
    };

    const std::string gb = "441302001001GB";
    std::vector<FrameSpec>& f = city.frames;
    f.push_back({"building", gb + "00012", "0001", "江北大厦", 6, {around("B01", 3)}});
    f.push_back({"building", gb + "00012", "0002", "江北商务中心", 8, {around("B02", 3)}});
    f.push_back({"multipolygon", gb + "00012", "0003", "双子住宅", 2, {around("B05", 3), around("B06", 3)}});
    f.push_back({"building", gb + "00013", "0001", "环球金融中心", 26, {around("B03", 3)}});
    f.push_back({"building", gb + "00013", "0002", "仓库", 1, {around("B04", 3)}});
    f.push_back({"building", gb + "00021", "0001", "滨江花园1栋", 5, {around("B07", 3)}});
    f.push_back({"hole", gb + "00022", "0001", "塌陷区", std::nullopt, {rectPart(175, 51, 185, 59)}});
    f.push_back({"building", gb + "00023", "0001", "商业楼,A座", 10, {around("B08", 3)}});
    f.push_back({"building", gb + "00023", "0002", "\"明珠\"公寓", 7, {around("B10", 3)}});
    f.push_back({"duplicate_name", gb + "00031", "0001", "东苑1栋", 3, {around("B11", 3)}});
    f.push_back({"duplicate_name", gb + "00031", "0001", "东苑2栋", 3, {around("B12", 3)}});
    f.push_back({"building", gb + "00032", "0001", "滨海大厦", 15, {around("B14", 3)}});
    f.push_back({"tower", gb + "00041", "0001", "观澜塔", 24, {around("B15", 3)}});
    f.push_back({"occluded_house", gb + "00041", "0002", "低层住宅", 2, {around("B16", 3)}});
    {
        FramePart courtyard = around("B20", 3);
        courtyard.interiors.push_back({{152, 162}, {168, 162}, {168, 174}, {152, 174}});
        f.push_back({"courtyard", gb + "00051", "0001", "四合院式办公楼", 6, {courtyard}});
    }
    f.push_back({"parcel", gb + "00052", "0001", "科技园地块", std::nullopt, {rectPart(190, 135, 230, 226)}});
    f.push_back({"tall_narrow", gb + "00061", "0001", "沿街商铺", 3, {rectPart(258.5, 147.5, 266.5, 207.5)}});
    f.push_back({"parcel", gb + "00071", "0001", "中心公园", std::nullopt,
                 {{{{12, 268}, {52, 266}, {58, 305}, {35, 342}, {10, 330}}, {}}}});
    f.push_back({"building", gb + "00081", "0001", "江景豪庭", 16, {around("B30", 3)}});
    f.push_back({"outside", gb + "00091", "0001", "规划预留地", std::nullopt, {rectPart(290, 290, 310, 310)}});

    city.roads = {
        {"江北路", "道路", {{0, 120}, {360, 120}}},
        {"滨江大道", "道路", {{0, 240}, {240, 240}}},
        {"中山路", "道路", {{120, 0}, {120, 360}}},
        {"解放路", "道路", {{240, 0}, {240, 240}}},
        {"公园步道", "步道", {{15, 300}, {25, 310}, {40, 305}, {50, 320}}},
    };
    return city;
}

}  // namespace samplecity
