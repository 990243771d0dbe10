#pragma once

#include <cairo.h>
#include <pango/pangocairo.h>
#include <osg/Image>

#include <cstdio>
#include <memory>
#include <string>

namespace vistrel {

// What the PDF writers share: pictures as cairo surfaces, their JPEG, and a
// stream to write a PDF surface to.
struct SurfaceRelease {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceRelease>;

// The upright picture (8-bit RGBA or RGB, bottom row first) as a cairo RGB
// surface, alpha dropped; null for another layout or when cairo cannot make one.
Surface uprightSurface(const osg::Image& image);

// Hands the picture's JPEG (at `dpi` and `quality`) to the surface, which a
// PDF then embeds as it is (DCT) instead of the pixels. False when the
// encoder fails.
bool attachJpeg(cairo_surface_t* surface, const osg::Image& image, int dpi, int quality);

// A cairo_write_func_t that writes to the std::FILE* `closure`.
cairo_status_t writeToStream(void* closure, const unsigned char* data, unsigned int length);

// A PDF surface of `width` x `height` points writing to `file`: PDF 1.4,
// without a creation date, so that the same content gives the same bytes.
Surface pdfSurface(std::FILE* file, double width, double height);

// Marks, captions and sheets are written in this font (fonts-noto-cjk).
inline constexpr const char* kMarkFont = "Noto Sans CJK SC";

struct LayoutRelease {
    void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
using TextLayout = std::unique_ptr<PangoLayout, LayoutRelease>;

// One line of `text` in kMarkFont at `size` (pixels or points, as the
// surface counts), bold or not, cut with "…" at `widthLimit` when it is above 0.
TextLayout textLayout(cairo_t* cr, const std::string& text, double size, bool bold, double widthLimit);

}  // namespace vistrel
