#pragma once

#include "output/WriteResult.h"

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

// What goes beside a vertical picture with world_file: the world file of its
// footprint and, when `crsWkt` is not empty, a .prj with that text.
struct WorldFiles {
    PictureFootprint footprint;
    std::string crsWkt;
};

// The six lines of a world file: pixel size in x, two rotation terms, the
// negative pixel size in y, and the centre of the top-left pixel.
std::string worldFileText(const PictureFootprint& footprint);

// The extension of the world file beside `imagePath`: the one the row of the
// format its name names gives (".pgw" for .png); empty for other files.
std::string worldFileExtension(const std::string& imagePath);

// Removes the world file and the .prj beside the picture `imagePath`, so that
// none is left describing a picture that is not (or not yet) there. Its folder
// is reached below `outputDir` without a symbolic link (and made, as for the
// picture); through a link, or when it cannot be made, nothing is removed.
void removeWorldFiles(const std::string& imagePath, const std::string& outputDir);

// Writes the world file beside the picture `imagePath` and, when
// `files.crsWkt` is not empty, the .prj, each as a staged file, and only when
// their folder is reached below `outputDir` without a symbolic link
// (RefusedLink with the link's path otherwise). Written, with the world
// file's path, when all are in place or the picture takes none (neither PNG
// nor JPEG); Failed with the file's path and the system's reason otherwise,
// and then neither file is left. Nothing is logged.
WriteResult writeWorldFiles(const std::string& imagePath, const WorldFiles& files, const std::string& outputDir);

}  // namespace vistrel
