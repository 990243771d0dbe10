#include "core/PlanProtocol.h"

#include "core/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace vistrel {

namespace {

// Decimals of model coordinates (millimetres) and of the parcels' own
// numbers (which may be degrees).
constexpr int kModelDecimals = 3;
constexpr int kSourceDecimals = 8;

constexpr const char* kOverlapWords[] = {"over", "partly", "outside", "unusable"};
constexpr const char* kSystemsWords[] = {"same", "transformed", "kept", "unknown"};

std::string extentText(const PlanExtent& extent, int decimals, const char* separator)
{
    return plainNumber(extent.x0, decimals) + separator + plainNumber(extent.y0, decimals) + separator +
           plainNumber(extent.x1, decimals) + separator + plainNumber(extent.y1, decimals);
}

bool toInt(std::string_view text, int& value)
{
    if (text.empty()) {
        return false;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool toDouble(std::string_view text, double& value)
{
    if (text.empty()) {
        return false;
    }
    const std::string copy(text);
    char* end = nullptr;
    value = std::strtod(copy.c_str(), &end);
    return end == copy.c_str() + copy.size() && std::isfinite(value);
}

bool takeLiteral(std::string_view& rest, std::string_view literal)
{
    if (rest.substr(0, literal.size()) != literal) {
        return false;
    }
    rest.remove_prefix(literal.size());
    return true;
}

// The text up to `stop` (which is passed over); false when `stop` is missing.
bool takeUpTo(std::string_view& rest, std::string_view stop, std::string_view& value)
{
    const std::size_t at = rest.find(stop);
    if (at == std::string_view::npos) {
        return false;
    }
    value = rest.substr(0, at);
    rest.remove_prefix(at + stop.size());
    return true;
}

bool takeIntUpTo(std::string_view& rest, std::string_view stop, int& value)
{
    std::string_view text;
    return takeUpTo(rest, stop, text) && toInt(text, value);
}

// Numbers separated by `separator`, exactly `count` of them when count > 0.
bool toNumbers(std::string_view text, char separator, std::vector<double>& numbers, std::size_t count = 0)
{
    numbers.clear();
    while (!text.empty()) {
        const std::size_t end = text.find(separator);
        double value = 0.0;
        if (!toDouble(text.substr(0, end), value)) {
            return false;
        }
        numbers.push_back(value);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (end != std::string_view::npos && text.empty()) {
            return false;
        }
    }
    return count == 0 || numbers.size() == count;
}

bool toExtent(std::string_view text, char separator, PlanExtent& extent)
{
    std::vector<double> numbers;
    if (!toNumbers(text, separator, numbers, 4)) {
        return false;
    }
    extent = PlanExtent{numbers[0], numbers[1], numbers[2], numbers[3]};
    return true;
}

template <typename Enum, std::size_t N>
bool toWord(std::string_view text, const char* const (&words)[N], Enum& value)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (text == words[i]) {
            value = static_cast<Enum>(i);
            return true;
        }
    }
    return false;
}

// "outer x y x y …" or "hole x y …".
bool toRing(std::string_view text, PlanRing& ring)
{
    ring.hole = takeLiteral(text, "hole ");
    if (!ring.hole && !takeLiteral(text, "outer ")) {
        return false;
    }
    std::vector<double> numbers;
    if (!toNumbers(text, ' ', numbers) || numbers.empty() || numbers.size() % 2 != 0) {
        return false;
    }
    ring.points.clear();
    for (std::size_t i = 0; i < numbers.size(); i += 2) {
        ring.points.push_back(RingPoint{numbers[i], numbers[i + 1]});
    }
    return true;
}

}  // namespace

const char* planOverlapWord(PlanOverlap overlap)
{
    return kOverlapWords[static_cast<int>(overlap)];
}

const char* planSystemsWord(PlanSystems systems)
{
    return kSystemsWords[static_cast<int>(systems)];
}

std::string formatLine(const PlanTile& line)
{
    std::string text = (line.tilesInCell > 0 ? "Plan cell " : "Plan tile ") + std::to_string(line.tile) + "/" +
                       std::to_string(line.totalTiles);
    if (line.tilesInCell > 0) {
        text += " (" + std::to_string(line.tilesInCell) + " tiles)";
    }
    return text + ": " + extentText(line.footprint, kModelDecimals, " ");
}

std::string formatLine(const PlanTileCells& line)
{
    return "Plan tiles: " + std::to_string(line.tiles) + " root tiles, more than " + std::to_string(kPlanTileLineCap) +
           " lines; " + std::to_string(line.cells) + " grid cells follow";
}

std::string formatLine(const PlanFrame& line)
{
    std::string text = "Plan frame " + std::to_string(line.frame) + "/" + std::to_string(line.totalFrames) + " " +
                       planOverlapWord(line.overlap) + " (" + std::to_string(line.rings.size()) +
                       " rings): " + line.name;
    for (const PlanRing& ring : line.rings) {
        text += ring.hole ? " | hole" : " | outer";
        for (const RingPoint& point : ring.points) {
            text += " " + plainNumber(point.x, kModelDecimals) + " " + plainNumber(point.y, kModelDecimals);
        }
    }
    return text;
}

std::string formatLine(const PlanSummary& line)
{
    const auto count = [](const char* key, int value) { return std::string(key) + "=" + std::to_string(value) + " "; };
    return "Plan summary: " + count("frames", line.frames) + count("over", line.over) + count("partly", line.partly) +
           count("outside", line.outside) + count("unusable", line.unusable) +
           count("images_planned", line.imagesPlanned) + count("taken_over", line.imagesTakenOver) +
           count("to_render", line.imagesToRender) +
           "estimated_seconds=" + (line.estimatedSeconds < 0.0 ? "-1" : plainNumber(line.estimatedSeconds, 1)) +
           " model_extent=" + extentText(line.modelExtent, kModelDecimals, ",") +
           " parcels_extent=" + extentText(line.parcelsExtent, kSourceDecimals, ",") +
           " systems=" + planSystemsWord(line.systems) + " from=" + line.from + " to=" + line.to + " why=" + line.why;
}

std::optional<PlanTile> parsePlanTile(std::string_view message)
{
    PlanTile line;
    std::string_view rest = message;
    const bool cell = takeLiteral(rest, "Plan cell ");
    if (!cell && !takeLiteral(rest, "Plan tile ")) {
        return std::nullopt;
    }
    if (!takeIntUpTo(rest, "/", line.tile) || !takeIntUpTo(rest, cell ? " (" : ": ", line.totalTiles)) {
        return std::nullopt;
    }
    if (cell && (!takeIntUpTo(rest, " tiles): ", line.tilesInCell) || line.tilesInCell <= 0)) {
        return std::nullopt;
    }
    if (!toExtent(rest, ' ', line.footprint)) {
        return std::nullopt;
    }
    return line;
}

std::optional<PlanTileCells> parsePlanTileCells(std::string_view message)
{
    PlanTileCells line;
    std::string_view rest = message;
    std::string_view cap;
    if (!takeLiteral(rest, "Plan tiles: ") || !takeIntUpTo(rest, " root tiles, more than ", line.tiles) ||
        !takeUpTo(rest, " lines; ", cap) || !takeIntUpTo(rest, " grid cells follow", line.cells) || !rest.empty()) {
        return std::nullopt;
    }
    return line;
}

std::optional<PlanFrame> parsePlanFrame(std::string_view message)
{
    PlanFrame line;
    std::string_view rest = message;
    std::string_view word;
    int rings = 0;
    if (!takeLiteral(rest, "Plan frame ") || !takeIntUpTo(rest, "/", line.frame) ||
        !takeIntUpTo(rest, " ", line.totalFrames) || !takeUpTo(rest, " (", word) ||
        !toWord(word, kOverlapWords, line.overlap) || !takeIntUpTo(rest, " rings): ", rings) || rings < 0) {
        return std::nullopt;
    }
    // The rings hold no " | "; the name before them may.
    std::vector<std::string_view> parts;
    for (int i = 0; i < rings; ++i) {
        const std::size_t at = rest.rfind(" | ");
        if (at == std::string_view::npos) {
            return std::nullopt;
        }
        parts.insert(parts.begin(), rest.substr(at + 3));
        rest = rest.substr(0, at);
    }
    line.name = std::string(rest);
    for (const std::string_view part : parts) {
        PlanRing ring;
        if (!toRing(part, ring)) {
            return std::nullopt;
        }
        line.rings.push_back(std::move(ring));
    }
    return line;
}

namespace {

bool takeSummaryCounts(std::string_view& rest, PlanSummary& line)
{
    const auto count = [&rest](const char* key, int& value) {
        return takeLiteral(rest, key) && takeLiteral(rest, "=") && takeIntUpTo(rest, " ", value);
    };
    return count("frames", line.frames) && count("over", line.over) && count("partly", line.partly) &&
           count("outside", line.outside) && count("unusable", line.unusable) &&
           count("images_planned", line.imagesPlanned) && count("taken_over", line.imagesTakenOver) &&
           count("to_render", line.imagesToRender);
}

}  // namespace

std::optional<PlanSummary> parsePlanSummary(std::string_view message)
{
    PlanSummary line;
    std::string_view rest = message;
    std::string_view seconds;
    std::string_view model;
    std::string_view parcels;
    std::string_view systems;
    std::string_view from;
    std::string_view to;
    if (!takeLiteral(rest, "Plan summary: ") || !takeSummaryCounts(rest, line) ||
        !takeLiteral(rest, "estimated_seconds=") || !takeUpTo(rest, " model_extent=", seconds) ||
        !toDouble(seconds, line.estimatedSeconds) || !takeUpTo(rest, " parcels_extent=", model) ||
        !toExtent(model, ',', line.modelExtent) || !takeUpTo(rest, " systems=", parcels) ||
        !toExtent(parcels, ',', line.parcelsExtent) || !takeUpTo(rest, " from=", systems) ||
        !toWord(systems, kSystemsWords, line.systems) || !takeUpTo(rest, " to=", from) ||
        !takeUpTo(rest, " why=", to)) {
        return std::nullopt;
    }
    line.from = std::string(from);
    line.to = std::string(to);
    line.why = std::string(rest);
    return line;
}

namespace {

// Twice the area of the triangle a b c.
double triangleArea(const RingPoint& a, const RingPoint& b, const RingPoint& c)
{
    return std::abs((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y));
}

// Every `step`-th point, so that the area-driven pass below stays quick on
// rings of many thousand points.
std::vector<RingPoint> thinned(const std::vector<RingPoint>& ring, std::size_t limit)
{
    if (ring.size() <= limit) {
        return ring;
    }
    const std::size_t step = (ring.size() + limit - 1) / limit;
    std::vector<RingPoint> points;
    for (std::size_t i = 0; i < ring.size(); i += step) {
        points.push_back(ring[i]);
    }
    return points;
}

}  // namespace

std::vector<RingPoint> simplifiedRing(const std::vector<RingPoint>& ring, std::size_t maxPoints)
{
    const bool closed = ring.size() > 1 && ring.front().x == ring.back().x && ring.front().y == ring.back().y;
    std::vector<RingPoint> points(ring.begin(), closed ? ring.end() - 1 : ring.end());
    const std::size_t keep = closed ? maxPoints - 1 : maxPoints;
    if (maxPoints < 4 || points.size() <= keep) {
        return ring.size() <= maxPoints ? ring : thinned(ring, maxPoints);
    }
    points = thinned(points, 16 * keep);
    while (points.size() > keep) {
        // The first point stays, so that a closed ring still ends on it.
        std::size_t weakest = 1;
        double smallest = std::numeric_limits<double>::max();
        for (std::size_t i = 1; i < points.size(); ++i) {
            const double area = triangleArea(points[i - 1], points[i], points[(i + 1) % points.size()]);
            if (area < smallest) {
                smallest = area;
                weakest = i;
            }
        }
        points.erase(points.begin() + static_cast<std::ptrdiff_t>(weakest));
    }
    if (closed) {
        points.push_back(points.front());
    }
    return points;
}

}  // namespace vistrel
