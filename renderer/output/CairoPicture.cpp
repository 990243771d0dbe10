#include "output/CairoPicture.h"

#include "output/CaptureRows.h"
#include "output/JpegEncoder.h"

#include <cairo-pdf.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace vistrel {

namespace {

constexpr const char* kCreator = "Tavrin";

}  // namespace

Surface uprightSurface(const osg::Image& image)
{
    const int pixelBytes = rgbPixelBytes(image);
    if (pixelBytes == 0 || !image.data()) {
        return nullptr;
    }
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

Surface pdfSurface(std::FILE* file, double width, double height)
{
    Surface pdf(cairo_pdf_surface_create_for_stream(writeToStream, file, width, height));
    cairo_pdf_surface_restrict_to_version(pdf.get(), CAIRO_PDF_VERSION_1_4);
    cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_CREATOR, kCreator);
    cairo_pdf_surface_set_metadata(pdf.get(), CAIRO_PDF_METADATA_CREATE_DATE, "");
    return pdf;
}

TextLayout textLayout(cairo_t* cr, const std::string& text, double size, bool bold, double widthLimit)
{
    TextLayout layout(pango_cairo_create_layout(cr));
    PangoFontDescription* font = pango_font_description_from_string(kMarkFont);
    pango_font_description_set_absolute_size(font, size * PANGO_SCALE);
    pango_font_description_set_weight(font, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(layout.get(), font);
    pango_font_description_free(font);
    pango_layout_set_text(layout.get(), text.c_str(), -1);
    if (widthLimit > 0) {
        pango_layout_set_width(layout.get(), static_cast<int>(widthLimit * PANGO_SCALE));
        pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
    }
    return layout;
}

}  // namespace vistrel
