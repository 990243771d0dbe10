#include "OriginFiles.h"

#include "core/DsmOrigin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <stdexcept>

namespace samplecity {

namespace {

void writeBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void appendLittleEndian(std::string& bytes, std::uint64_t bits, int count)
{
    for (int k = 0; k < count; ++k) {
        bytes.push_back(static_cast<char>((bits >> (8 * k)) & 0xFFu));
    }
}

void appendDouble(std::string& bytes, double value)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    appendLittleEndian(bytes, bits, 8);
}

void appendFloat(std::string& bytes, float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    appendLittleEndian(bytes, bits, 4);
}

// Highest surface over a point of the layout; -9999 where there is none.
float topSurface(const CityLayout& city, double x, double y)
{
    double top = city.groundCovers(x, y) ? city.groundZ(x, y) : -9999.0;
    for (const Building& b : city.buildings) {
        for (const Rect& r : roofRects(b)) {
            if (r.contains(x, y)) {
                top = std::max(top, roofZ(city, b));
            }
        }
    }
    return static_cast<float>(top);
}

}  // namespace

void writeMetadataXml(const CityLayout& city, const std::filesystem::path& path)
{
    std::ostringstream xml;
    xml << std::setprecision(15);
    xml << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        << "<ModelMetadata version=\"1\">\n"
        << "\t<!--Spatial Reference System-->\n"
        << "\t<SRS>" << city.srs << "</SRS>\n"
        << "\t<!--Origin in Spatial Reference System-->\n"
        << "\t<SRSOrigin>" << city.origin[0] << "," << city.origin[1] << "," << city.origin[2] << "</SRSOrigin>\n"
        << "\t<Texture>\n"
        << "\t\t<ColorSource>Visible</ColorSource>\n"
        << "\t</Texture>\n"
        << "</ModelMetadata>\n";
    writeBytes(path, xml.str());
}

DsmLayout writeDsmOrigin(const CityLayout& city, const std::filesystem::path& path)
{
    DsmLayout layout;
    layout.decoyX = 498765.25;  // the survey's control point, well away from the model
    layout.decoyY = 3381234.5;

    const int cells = static_cast<int>(std::lround(city.tilesX * city.tileSize / 10.0));
    const double cellSize = 10.0;
    std::string bytes("DSMGRID", 8);  // magic with its terminating zero
    appendLittleEndian(bytes, 3, 4);  // version
    appendLittleEndian(bytes, static_cast<std::uint64_t>(cells), 4);
    appendLittleEndian(bytes, static_cast<std::uint64_t>(cells), 4);
    appendLittleEndian(bytes, 0, 4);  // padding to 8 bytes
    appendDouble(bytes, cellSize);
    appendDouble(bytes, layout.decoyX);
    appendDouble(bytes, layout.decoyY);
    for (int row = 0; row < cells; ++row) {
        for (int col = 0; col < cells; ++col) {
            appendFloat(bytes, topSurface(city, (col + 0.5) * cellSize, (row + 0.5) * cellSize));
        }
    }
    appendDouble(bytes, city.origin[0]);
    appendDouble(bytes, city.origin[1]);
    appendDouble(bytes, city.origin[2]);
    bytes.append("DSMEND\0\0", 8);

    const std::optional<ScannedPosition> found = lastPositionWindow(bytes);
    if (!found || found->x != city.origin[0] || found->y != city.origin[1]) {
        throw std::runtime_error("the DSM origin file would not yield the model origin");
    }
    writeBytes(path, bytes);
    return layout;
}

std::optional<ScannedPosition> lastPositionWindow(const std::string& bytes)
{
    // The renderer's own rule, so that the file is checked the way it is read.
    const auto found = vistrel::dsmOrigin(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    if (!found) {
        return std::nullopt;
    }
    return ScannedPosition{found->x, found->y};
}

}  // namespace samplecity
