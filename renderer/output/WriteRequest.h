#pragma once

#include "core/ContentHash.h"
#include "core/OutputFormats.h"

#include <osg/Image>

#include <optional>
#include <string>

namespace vistrel {

// Where a vertical picture lies on the ground: the centre of its orthographic
// view volume, the volume's full width and height, and the picture's size in
// pixels. The picture's top row is north (+y), its left column west.
struct PictureFootprint {
    double centerX = 0.0;
    double centerY = 0.0;
    double width = 0.0;
    double height = 0.0;
    int pixelsX = 0;
    int pixelsY = 0;
};

// A vertical picture's footprint and the system it is given in (texts empty
// when the model's system is not known).
struct PicturePlace {
    PictureFootprint footprint;
    std::string crsWkt;  // the .prj text: ESRI's WKT
    // The system as a file stores it: the CRS's WKT, or a local engineering
    // system for an east-north-up model.
    std::string storedWkt;
};

// One picture for a writer: what it writes and where, and what the format's
// row says the writer needs (see WriterNeed); what it does not need is left
// at its default.
struct WriteRequest {
    const OutputFormat* format = nullptr;  // the row whose writer writes it
    const osg::Image* pixels = nullptr;  // the capture: RGBA, 8 bits per channel, bottom row first
    std::string path;  // the file, complete with its extension
    int dpi = 0;
    int quality = 0;  // 1 to 100
    bool lossless = false;  // pdf_lossless: no lossy compression of the picture
    // Given for a vertical picture with world_file, and always where the
    // format stores it in the file.
    std::optional<PicturePlace> place;
    bool worldFiles = false;  // world_file: a world file and .prj go beside the picture
};

// A format's writer: writes `request` to request.path so that the file
// appears only when complete (an earlier file there survives a failure).
// False with the system's reason in `reason` when it cannot; the written
// file's length and content hash go to `digest`. Nothing is logged.
using ImageWriterFunction = bool (*)(const WriteRequest& request, std::string& reason, FileDigest& digest);

}  // namespace vistrel
