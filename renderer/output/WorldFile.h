#pragma once

#include <string>
#include <vector>

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

// The six lines of a world file: pixel size in x, two rotation terms, the
// negative pixel size in y, and the centre of the top-left pixel.
std::string worldFileText(const PictureFootprint& footprint);

// ".pgw" for .png, ".jgw" for .jpg/.jpeg (any case); empty for other files.
std::string worldFileExtension(const std::string& imagePath);

// Writes the world file beside `imagePath` and, when `crsWkt` is not empty,
// the .prj with it, each as a staged file. Returns the paths written; throws
// std::runtime_error naming the file that could not be written.
std::vector<std::string> writeWorldFiles(const std::string& imagePath, const PictureFootprint& footprint,
                                         const std::string& crsWkt);

}  // namespace vistrel
