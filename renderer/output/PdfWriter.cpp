#include "output/PdfWriter.h"

#include "output/CaptureRows.h"
#include "output/JpegEncoder.h"
#include "output/StagedFile.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace vistrel {

namespace {

constexpr const char* kCreator = "Tavrin";

struct SurfaceRelease {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceRelease>;

// The upright picture as a cairo RGB surface (alpha dropped); null when
// cairo cannot make one.
Surface uprightSurface(const osg::Image& image, int pixelBytes)
{
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.s(), image.t()));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        return nullptr;
    }
    cairo_surface_flush(surface.get());
    unsigned char* base = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    for (int r = 0; r < image.t(); ++r) {
        const unsigned char* in = uprightRow(image, r);
        auto* out = reinterpret_cast<std::uint32_t*>(base + static_cast<std::ptrdiff_t>(r) * stride);
        for (int x = 0; x < image.s(); ++x, in += pixelBytes) {
            out[x] = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | std::uint32_t{in[2]};
        }
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

// Hands the picture's JPEG to the surface, which the PDF then embeds as it
// is (DCT) instead of the pixels. False when the encoder fails.
bool attachJpeg(cairo_surface_t* surface, const osg::Image& image, int dpi, int quality)
{
    char* bytes = nullptr;
    std::size_t size = 0;
    std::FILE* memory = open_memstream(&bytes, &size);
    if (!memory) {
        return false;
    }
    const bool encoded = encodeJpeg(image, dpi, std::clamp(quality, 1, 100), memory);
    if (std::fclose(memory) != 0 || !encoded || size == 0) {
        std::free(bytes);
        return false;
    }
    const cairo_status_t status = cairo_surface_set_mime_data(
        surface, CAIRO_MIME_TYPE_JPEG, reinterpret_cast<unsigned char*>(bytes), size, std::free, bytes);
    if (status != CAIRO_STATUS_SUCCESS) {
        std::free(bytes);
        return false;
    }
    return true;
}

cairo_status_t writeToStream(void* closure, const unsigned char* data, unsigned int length)
{
    auto* file = static_cast<std::FILE*>(closure);
    return std::fwrite(data, 1, length, file) == length ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

// Draws `picture` over a page of its printed size into `file`; false when
// cairo reports an error on the way.
bool putPage(cairo_surface_t* picture, int s, int t, int dpi, std::FILE* file)
{
    const double points = 72.0 / std::max(dpi, 1);
    Surface pdf(cairo_pdf_surface_create_for_stream(writeToStream, file, s * points, t * points));
    cairo_pdf_surface_restrict_to_version(pdf.get(), CAIRO_PDF_VERSION_1_4);
    cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_CREATOR, kCreator);
    cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_CREATE_DATE, "");
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
    const int pixelBytes = rgbPixelBytes(*image);
    if (pixelBytes == 0) {
        return false;
    }
    const Surface picture = uprightSurface(*image, pixelBytes);
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
