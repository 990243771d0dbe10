#include "TruthManifest.h"

#include <cmath>

namespace samplecity {

namespace {

using Json = nlohmann::ordered_json;

// Micrometre rounding keeps the file readable; every value is far more
// precise than any test tolerance.
double tidy(double v)
{
    const double r = std::round(v * 1e6) / 1e6;
    return r == 0.0 ? 0.0 : r;
}

Json sceneRect(const CityLayout& city, const Rect& r)
{
    return Json::array({tidy(city.origin[0] + r.x0), tidy(city.origin[1] + r.y0), tidy(city.origin[0] + r.x1),
                        tidy(city.origin[1] + r.y1)});
}

Json sphere(const SphereEntry& s)
{
    return Json{{"center", Json::array({s.center[0], s.center[1], s.center[2]})}, {"radius", s.radius}};
}

Json rgb(const Rgb& c) { return Json::array({c[0], c[1], c[2]}); }

std::string frameName(const FrameSpec& f) { return f.zddm + "_" + f.fwbh; }

Json frameEntry(const CityLayout& city, const FrameTruth& truth)
{
    const FrameSpec& spec = *truth.spec;
    Json attributes{{"ZDDM", spec.zddm}, {"FWBH", spec.fwbh}, {"NAME", spec.name}};
    if (spec.floors) {
        attributes["CS"] = std::to_string(*spec.floors);
    }
    int interiorRings = 0;
    for (const FramePart& part : spec.parts) {
        interiorRings += static_cast<int>(part.interiors.size());
    }
    Json frame{
        {"index", truth.index},
        {"role", spec.role},
        {"name", frameName(spec)},
        {"attributes", attributes},
        {"bounds", sceneRect(city, truth.bounds)},
        {"parts", spec.parts.size()},
        {"rings", spec.parts.size()},
        {"interior_rings", interiorRings},
        {"has_model", truth.heights.hit},
        // Nothing of the model lies under a frame without surface hits, so
        // its vertical view shows only background.
        {"skip", !truth.heights.hit},
        {"ground_z", truth.heights.hit ? Json(tidy(truth.heights.groundZ)) : Json()},
        {"roof_z", truth.heights.hit ? Json(tidy(truth.heights.roofZ)) : Json()},
    };
    if (truth.occlusion.empty()) {
        frame["occlusion"] = Json();
        frame["occluded_at_first_angle"] = Json::array();
        return frame;
    }
    Json occlusion = Json::object();
    Json occludedSides = Json::array();
    for (const SideOcclusion& side : truth.occlusion) {
        occlusion[side.side] = Json{{"angles", side.angles},
                                    {"scores", side.scores},
                                    {"chosen_angle", side.chosenAngle},
                                    {"chosen_score", side.chosenScore}};
        if (!side.scores.empty() && side.scores.front() > 0) {
            occludedSides.push_back(side.side);
        }
    }
    frame["occlusion"] = occlusion;
    frame["occluded_at_first_angle"] = occludedSides;
    return frame;
}

Json buildingEntry(const CityLayout& city, const Building& b)
{
    const int i = static_cast<int>(std::floor(b.outer.cx() / city.tileSize));
    const int j = static_cast<int>(std::floor(b.outer.cy() / city.tileSize));
    return Json{
        {"id", b.id},
        {"tile", tileName(i, j)},
        {"footprint", sceneRect(city, b.outer)},
        {"courtyard", b.courtyard ? sceneRect(city, *b.courtyard) : Json()},
        {"height", b.height},
        {"floors", b.floors},
        {"roof_z", tidy(roofZ(city, b))},
        {"facade_rgb", rgb(b.facade)},
        {"roof_rgb", rgb(b.roof)},
    };
}

}  // namespace

nlohmann::ordered_json makeTruthManifest(const ManifestInput& input)
{
    const CityLayout& city = *input.city;
    Json manifest;
    manifest["origin"] = Json{{"x", city.origin[0]}, {"y", city.origin[1]}, {"z", city.origin[2]}};
    manifest["srs"] = city.srs;
    manifest["zone_prefix"] = city.zonePrefix;
    manifest["shapefile_srs"] = "EPSG:" + std::to_string(city.shapefileEpsg);

    Json tiles = Json::array();
    for (const TileEntry& tile : input.tiles) {
        tiles.push_back(Json{{"name", tile.name}, {"root", tile.files.front()}, {"files", tile.files}});
    }
    manifest["tiles"] = tiles;
    manifest["empty_tile"] = tileName(city.emptyTile.i, city.emptyTile.j);
    manifest["tile_size"] = city.tileSize;
    manifest["scene_bound"] = sphere(input.sceneBound);
    manifest["scene_bound_local"] = sphere(input.sceneBoundLocal);
    manifest["ground"] = Json{
        {"plane", "z = z0 + slope_x * (x - origin.x) + slope_y * (y - origin.y)"},
        {"z0", city.groundZ0},
        {"slope_x", city.groundSlopeX},
        {"slope_y", city.groundSlopeY},
    };
    manifest["hole"] = Json{{"bounds", sceneRect(city, city.hole)}};
    manifest["dsm"] = Json{
        {"folder", "city_dsm"},
        {"origin_file", "city_dsm/Data.dsm"},
        {"origin", Json::array({city.origin[0], city.origin[1]})},
        {"decoy", Json::array({input.dsm.decoyX, input.dsm.decoyY})},
    };
    manifest["shapefiles"] = Json{
        {"parcels", "parcels.shp"},
        {"lines", "lines.shp"},
        {"line_count", city.roads.size()},
        {"field_names", Json::array({"ZDDM", "FWBH"})},
        {"field_separator", "_"},
    };
    const CameraSettings& c = input.camera;
    manifest["camera"] = Json{
        {"distance", c.distance},
        {"oblique_distance_factor", c.obliqueDistanceFactor},
        {"oblique_view_angle", c.obliqueViewAngle},
        {"occlusion_sample_step", c.occlusionSampleStep},
        {"camera_padding", c.cameraPadding},
        {"oblique_padding_factor", c.obliquePaddingFactor},
    };

    Json frames = Json::array();
    for (const FrameTruth& frame : input.frames) {
        frames.push_back(frameEntry(city, frame));
    }
    manifest["frames"] = frames;

    Json buildings = Json::array();
    for (const Building& b : city.buildings) {
        buildings.push_back(buildingEntry(city, b));
    }
    manifest["buildings"] = buildings;
    return manifest;
}

}  // namespace samplecity
