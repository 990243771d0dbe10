#pragma once

#include "core/RenderConfig.h"

#include <cstddef>
#include <string>
#include <vector>

namespace vistrel {

// The key of the outline image: the vertical view with the frame's outline
// drawn on the model, made after "top" when output_top_range is set. Its
// results, journal lines, thumbnails and names go by this key.
inline constexpr const char* kOutlineImageKey = "top_range";

// The key of a frame's dossier sheet (dossier) in its results and in the
// journal: it is journaled and taken over as an image is.
inline constexpr const char* kDossierKey = "dossier";
// A sheet's file name ends so (the log's "Wrote " and "Resumed " lines tell
// sheets from images by it); the run's book is 照片册.pdf (of a shard
// 照片册.shard-<k>-of-<n>.pdf) in the output folder.
inline constexpr const char* kSheetFileSuffix = "_照片.pdf";
inline constexpr const char* kBookFileStem = "照片册";

// One image every frame of a run has.
struct PlannedImage {
    std::string key;  // the angle, or kOutlineImageKey for the outline image
    std::size_t angleIndex = 0;  // the configured angle it is drawn for
    bool outline = false;  // the outline image of that angle
};

// True when the images of `angle` include the outline image.
bool hasOutlineImage(const std::string& angle, bool outputTopRange);
// True when a run with these angles writes outline images.
bool writesOutlineImages(const std::vector<std::string>& angles, bool outputTopRange);

// The images of every frame, in the order they are named, made, counted and
// reported: each configured angle (a repeated one once per entry) and, with
// output_top_range, the outline image right after "top".
std::vector<PlannedImage> frameImages(const RenderConfig& config);

}  // namespace vistrel
