#include "vector/PolygonFrameReader.h"

#include "vector/FrameReprojection.h"

#include "core/RunProtocol.h"
#include "core/Logger.h"
#include "core/NumberText.h"
#include "vector/GdalErrorCapture.h"
#include "vector/ShapeEncoding.h"

#include <cpl_conv.h>
#include <gdal.h>
#include <gdal_priv.h>
#include <ogr_feature.h>
#include <ogr_geometry.h>
#include <ogrsf_frmts.h>

#include <ogr_spatialref.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#ifndef VISTREL_GDAL_DATA_DIR
#define VISTREL_GDAL_DATA_DIR "/usr/share/gdal"
#endif
#ifndef VISTREL_PROJ_DATA_DIR
#define VISTREL_PROJ_DATA_DIR "/usr/share/proj"
#endif

namespace fs = std::filesystem;

namespace vistrel {

namespace {

struct FeatureDeleter {
    void operator()(OGRFeature* feature) const { OGRFeature::DestroyFeature(feature); }
};
using FeaturePtr = std::unique_ptr<OGRFeature, FeatureDeleter>;

std::map<std::string, std::string> readAttributes(OGRFeature& feature)
{
    std::map<std::string, std::string> attributes;
    const int count = feature.GetFieldCount();
    for (int i = 0; i < count; ++i) {
        const OGRFieldDefn* defn = feature.GetFieldDefnRef(i);
        if (!defn || !defn->GetNameRef() || !*defn->GetNameRef()) {
            continue;
        }
        if (!feature.IsFieldSetAndNotNull(i)) {
            continue;
        }
        const char* value = feature.GetFieldAsString(i);
        if (!value) {
            continue;
        }
        attributes[defn->GetNameRef()] = value;
    }
    return attributes;
}

std::vector<std::string> collectNameValues(OGRFeature& feature, const std::string& fieldName,
                                           const std::vector<std::string>& fieldNames)
{
    std::vector<std::string> names = fieldNames;
    if (names.empty() && !fieldName.empty()) {
        names.push_back(fieldName);
    }
    std::vector<std::string> values;
    for (const auto& name : names) {
        if (name.empty()) {
            continue;
        }
        const int index = feature.GetFieldIndex(name.c_str());
        if (index < 0 || !feature.IsFieldSetAndNotNull(index)) {
            continue;
        }
        const char* value = feature.GetFieldAsString(index);
        if (value && *value) {
            values.emplace_back(value);
        }
    }
    return values;
}

std::string joinNames(const std::vector<std::string>& values, const std::string& separator, int index)
{
    std::string name;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            name += separator;
        }
        name += values[i];
    }
    return name.empty() ? defaultFrameName(index) : name;
}

void appendRingPoints(std::vector<RingPoint>& points, const OGRLinearRing* ring, double dx, double dy)
{
    if (!ring) {
        return;
    }
    const int count = ring->getNumPoints();
    points.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
    for (int i = 0; i < count; ++i) {
        points.push_back({ring->getX(i) + dx, ring->getY(i) + dy});
    }
}

// Appends the polygon's exterior ring, then its holes.
void appendPolygonRings(PolygonFrame& frame, const OGRPolygon* polygon, double dx, double dy)
{
    if (!polygon) {
        return;
    }
    std::vector<RingPoint> points;
    appendRingPoints(points, polygon->getExteriorRing(), dx, dy);
    if (points.empty()) {
        return;
    }
    frame.rings.push_back(std::move(points));
    frame.ringIsHole.push_back(false);
    for (int i = 0; i < polygon->getNumInteriorRings(); ++i) {
        std::vector<RingPoint> hole;
        appendRingPoints(hole, polygon->getInteriorRing(i), dx, dy);
        if (!hole.empty()) {
            frame.rings.push_back(std::move(hole));
            frame.ringIsHole.push_back(true);
        }
    }
}

std::atomic<long long> gdalFailures{0};
std::atomic<VectorFailureSink> failureSink{nullptr};

void reportFailure(const std::string& reason)
{
    if (const VectorFailureSink sink = failureSink) {
        sink(reason);
    }
}

// GDAL can raise one message per feature or per point. Each kind of message
// (its text with the numbers left out) reaches the log kLinesPerKind times,
// and all of them together kMaxGdalLines times; the rest are counted, and
// flushGdalMessageCounts() gives one closing line per kind held back.
constexpr long long kLinesPerKind = 5;
constexpr long long kMaxGdalLines = 1000;
constexpr std::size_t kMaxKinds = 200;

struct HeldBack {
    std::string first;  // the first message of the kind
    bool error = false;
    long long logged = 0;
    long long held = 0;
};

struct MessageGate {
    std::mutex mutex;
    std::map<std::string, HeldBack> kinds;
    long long logged = 0;
};

MessageGate& messageGate()
{
    static MessageGate gate;
    return gate;
}

std::string messageKind(const std::string& text, bool error)
{
    std::string kind = error ? "E:" : "W:";
    for (const char c : text.substr(0, 200)) {
        const bool digit = c >= '0' && c <= '9';
        if (!digit || kind.back() != '#') {
            kind += digit ? '#' : c;
        }
    }
    return kind;
}

// True when the message goes to the log; else it is counted.
bool passGdalMessage(const std::string& text, bool error)
{
    MessageGate& gate = messageGate();
    const std::lock_guard<std::mutex> lock(gate.mutex);
    std::string kind = messageKind(text, error);
    if (gate.kinds.size() >= kMaxKinds && gate.kinds.count(kind) == 0) {
        kind = error ? "(other errors)" : "(other warnings)";
    }
    HeldBack& seen = gate.kinds[kind];
    if (seen.first.empty()) {
        seen.first = text;
        seen.error = error;
    }
    if (seen.logged < kLinesPerKind && gate.logged < kMaxGdalLines) {
        ++seen.logged;
        ++gate.logged;
        return true;
    }
    ++seen.held;
    return false;
}

void CPL_STDCALL routeGdalMessage(CPLErr level, CPLErrorNum, const char* message)
{
    const bool error = level == CE_Failure || level == CE_Fatal;
    if (level != CE_Warning && !error) {
        return;
    }
    if (error) {
        ++gdalFailures;
    }
    const std::string text = runMessage(RunMessage::GdalError, {message ? message : ""});
    if (!passGdalMessage(text, error)) {
        return;
    }
    if (error) {
        reportFailure(text);
    } else {
        Logger::instance().warn(text);
    }
}

std::string paddedCount(int value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d", value);
    return text;
}

// The polygons of a feature's geometry, linear, with the linear forms made
// of curved geometries (which the polygons may point into).
struct PolygonParts {
    std::vector<const OGRPolygon*> polygons;
    std::vector<std::unique_ptr<OGRGeometry>> owned;
};

// Adds the polygons `geometry` holds: itself when it is a polygon, its linear
// form when it is curved (a curve polygon, a multi-surface, a collection
// with curves), and the polygon members of collections at any depth. Empty
// polygons and members of other kinds add nothing.
void collectPolygons(const OGRGeometry& geometry, PolygonParts& parts)
{
    if (geometry.IsEmpty()) {
        return;
    }
    if (geometry.hasCurveGeometry()) {
        std::unique_ptr<OGRGeometry> linear(geometry.getLinearGeometry());
        if (linear && !linear->hasCurveGeometry()) {
            const OGRGeometry& made = *linear;
            parts.owned.push_back(std::move(linear));
            collectPolygons(made, parts);
        }
        return;
    }
    switch (wkbFlatten(geometry.getGeometryType())) {
    case wkbPolygon:
    case wkbTriangle: parts.polygons.push_back(geometry.toPolygon()); return;
    case wkbMultiPolygon:
    case wkbMultiSurface:
    case wkbGeometryCollection:
        for (const OGRGeometry* member : *geometry.toGeometryCollection()) {
            collectPolygons(*member, parts);
        }
        return;
    case wkbPolyhedralSurface:
    case wkbTIN:
        for (const OGRPolygon* member : *geometry.toPolyhedralSurface()) {
            collectPolygons(*member, parts);
        }
        return;
    default: return;
    }
}

bool isPolygonType(OGRwkbGeometryType type)
{
    const OGRwkbGeometryType flat = wkbFlatten(type);
    return flat == wkbPolygon || flat == wkbMultiPolygon || flat == wkbCurvePolygon || flat == wkbMultiSurface;
}

bool layerHoldsPolygon(OGRLayer& layer)
{
    layer.ResetReading();
    for (FeaturePtr feature(layer.GetNextFeature()); feature; feature.reset(layer.GetNextFeature())) {
        PolygonParts parts;
        if (const OGRGeometry* geometry = feature->GetGeometryRef()) {
            collectPolygons(*geometry, parts);
        }
        if (!parts.polygons.empty()) {
            return true;
        }
    }
    return false;
}

// The named layer, else the first that declares polygons, else the first
// of unknown type (or of collections) that holds one, else the first layer.
OGRLayer* chooseLayer(GDALDataset& dataset, const std::string& name, const std::string& path)
{
    if (!name.empty()) {
        OGRLayer* layer = dataset.GetLayerByName(name.c_str());
        if (!layer) {
            throw std::runtime_error("No layer named " + name + " in " + path);
        }
        return layer;
    }
    const int count = dataset.GetLayerCount();
    for (int i = 0; i < count; ++i) {
        OGRLayer* layer = dataset.GetLayer(i);
        if (layer && isPolygonType(layer->GetGeomType())) {
            return layer;
        }
    }
    for (int i = 0; i < count; ++i) {
        OGRLayer* layer = dataset.GetLayer(i);
        const OGRwkbGeometryType type = layer ? wkbFlatten(layer->GetGeomType()) : wkbNone;
        if ((type == wkbUnknown || type == wkbGeometryCollection) && layerHoldsPolygon(*layer)) {
            return layer;
        }
    }
    return count > 0 ? dataset.GetLayer(0) : nullptr;
}

std::string layerCrsWkt(OGRLayer& layer)
{
    const OGRSpatialReference* srs = layer.GetSpatialRef();
    if (!srs || srs->IsEmpty()) {
        return {};
    }
    char* wkt = nullptr;
    const char* const options[] = {"FORMAT=WKT2_2019", nullptr};
    srs->exportToWkt(&wkt, options);
    std::string text = wkt ? wkt : "";
    CPLFree(wkt);
    return text;
}

bool isShapefilePath(const std::string& path)
{
    std::string extension = fs::path(path).extension().string();
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension == ".shp";
}

}  // namespace

std::string layerGeometries(const FrameReadLoss& loss)
{
    std::string text;
    for (const auto& [name, count] : loss.geometries) {
        text += (text.empty() ? "" : ", ") + name + " ×" + std::to_string(count);
    }
    return text.empty() ? "no features" : text;
}

void setVectorFailureSink(VectorFailureSink sink)
{
    failureSink = sink;
}

void routeGdalMessages()
{
    CPLSetErrorHandler(routeGdalMessage);
}

void flushGdalMessageCounts()
{
    std::map<std::string, HeldBack> kinds;
    {
        MessageGate& gate = messageGate();
        const std::lock_guard<std::mutex> lock(gate.mutex);
        kinds.swap(gate.kinds);
        gate.logged = 0;
    }
    for (const auto& [kind, seen] : kinds) {
        if (seen.held == 0) {
            continue;
        }
        const std::string line = seen.first + " (and " + std::to_string(seen.held) + " more like it, not logged)";
        if (seen.error) {
            reportFailure(line);
        } else {
            Logger::instance().warn(line);
        }
    }
}

std::string defaultFrameName(int index)
{
    return "frame_" + paddedCount(index);
}

double detectGaussZonePrefix(double minX, double maxX)
{
    const double cx = (minX + maxX) * 0.5;
    if (!std::isfinite(cx)) {
        return 0.0;
    }
    const double a = std::fabs(cx);
    if (a < 10000000.0) {
        return 0.0;
    }
    const double t = std::floor(a / 1000000.0) * 1000000.0;
    if (t >= 10000000.0 && t <= 99000000.0 && a - t <= 1000000.0) {
        return cx < 0 ? -t : t;
    }
    return 0.0;
}

void setDataDirOption(const char* option, const std::string& relativeDir, const std::string& fallback)
{
    const fs::path candidate = fs::current_path() / relativeDir;
    std::error_code ec;
    const fs::file_status status = fs::status(candidate, ec);
    if (ec && status.type() != fs::file_type::not_found) {
        throw fs::filesystem_error("exists", candidate, ec);
    }
    CPLSetConfigOption(option, fs::exists(status) ? candidate.string().c_str() : fallback.c_str());
}

namespace {

// Opens a vector source with GDAL set up for this program: its data folders,
// UTF-8 file names and, for a shapefile that declares no encoding, the one
// its text is in. Throws std::runtime_error when GDAL cannot open it.
GDALDataset* openVectorSource(const std::string& path)
{
    routeGdalMessages();
    setDataDirOption("GDAL_DATA", "share/gdal", VISTREL_GDAL_DATA_DIR);
    setDataDirOption("PROJ_DATA", "share/proj", VISTREL_PROJ_DATA_DIR);
    GDALAllRegister();
    CPLSetConfigOption("GDAL_FILENAME_IS_UTF8", "YES");
    // A declared encoding (.cpg, language driver byte) is GDAL's to apply;
    // undeclared text is taken as UTF-8 when it is valid UTF-8, else GB18030.
    CPLSetConfigOption("SHAPE_ENCODING", nullptr);
    // Other sources declare their encoding themselves.
    const std::optional<std::string> encoding =
        isShapefilePath(path) ? undeclaredShapefileEncoding(path) : std::nullopt;
    const std::string encodingOption = "ENCODING=" + encoding.value_or("");
    const char* const openOptions[] = {encodingOption.c_str(), nullptr};
    auto* dataset = static_cast<GDALDataset*>(
        GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, nullptr, encoding ? openOptions : nullptr, nullptr));
    if (!dataset) {
        throw std::runtime_error("Failed to open SHP: " + path);
    }
    return dataset;
}

// Turns features into frames: the zone prefix and offsets, the names with
// their repeat suffixes, the rings, and the joint bounds.
struct FrameBuilder {
    FrameBuilder(const FrameReadOptions& readOptions, std::vector<PolygonFrame>& into)
        : options(readOptions), frames(into)
    {
    }

    const FrameReadOptions& options;
    std::vector<PolygonFrame>& frames;
    bool detectionPending = options.gaussZonePrefix == 0.0 && options.autoStripGaussZone;
    double prefix = options.gaussZonePrefix;
    bool offsetLogged = false;
    std::map<std::string, int> nameCounts;
    Extent2 bounds;

    void logOffsetOnce(double dx, double dy)
    {
        if (offsetLogged || (dx == 0.0 && dy == 0.0)) {
            return;
        }
        std::string line = "Applying SHP coordinate offset: x=" + coordinateNumber(dx) + ", y=" + coordinateNumber(dy);
        if (prefix != 0.0) {
            line += " (Gauss zone prefix " + coordinateNumber(prefix) + ")";
        }
        Logger::instance().info(line);
        offsetLogged = true;
    }

    void name(PolygonFrame& frame, OGRFeature& feature)
    {
        frame.attributes = readAttributes(feature);
        const std::vector<std::string> values = collectNameValues(feature, options.fieldName, options.fieldNames);
        frame.nameValues = values.empty() ? std::vector<std::string>{defaultFrameName(frame.index)} : values;
        frame.name = joinNames(values, options.fieldSeparator, frame.index);
        const int count = ++nameCounts[frame.name];
        frame.uniqueName = frame.name;
        if (count > 1) {
            const std::string suffix = "_" + paddedCount(count);
            frame.uniqueName += suffix;
            frame.nameValues.back() += suffix;
        }
    }

    void add(OGRFeature& feature, const std::vector<const OGRPolygon*>& polygons)
    {
        OGREnvelope envelope;
        for (const OGRPolygon* polygon : polygons) {
            OGREnvelope part;
            polygon->getEnvelope(&part);
            envelope.Merge(part);
        }
        if (detectionPending) {
            prefix = detectGaussZonePrefix(envelope.MinX, envelope.MaxX);
            detectionPending = false;
        }
        const double dx = options.offsetX - prefix;
        const double dy = options.offsetY;
        logOffsetOnce(dx, dy);

        PolygonFrame frame;
        frame.index = static_cast<std::int32_t>(frames.size() + 1);
        name(frame, feature);
        frame.minX = envelope.MinX + dx;
        frame.minY = envelope.MinY + dy;
        frame.maxX = envelope.MaxX + dx;
        frame.maxY = envelope.MaxY + dy;
        for (const OGRPolygon* polygon : polygons) {
            appendPolygonRings(frame, polygon, dx, dy);
        }
        bounds.add(frame.minX, frame.minY, frame.maxX, frame.maxY);
        frames.push_back(std::move(frame));
    }
};

// Why a feature whose geometry holds no polygon gives no frame.
std::string withoutPolygon(const OGRGeometry* geometry)
{
    if (!geometry) {
        return "no geometry";
    }
    const std::string name = geometry->getGeometryName();
    return geometry->IsEmpty() ? "empty " + name : name + ", not a polygon";
}

// Makes a frame of the feature when it holds a polygon; otherwise counts
// and names it in `tally`.
void takeFeature(OGRFeature& feature, FrameBuilder& builder, FrameReadLoss& tally)
{
    const OGRGeometry* geometry = feature.GetGeometryRef();
    ++tally.geometries[geometry ? geometry->getGeometryName() : "no geometry"];
    PolygonParts parts;
    if (geometry) {
        collectPolygons(*geometry, parts);
    }
    if (!parts.polygons.empty()) {
        builder.add(feature, parts.polygons);
        return;
    }
    ++tally.withoutFrame;
    if (tally.withoutFrameListed.size() < kListedWithoutFrame) {
        tally.withoutFrameListed.push_back({feature.GetFID(), withoutPolygon(geometry)});
    }
}

// Reads the polygon features of one layer; features lost on the way are
// reported and counted in `loss`, and features without a polygon counted
// and named there.
void readLayer(OGRLayer& layer, FrameBuilder& builder, const std::string& path, bool filtered, FrameReadLoss* loss)
{
    FrameReadLoss tally;
    layer.ResetReading();
    // A filtered layer counts the features that pass (deleted records never do).
    const GIntBig declared = layer.GetFeatureCount(filtered ? TRUE : FALSE);
    long long delivered = 0;
    long long unreadable = 0;
    for (;;) {
        // A feature whose reading raised an error lost its geometry or its
        // attributes, or ended the layer early.
        const long long failuresBefore = gdalFailures;
        FeaturePtr feature(layer.GetNextFeature());
        if (gdalFailures != failuresBefore) {
            ++unreadable;
        }
        if (!feature) {
            break;
        }
        ++delivered;
        takeFeature(*feature, builder, tally);
    }
    // Records marked deleted are counted by the layer but never delivered.
    const long long deleted = declared > delivered && !filtered ? deletedDbfRecords(path) : 0;
    const bool lost = unreadable > 0 || (declared >= 0 && declared - deleted > delivered);
    if (lost) {
        reportFailure(
            runMessage(RunMessage::LayerFeaturesLost, {layer.GetName(), path, std::to_string(declared),
                                                       std::to_string(delivered), std::to_string(unreadable)}));
    }
    if (loss) {
        loss->lost = loss->lost || lost;
        loss->declared += declared > deleted ? declared - deleted : 0;
        loss->read += delivered;
        loss->unreadable += unreadable;
        loss->withoutFrame += tally.withoutFrame;
        for (FeatureWithoutFrame& feature : tally.withoutFrameListed) {
            if (loss->withoutFrameListed.size() < kListedWithoutFrame) {
                loss->withoutFrameListed.push_back(std::move(feature));
            }
        }
        for (const auto& [name, count] : tally.geometries) {
            loss->geometries[name] += count;
        }
    }
}

// Lets only the features through that pass `where`; throws
// AttributeFilterError with GDAL's reason when the layer cannot take it.
void filterLayer(OGRLayer& layer, const std::string& where)
{
    OGRErr result = OGRERR_NONE;
    std::string reason;
    {
        const GdalErrorCapture capture;
        result = layer.SetAttributeFilter(where.c_str());
        reason = capture.firstError();
    }
    if (result != OGRERR_NONE) {
        throw AttributeFilterError(layer.GetName(), reason.empty() ? "OGR error " + std::to_string(result) : reason);
    }
    Logger::instance().info("Attribute filter (where): " + where);
}

}  // namespace

FrameReadOptions frameReadOptions(const RenderConfig& config)
{
    FrameReadOptions options;
    options.path = config.shp_path;
    options.layer = config.layer;
    options.fieldName = config.field_name;
    options.fieldNames = config.field_names;
    options.fieldSeparator = config.field_separator;
    options.offsetX = config.shp_offset_x;
    options.offsetY = config.shp_offset_y;
    options.gaussZonePrefix = config.gauss_zone_prefix;
    options.autoStripGaussZone = config.auto_strip_gauss_zone;
    options.where = config.where;
    return options;
}

std::vector<PolygonFrame> readPolygonFrames(const FrameReadOptions& options, FrameReadLoss* loss, FrameSource* source)
{
    GDALDataset* dataset = openVectorSource(options.path);
    struct DatasetCloser {
        GDALDataset* dataset;
        ~DatasetCloser() { GDALClose(dataset); }
    } closer{dataset};

    std::vector<PolygonFrame> frames;
    FrameBuilder builder(options, frames);
    OGRLayer* chosen = chooseLayer(*dataset, options.layer, options.path);
    if (chosen) {
        if (source) {
            source->layerName = chosen->GetName();
            source->crsWkt = layerCrsWkt(*chosen);
        }
        if (!options.where.empty()) {
            filterLayer(*chosen, options.where);
        }
        readLayer(*chosen, builder, options.path, !options.where.empty(), loss);
    }
    if (source) {
        source->zonePrefix = builder.prefix;
    }
    flushGdalMessageCounts();
    std::string summary = "Read " + std::to_string(frames.size()) + " polygon frames from " + options.path;
    if (!frames.empty()) {
        summary += ". Bounds=(" + coordinateNumber(builder.bounds.minX) + ", " + coordinateNumber(builder.bounds.minY) +
                   ") - (" + coordinateNumber(builder.bounds.maxX) + ", " + coordinateNumber(builder.bounds.maxY) + ")";
    }
    Logger::instance().info(summary);
    return frames;
}

}  // namespace vistrel
