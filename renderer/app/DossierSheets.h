#pragma once

#include "core/ImageResult.h"
#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "output/DossierSheet.h"
#include "output/NameTemplate.h"

#include <osg/Image>
#include <osg/ref_ptr>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vistrel {

// What every sheet of a run shows beside the frame's own: the model's name,
// its coordinate system and the date.
struct SheetSetting {
    std::string model;
    std::string system;
    std::string date;
};

// The pictures of one frame's sheet (dossier), gathered while the frame is
// rendered: copies at the sheet's size of the pictures as they are finished,
// and the files of pictures taken over from an earlier run, read only when
// the sheet is made. The vertical picture printed large gets its north arrow
// and scale bar here when annotate did not draw them.
class SheetPictures {
public:
    explicit SheetPictures(const RenderConfig& config) : config_(config) {}

    // A finished picture of `key`; `groundWidth` is the ground width a
    // vertical picture spans, in metres (0 for other views).
    void keep(const std::string& key, const osg::Image& picture, double groundWidth);
    // The picture of `key` is in the file `path` (png, jpg or tif): read when needed.
    void keepFile(const std::string& key, const std::string& path, double groundWidth);
    // Reads the files kept; a file that cannot be read leaves its view
    // missing, and `unread` gets the reason by key.
    void readFiles(std::map<std::string, std::string>& unread);

    const std::map<std::string, osg::ref_ptr<osg::Image>>& pictures() const { return pictures_; }
    // A picture of the frame was rendered (or tried) in this run: an earlier
    // run's sheet no longer shows the frame as it is.
    void renew() { renewed_ = true; }
    bool renewed() const { return renewed_; }

private:
    struct File {
        std::string path;
        double groundWidth = 0.0;
    };
    void addMarks(const std::string& key, osg::Image& copy, double groundWidth) const;

    const RenderConfig& config_;
    std::map<std::string, osg::ref_ptr<osg::Image>> pictures_;
    std::map<std::string, File> files_;
    bool renewed_ = false;
};

// The key of the picture a sheet prints large: the outline image when it is
// made, else "top"; empty when no vertical view is configured.
std::string largeSheetKey(const RenderConfig& config);

// Where the frame's sheet goes: <frame folder>/<dossier_template or the
// frame's name>_照片.pdf. Throws as NameTemplate does for text that is not UTF-8.
std::string sheetPath(const RenderConfig& config, const NameTemplate& names, const PolygonFrame& frame);

// The sheet of a frame from its results and pictures: the views in the
// configured order (the large one first), each with its remarks; a view
// without a picture keeps its place and is named in a note with the reason.
SheetContent sheetContent(const RenderConfig& config, const PolygonFrame& frame, const FrameResults& results,
                          const SheetPictures& pictures, const std::map<std::string, std::string>& unread,
                          const SheetSetting& setting);

// Makes the frame's sheet at `path` from its results and pictures (files
// kept are read now) and logs the outcome as an image's write ("Wrote ", or
// the ERROR). The result is the sheet's, under kDossierKey; `digest` gets the
// written file's, `refused` is set when a symbolic link was in the way.
ImageResult makeSheet(const RenderConfig& config, const PolygonFrame& frame, const FrameResults& results,
                      SheetPictures& pictures, const std::string& path, const SheetSetting& setting, FileDigest& digest,
                      bool& refused);

// With dossier_book, at the end of a run that was not stopped: the book of
// every frame of `positions` whose sheet was made, its sections composed
// again from the pictures' files. `groundWidth` gives a frame's vertical
// picture's ground width. Logs "Wrote " or the ERROR; false on failure.
bool writeBook(const RenderConfig& config, const std::vector<PolygonFrame>& frames, const ResultsTable& results,
               const std::vector<std::size_t>& positions, const std::function<double(const PolygonFrame&)>& groundWidth,
               const SheetSetting& setting);

// The book's file: <output_dir>/照片册.pdf, for a shard 照片册.shard-<k>-of-<n>.pdf.
std::string bookPath(const RenderConfig& config);

}  // namespace vistrel
