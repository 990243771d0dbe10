#include "vector/CoordinateSystem.h"

#include "vector/GdalErrorCapture.h"

#include <cpl_conv.h>
#include <ogr_spatialref.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cctype>
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

// The tangent point of an ENU frame lies on the ground: within 10 km of the ellipsoid.
constexpr double kMaxEnuHeight = 10000.0;

// The text as messages show it: a whole WKT is too long for a line.
std::string shownText(const std::string& text)
{
    return text.size() > 160 ? text.substr(0, 160) + "..." : text;
}

CoordinateSystem parseEnu(const std::string& text)
{
    std::vector<double> numbers;
    const bool read = enuNumbers(text.substr(4), numbers);
    if (!read || numbers.size() < 2 || numbers.size() > 3 || std::fabs(numbers[0]) > 90.0 ||
        std::fabs(numbers[1]) > 180.0 || (numbers.size() == 3 && std::fabs(numbers[2]) > kMaxEnuHeight)) {
        throw std::invalid_argument("Bad ENU system \"" + shownText(text) +
                                    "\": expected ENU:latitude,longitude[,height] in degrees, latitude first "
                                    "(-90 to 90), longitude -180 to 180, height -10000 to 10000 m");
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

std::string lowered(const std::string& text)
{
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool looksLikePath(const std::string& text)
{
    const char first = text[0];
    const bool drive = text.size() > 2 && std::isalpha(static_cast<unsigned char>(first)) && text[1] == ':' &&
                       (text[2] == '\\' || text[2] == '/');
    return first == '/' || first == '\\' || first == '~' || text.rfind("./", 0) == 0 || text.rfind("../", 0) == 0 ||
           text.rfind("file:", 0) == 0 || drive;
}

// A grid, init or parameter file named by a path (PROJ would open it), or
// an init file other than PROJ's own EPSG and ESRI tables.
bool namesFileByPath(const std::string& lower)
{
    struct Key {
        const char* text;
        const char* ends;
    };
    for (const Key key : {Key{"grids=", " \t"}, Key{"init=", " \t"}, Key{"parameterfile[", "]"}}) {
        for (std::size_t at = lower.find(key.text); at != std::string::npos; at = lower.find(key.text, at + 1)) {
            const std::string value = lower.substr(at, lower.find_first_of(key.ends, at) - at);
            const bool ownTable = value.rfind("init=epsg:", 0) == 0 || value.rfind("init=esri:", 0) == 0;
            if (value.find_first_of("/\\") != std::string::npos || (key.text[0] == 'i' && !ownTable)) {
                return true;
            }
        }
    }
    return false;
}

// Why a text is refused before GDAL sees it: a coordinate system is given
// by its text, never by where to fetch or read it, and an operation is not
// a system. Empty when GDAL may read it.
std::string refusal(const std::string& text)
{
    const std::string lower = lowered(text);
    if (lower.find("://") != std::string::npos) {
        return "a URL is not read (nothing is fetched); give the system itself";
    }
    if (looksLikePath(text)) {
        return "a file path is not read (no file is opened); give the system itself";
    }
    if (lower.find("proj=pipeline") != std::string::npos || lower.find("+step") != std::string::npos ||
        text.find('|') != std::string::npos) {
        return "a PROJ pipeline is an operation, not a coordinate system";
    }
    if (namesFileByPath(lower)) {
        return "it names a grid or init file by a path (no file is opened)";
    }
    return {};
}

// The system GDAL reads from `text` without network or file access; why
// not, when it cannot or the text is no horizontal CRS.
std::string readCrs(const std::string& text, OGRSpatialReference& srs)
{
    GdalErrorCapture gdal;
    if (srs.SetFromUserInput(text.c_str(), OGRSpatialReference::SET_FROM_USER_INPUT_LIMITATIONS_get()) != OGRERR_NONE ||
        srs.IsEmpty()) {
        return gdal.firstError().empty() ? std::string("GDAL cannot read it") : "GDAL: " + gdal.firstError();
    }
    // Frames and pictures are placed by x and y: a CRS of the ground.
    if (!srs.IsProjected() && !srs.IsGeographic()) {
        return "it is not a geographic or projected CRS";
    }
    return {};
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
    std::string why = refusal(text);
    OGRSpatialReference srs;
    if (why.empty()) {
        why = readCrs(text, srs);
    }
    if (!why.empty()) {
        throw std::invalid_argument("Unknown coordinate system \"" + shownText(text) + "\" (" + why +
                                    "): expected EPSG:n, a WKT, a PROJ string or ENU:latitude,longitude[,height]");
    }
    CoordinateSystem system;
    system.kind = CoordinateSystem::Kind::Crs;
    system.text = text;
    system.wkt = wktOf(srs);
    return system;
}

void keepGdalOffline()
{
    // PROJ would fetch grids from its CDN, GDAL files through /vsicurl/ and
    // schemas of GML sources: a run reads only what lies on disk.
    setenv("PROJ_NETWORK", "OFF", 1);
    CPLSetConfigOption("PROJ_NETWORK", "OFF");
    OSRSetPROJEnableNetwork(FALSE);
    CPLSetConfigOption("CPL_VSIL_CURL_ALLOWED_EXTENSIONS", ".vistrel-offline");
    CPLSetConfigOption("GML_DOWNLOAD_WFS_SCHEMA", "NO");
    CPLSetConfigOption("GDAL_HTTP_MAX_RETRY", "0");
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
