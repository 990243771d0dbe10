#include "geodata/CoordinateSystem.h"

#include <ogr_spatialref.h>
#include <ogr_srs_api.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace vistrel {

namespace {

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool startsWithEnu(const std::string& text)
{
    return text.size() >= 4 && (text[0] == 'E' || text[0] == 'e') && (text[1] == 'N' || text[1] == 'n') &&
           (text[2] == 'U' || text[2] == 'u') && text[3] == ':';
}

// The comma-separated numbers after "ENU:"; nothing when one is not a number.
bool enuNumbers(const std::string& list, std::vector<double>& numbers)
{
    std::size_t pos = 0;
    while (pos <= list.size()) {
        const std::size_t comma = std::min(list.find(',', pos), list.size());
        const std::string item = trimmed(list.substr(pos, comma - pos));
        char* end = nullptr;
        const double value = item.empty() ? NAN : std::strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0' || !std::isfinite(value)) {
            return false;
        }
        numbers.push_back(value);
        pos = comma + 1;
    }
    return true;
}

CoordinateSystem parseEnu(const std::string& text)
{
    std::vector<double> numbers;
    const bool read = enuNumbers(text.substr(4), numbers);
    if (!read || numbers.size() < 2 || numbers.size() > 3 || std::fabs(numbers[0]) > 90.0 ||
        std::fabs(numbers[1]) > 180.0) {
        throw std::invalid_argument("Bad ENU system \"" + text +
                                    "\": expected ENU:latitude,longitude[,height] in degrees, latitude first "
                                    "(-90 to 90), longitude -180 to 180");
    }
    CoordinateSystem system;
    system.kind = CoordinateSystem::Kind::Enu;
    system.text = text;
    system.enuLat = numbers[0];
    system.enuLon = numbers[1];
    system.enuHeight = numbers.size() == 3 ? numbers[2] : 0.0;
    return system;
}

std::string wktOf(const OGRSpatialReference& srs)
{
    char* wkt = nullptr;
    const char* const options[] = {"FORMAT=WKT2_2019", nullptr};
    srs.exportToWkt(&wkt, options);
    std::string text = wkt ? wkt : "";
    CPLFree(wkt);
    return text;
}

bool importWkt(const CoordinateSystem& system, OGRSpatialReference& srs)
{
    return system.kind == CoordinateSystem::Kind::Crs && srs.importFromWkt(system.wkt.c_str()) == OGRERR_NONE;
}

}  // namespace

CoordinateSystem parseCoordinateSystem(const std::string& textIn)
{
    const std::string text = trimmed(textIn);
    if (text.empty()) {
        return {};
    }
    if (startsWithEnu(text)) {
        return parseEnu(text);
    }
    OGRSpatialReference srs;
    if (srs.SetFromUserInput(text.c_str()) != OGRERR_NONE || srs.IsEmpty()) {
        throw std::invalid_argument("Unknown coordinate system \"" + text +
                                    "\": expected EPSG:n, a WKT, a PROJ string or ENU:latitude,longitude[,height]");
    }
    CoordinateSystem system;
    system.kind = CoordinateSystem::Kind::Crs;
    system.text = text;
    system.wkt = wktOf(srs);
    return system;
}

CoordinateSystem coordinateSystemFromWkt(const std::string& wkt)
{
    if (wkt.empty()) {
        return {};
    }
    CoordinateSystem system;
    system.kind = CoordinateSystem::Kind::Crs;
    system.text = wkt;
    system.wkt = wkt;
    return system;
}

std::string shortName(const CoordinateSystem& system)
{
    if (system.kind == CoordinateSystem::Kind::Enu) {
        char text[96];
        std::snprintf(text, sizeof text, "ENU %.6f,%.6f", system.enuLat, system.enuLon);
        return text;
    }
    OGRSpatialReference srs;
    if (!importWkt(system, srs)) {
        return "unknown";
    }
    const char* name = srs.GetName();
    return name && *name ? name : system.text;
}

bool sameSystem(const CoordinateSystem& a, const CoordinateSystem& b)
{
    if (a.kind == CoordinateSystem::Kind::Enu && b.kind == CoordinateSystem::Kind::Enu) {
        return a.enuLat == b.enuLat && a.enuLon == b.enuLon && a.enuHeight == b.enuHeight;
    }
    OGRSpatialReference sa;
    OGRSpatialReference sb;
    return importWkt(a, sa) && importWkt(b, sb) && sa.IsSame(&sb);
}

CoordinateSystem strippedSystem(const CoordinateSystem& system, double zonePrefix)
{
    OGRSpatialReference srs;
    if (zonePrefix == 0.0 || !importWkt(system, srs) || !srs.IsProjected()) {
        return system;
    }
    const double falseEasting = srs.GetNormProjParm(SRS_PP_FALSE_EASTING, 0.0);
    if (std::fabs(falseEasting) < std::fabs(zonePrefix)) {
        return system;
    }
    srs.SetNormProjParm(SRS_PP_FALSE_EASTING, falseEasting - zonePrefix);
    CoordinateSystem stripped = system;
    stripped.wkt = wktOf(srs);
    return stripped;
}

}  // namespace vistrel
