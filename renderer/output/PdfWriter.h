#pragma once

#include "output/WriteRequest.h"

#include <string>

namespace vistrel {

// The writer of the pdf format: the request's capture (8-bit RGBA or RGB,
// bottom row first) as a one-page PDF whose page is the picture's printed
// size at the request's DPI (1 when below 1) and shows it upright over the
// whole page, alpha dropped. The picture is embedded as a JPEG at the
// request's quality, or Flate-compressed without loss when the request asks
// for it. Made with cairo's PDF surface, without a creation date, so that the
// same picture gives the same bytes. The file appears only when every byte
// was written. False for a missing or empty picture (no reason then) or a
// write error. An ImageWriterFunction.
bool writePdf(const WriteRequest& request, std::string& reason, FileDigest& digest);

}  // namespace vistrel
