#pragma once

#include "output/WriteRequest.h"

namespace vistrel {

// The writer of the jpg format: an upright baseline JPEG with the request's
// quality and DPI (see encodeJpeg); OpenSceneGraph's JPEG plug-in, at the
// same quality, gets a last try with a layout the encoder does not take. An
// ImageWriterFunction.
bool writeJpeg(const WriteRequest& request, std::string& reason, FileDigest& digest);

}  // namespace vistrel
