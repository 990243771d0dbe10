#pragma once

#include "core/ContentHash.h"

#include <osg/Image>
#include <osg/ref_ptr>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vistrel {

// A parcel's dossier sheet: A4 portrait pages (595 x 842 pt) with a title,
// a table of the parcel's attributes, its vertical picture large and its
// other views in a grid, each labelled, pages added while views are left.

// The resolution the sheet's pictures are printed at.
inline constexpr int kSheetDpi = 300;

// One picture of a sheet.
struct SheetPicture {
    std::string label;  // the view's name, e.g. 正射
    osg::ref_ptr<osg::Image> image;  // from sheetCopy; null: the view is missing (a box says so)
    std::string remark;  // the picture's remarks, or why it is missing
};

struct SheetContent {
    std::string code;  // the parcel's code (the frame's name)
    std::string name;  // its name, where the layer has one
    std::vector<std::pair<std::string, std::string>> rows;  // attribute, value (the area included)
    bool vertical = false;  // pictures[0] is the vertical picture, printed large
    std::vector<SheetPicture> pictures;
    double aspect = 9.0 / 16.0;  // height over width of the pictures (and of a missing one's box)
    std::string note;  // one line under the table (views that are missing)
    std::string footer;  // the model, the coordinate system and the date
    int quality = 90;  // of the embedded JPEGs
};

// `picture` (8-bit RGBA or RGB, bottom row first) downscaled to its printed
// width on a sheet at kSheetDpi (never enlarged): the vertical picture's over
// the text width (up to its greatest height), the others' in a grid cell, as 8-bit RGB, bottom row first;
// null for another layout.
osg::ref_ptr<osg::Image> sheetCopy(const osg::Image& picture, bool vertical);

// The pages a sheet of `content` takes; it depends on the number of rows
// and pictures only, not on which pictures are there.
int sheetPageCount(const SheetContent& content);

// Writes the sheet to `path` as a staged file (see StagedFile): fonts
// embedded, pictures as JPEG, no creation date, so the same content gives
// the same bytes. False with the reason when cairo or the file fails.
bool writeDossierSheet(const SheetContent& content, const std::string& path, FileDigest& digest, std::string& reason);

// The run's book: a contents page (several when the sections need them),
// then each section's sheet pages in order. `sections` hold no pictures;
// `fill` puts section i's pictures into its copy just before it is drawn, so
// that one section's pictures are in memory at a time. Staged as a sheet is.
bool writeDossierBook(const std::vector<SheetContent>& sections,
                      const std::function<void(std::size_t, SheetContent&)>& fill, const std::string& path,
                      std::string& reason);

}  // namespace vistrel
