#pragma once

#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"

#include <cstddef>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vistrel {

// A feature that was read but gave no frame, and why.
struct FeatureWithoutFrame {
    long long fid = -1;  // GDAL's feature id (-1: the source gives none)
    std::string why;  // "POINT, not a polygon", "empty POLYGON", "no geometry"
};

// What of the layer did not become frames: features the reader could not
// deliver, and delivered features that hold no polygon.
struct FrameReadLoss {
    long long declared = 0;  // features the layers declare (where they tell)
    long long read = 0;  // features delivered, of any geometry
    long long unreadable = 0;  // features whose reading raised a GDAL error
    bool lost = false;  // some layer lost features
    long long withoutFrame = 0;  // features delivered that gave no frame
    std::vector<FeatureWithoutFrame> withoutFrameListed;  // the first kListedWithoutFrame of them
    std::map<std::string, long long> geometries;  // features delivered by geometry name; "no geometry"
};

// How many features without a frame FrameReadLoss names one by one.
inline constexpr std::size_t kListedWithoutFrame = 1000;

// The geometries the layer held, e.g. "POINT ×3, LINESTRING ×1", or
// "no features".
std::string layerGeometries(const FrameReadLoss& loss);

// Where the frames came from: the layer, its coordinate system and the
// zone prefix taken off x.
struct FrameSource {
    std::string layerName;
    std::string crsWkt;  // the layer's CRS as WKT; empty when it declares none
    double zonePrefix = 0.0;  // subtracted from x
};

// What to read and how to name and place the frames.
struct FrameReadOptions {
    std::string path;  // the vector source
    std::string layer;  // empty: the first layer holding polygons
    std::string fieldName;  // used when fieldNames is empty
    std::vector<std::string> fieldNames;  // the fields that name a frame
    std::string fieldSeparator = "_";
    double offsetX = 0.0;
    double offsetY = 0.0;
    double gaussZonePrefix = 0.0;  // 0: detected when autoStripGaussZone
    bool autoStripGaussZone = true;
    std::string where;  // OGR SQL attribute filter; empty: every feature
};

// An attribute filter (FrameReadOptions::where) the layer cannot take.
class AttributeFilterError : public std::invalid_argument {
public:
    AttributeFilterError(std::string layer, const std::string& reason)
        : std::invalid_argument(reason), layer_(std::move(layer))
    {
    }
    const std::string& layer() const { return layer_; }

private:
    std::string layer_;
};

// The options a run's configuration gives.
FrameReadOptions frameReadOptions(const RenderConfig& config);

// Reads every feature that holds a polygon from one layer of a vector
// source GDAL opens (shapefile, GeoPackage, GeoJSON, KML, file geodatabase):
// options.layer, or by default the first layer holding polygons, with only
// the features that pass options.where. A feature's polygons are its polygon
// or multipolygon, its curve polygons and multi-surfaces made linear, and the
// polygon members of its geometry collections; a feature without one (a
// point, a line, an empty or missing geometry) gives no frame and is named in
// `loss`. Each other feature becomes a frame in scene coordinates: x loses
// the Gauss-Krüger zone prefix (configured, or detected from the first
// polygon when gaussZonePrefix is 0 and autoStripGaussZone is set) and both
// axes get the configured offsets. GDAL's warnings go to the log; its errors,
// and a layer that lost features (with the counts, also kept in `loss`), go
// to the failure sink as they happen. Throws std::runtime_error("Failed to
// open SHP: " + path) when GDAL cannot open the source, std::runtime_error
// when the named layer is missing, and AttributeFilterError when the layer
// cannot take options.where.
std::vector<PolygonFrame> readPolygonFrames(const FrameReadOptions& options, FrameReadLoss* loss = nullptr,
                                            FrameSource* source = nullptr);

// Where failures met in reading vector data go, as they happen, each as its
// English reason: GDAL's errors (raised while frames are read, and later,
// by reprojection for one) and a layer that lost features. The run sends
// them to the log; with no sink they are only counted.
using VectorFailureSink = void (*)(const std::string& reason);
void setVectorFailureSink(VectorFailureSink sink);

// Takes GDAL's messages (installed by readPolygonFrames): warnings go to the
// log, errors to the failure sink, each kind of message (its text without
// the numbers) five times at most and a thousand messages in all; the rest
// are only counted (errors still count as failures).
void routeGdalMessages();
// One line per kind of message held back since the last call, with the
// count ("… (and n more like it, not logged)"); readPolygonFrames calls it
// once it has read, the run at its end.
void flushGdalMessageCounts();

// The zone prefix implied by an x range: whole millions between 10 and 99
// million when the centre lies within a million above them; 0 otherwise.
double detectGaussZonePrefix(double minX, double maxX);

// "frame_" + index padded to four digits.
std::string defaultFrameName(int index);

// Sets a GDAL option to <cwd>/<relativeDir> when it exists, else to `fallback`.
void setDataDirOption(const char* option, const std::string& relativeDir, const std::string& fallback);

}  // namespace vistrel
