#include "output/PdfWriter.h"

#include "output/CaptureRows.h"
#include "output/CairoPicture.h"
#include "output/StagedFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace vistrel {

namespace {

// Draws `picture` over a page of its printed size into `file`; false when
// cairo reports an error on the way.
bool putPage(cairo_surface_t* picture, int s, int t, int dpi, std::FILE* file)
{
    const double points = 72.0 / std::max(dpi, 1);
    const Surface pdf = pdfSurface(file, s * points, t * points);
    cairo_t* cr = cairo_create(pdf.get());
    cairo_scale(cr, points, points);
    cairo_set_source_surface(cr, picture, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_FAST);
    cairo_paint(cr);
    const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    cairo_surface_finish(pdf.get());
    return drawn && cairo_surface_status(pdf.get()) == CAIRO_STATUS_SUCCESS;
}

}  // namespace

bool writePdf(const WriteRequest& request, std::string& reason, FileDigest& digest)
{
    const osg::Image* image = request.pixels;
    if (!image || !image->data() || image->s() < 1 || image->t() < 1) {
        return false;
    }
    if (rgbPixelBytes(*image) == 0) {
        return false;
    }
    const Surface picture = uprightSurface(*image);
    if (!picture) {
        reason = "cairo cannot hold a " + std::to_string(image->s()) + " x " + std::to_string(image->t()) + " picture";
        return false;
    }
    if (!request.lossless && !attachJpeg(picture.get(), *image, request.dpi, request.quality)) {
        reason = "the picture could not be encoded as JPEG";
        return false;
    }
    StagedFile file(request.path);
    if (!file.open()) {
        reason = file.error();
        return false;
    }
    if (putPage(picture.get(), image->s(), image->t(), request.dpi, file.stream()) && file.commit()) {
        digest = file.digest();
        return true;
    }
    reason = file.error().empty() ? "write error" : file.error();
    return false;
}

}  // namespace vistrel
