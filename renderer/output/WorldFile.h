#pragma once

#include "output/WriteRequest.h"
#include "output/WriteResult.h"

#include <string>

namespace vistrel {

// World files are the companion files of the formats whose row names one
// (OutputFormat::worldFile): with world_file, a vertical picture gets the
// world file of its footprint beside it and, when its system is known, a
// .prj with the system's WKT. They are written only once the picture is in
// place, and removed before a new picture is written over an old one.

// The six lines of a world file: pixel size in x, two rotation terms, the
// negative pixel size in y, and the centre of the top-left pixel.
std::string worldFileText(const PictureFootprint& footprint);

// The world file beside the picture of `request`: its path with the
// extension its format's row names; empty when the format takes none.
std::string worldFilePath(const WriteRequest& request);

// Removes the world file and the .prj beside the picture of `request`, so
// that none is left describing a picture that is not (or not yet) there. Its
// folder is reached below `outputDir` without a symbolic link (and made, as
// for the picture); through a link, or when it cannot be made, nothing is
// removed.
void removeWorldFiles(const WriteRequest& request, const std::string& outputDir);

// Writes the world file of request.place beside the picture and, when its
// WKT is not empty, the .prj, each as a staged file, and only when their
// folder is reached below `outputDir` without a symbolic link (RefusedLink
// with the link's path otherwise). Written, with the world file's path, when
// all are in place, or with no path when the picture takes none (no place,
// or a format without world files); Failed with the file's path and the
// system's reason otherwise, and then neither file is left. Nothing is logged.
WriteResult writeWorldFiles(const WriteRequest& request, const std::string& outputDir);

}  // namespace vistrel
