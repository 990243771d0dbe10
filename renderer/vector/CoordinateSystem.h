#pragma once

#include <string>

namespace vistrel {

// A coordinate system as the model or the frames declare it: a CRS that
// PROJ knows (EPSG:n, WKT, PROJ string), a local east-north-up frame
// tangent to the WGS 84 ellipsoid, or nothing known.
struct CoordinateSystem {
    enum class Kind { Unknown, Crs, Enu };
    Kind kind = Kind::Unknown;
    std::string text;  // as declared or configured
    std::string wkt;  // Crs: the system as WKT
    double enuLat = 0.0;  // Enu: tangent point, degrees
    double enuLon = 0.0;
    double enuHeight = 0.0;  // Enu: ellipsoidal height of the tangent point
    bool known() const { return kind != Kind::Unknown; }
};

// Reads "ENU:lat,lon[,h]" (latitude first, |lat| <= 90, |lon| <= 180,
// |h| <= 10 km), or one geographic or projected CRS as an EPSG code, a WKT
// or a PROJ string. Empty text gives Unknown. Nothing is fetched or opened:
// URLs, file paths, grid or init files named by a path and PROJ pipelines
// are refused. Throws std::invalid_argument with the text and the reason for
// text that is none of these.
CoordinateSystem parseCoordinateSystem(const std::string& text);

// Turns network access of PROJ and GDAL off for the whole process (once, at
// the start, before any coordinate system is read).
void keepGdalOffline();

// The CRS of a WKT text (as a layer reports it); Unknown for empty text.
CoordinateSystem coordinateSystemFromWkt(const std::string& wkt);

// A short name for messages: the CRS's name, "ENU 30.6320,114.1270",
// or "unknown".
std::string shortName(const CoordinateSystem& system);

// True when both are known and the same system (OGRSpatialReference::IsSame
// for CRSs; the same tangent point for ENU frames).
bool sameSystem(const CoordinateSystem& a, const CoordinateSystem& b);

// The system of coordinates read in `system` once the zone prefix was taken
// off x: a projected CRS whose false easting carries the prefix loses it
// there. Other systems, and a false easting without the prefix (the data
// carried it on their own), come back unchanged. The configured offsets are
// corrections within the system and change nothing here.
CoordinateSystem strippedSystem(const CoordinateSystem& system, double zonePrefix);

}  // namespace vistrel
