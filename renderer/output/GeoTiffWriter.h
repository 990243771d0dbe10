#pragma once

#include "output/WriteRequest.h"

#include <string>

namespace vistrel {

// The writer of the tif format, through GDAL. A vertical picture (one with a
// place) becomes a Cloud-Optimized GeoTIFF: JPEG-compressed at the request's
// quality, with overviews, the footprint's geotransform and the stored system
// embedded, so GIS programs open it in place without a world file. Other
// views become a plain Deflate-compressed TIFF. Both keep the DPI and drop
// alpha. The file appears only when complete. False for a missing or empty
// picture (no reason then) or when GDAL or the disk fails. An
// ImageWriterFunction.
bool writeGeoTiff(const WriteRequest& request, std::string& reason, FileDigest& digest);

// The geotransform of a footprint: the top-left corner of the top-left pixel
// and the pixel size (north up, no rotation), as GDAL orders it.
void footprintGeoTransform(const PictureFootprint& footprint, double transform[6]);

}  // namespace vistrel
