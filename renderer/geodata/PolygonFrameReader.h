#pragma once

#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"

#include <string>
#include <vector>

namespace vistrel {

// Features the shapefile holds but the reader could not deliver.
struct FrameReadLoss {
    long long declared = 0;  // features the layers declare (where they tell)
    long long read = 0;  // features delivered, of any geometry
    long long unreadable = 0;  // features whose reading raised a GDAL error
    bool lost = false;  // some layer lost features
};

// Where the frames came from: the layer, its coordinate system and the
// zone prefix taken off x.
struct FrameSource {
    std::string layerName;
    std::string crsWkt;  // the layer's CRS as WKT; empty when it declares none
    double zonePrefix = 0.0;  // subtracted from x
};

// Reads every polygon and multipolygon feature of one layer of a vector
// source GDAL opens (shapefile, GeoPackage, GeoJSON, KML, file geodatabase):
// `layerName`, or by default the first layer holding polygons. Throws
// std::runtime_error when the named layer is missing. Each feature becomes
// a frame in scene coordinates: x loses the Gauss-Krüger zone prefix
// (configured, or detected from the first polygon when `gaussZonePrefix` is 0
// and `autoStripGaussZone` is set) and both axes get the configured offsets.
// Throws std::runtime_error("Failed to open SHP: " + path) when GDAL cannot
// open the file. GDAL's warnings go to the log; its errors, and a layer that
// lost features (with the counts, also kept in `loss`), go to the failure
// sink as they happen.
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
};

// The options a run's configuration gives.
FrameReadOptions frameReadOptions(const RenderConfig& config);

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
