#pragma once

#include "core/PolygonFrame.h"
#include "render/FrameCamera.h"
#include "render/PictureMeasure.h"

#include <osg/Image>
#include <osg/Node>
#include <osg/ref_ptr>

#include <string>
#include <vector>

namespace vistrel {

// What a batch asks of a renderer: pictures of the model from a camera
// placement. OffscreenRenderer draws them; tests of the batch's decisions
// hand out pictures of their own.
class PictureSource {
public:
    virtual ~PictureSource() = default;

    // Gets ready to draw `scene`. False when it cannot; `errors` then holds
    // the ERROR texts saying why, in the order to log them.
    virtual bool initialize(osg::Node* scene, std::vector<std::string>& errors) = 0;
    // Draws the model alone as `setup` places the camera. False when no
    // picture came; renderError() then says why.
    virtual bool renderModel(const CameraSetup& setup) = 0;
    // Draws the model with the outline of `frame` draped over it (the plain
    // view when the frame has no usable outline); `depthTested`: hidden where
    // the model stands in front of it.
    virtual bool renderOutline(const CameraSetup& setup, const PolygonFrame& frame, bool depthTested) = 0;
    // Measures what the last picture, drawn by renderModel with `setup`, shows
    // of the frame (PictureMeasure: its `parts`; the area's only for a
    // vertical view) without touching that picture. False when it cannot be
    // measured; renderError() then says why.
    virtual bool measurePicture(const CameraSetup& setup, const PolygonFrame& frame, MeasureParts parts,
                                PictureMeasure& measure) = 0;
    // The last picture: 8 bits per channel, bottom row first; owned by the
    // source and overwritten by the next draw.
    virtual osg::Image* captureImage() const = 0;
    // Hands over the last picture and takes `next` (an image of the same
    // size and layout; another is made where it is not) to read the pictures
    // that follow into: captureImage() is `next` until the next draw fills
    // it. Null where the source keeps its picture; the caller copies it then.
    virtual osg::ref_ptr<osg::Image> exchangeCapture(osg::ref_ptr<osg::Image> next)
    {
        (void)next;
        return nullptr;
    }
    // Why the last draw gave no picture; empty after one that did.
    virtual const std::string& renderError() const = 0;
    // True when the last picture was taken at tile_load_timeout with tiles
    // still loading; incompleteRequests() says how many.
    virtual bool tilesIncomplete() const = 0;
    virtual int incompleteRequests() const = 0;
};

}  // namespace vistrel
