#pragma once

#include "output/WriteRequest.h"

namespace vistrel {

// The writer of the png format: an upright 8-bit RGB PNG with the request's
// DPI (see encodePng); OpenSceneGraph's PNG plug-in gets a last try with a
// layout the encoder does not take. An ImageWriterFunction.
bool writePng(const WriteRequest& request, std::string& reason, FileDigest& digest);

}  // namespace vistrel
