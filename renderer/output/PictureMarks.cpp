#include "output/PictureMarks.h"

#include "output/CairoPicture.h"
#include "output/CaptureRows.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace vistrel {

namespace {

struct Sizes {
    int margin;
    int captionHeight;
    int arrow;
    int barThickness;
    int labelHeight;
    int padding;
};

Sizes sizesFor(int height)
{
    const double u = height / 1080.0;
    const auto px = [u](double v, int least) { return std::max(least, static_cast<int>(std::lround(v * u))); };
    return {px(24, 2), px(56, 12), px(110, 16), px(12, 3), px(34, 8), px(10, 2)};
}

// The largest 1, 2 or 5 × 10^n metres not above `most`.
double roundGroundLength(double most)
{
    const double decade = std::pow(10.0, std::floor(std::log10(most)));
    for (const double step : {5.0, 2.0, 1.0}) {
        if (step * decade <= most * (1.0 + 1e-12)) {
            return step * decade;
        }
    }
    return decade;
}

MarkBox clampedBox(const char* mark, int x, int y, int w, int h, int width, int height)
{
    MarkBox box{mark, std::clamp(x, 0, width), std::clamp(y, 0, height), 0, 0};
    box.width = std::clamp(x + w, 0, width) - box.x;
    box.height = std::clamp(y + h, 0, height) - box.y;
    return box;
}

// The box's pixels as a premultiplied cairo surface, and back.
void copyIn(const osg::Image& image, int pixelBytes, const MarkBox& box, cairo_surface_t* surface)
{
    unsigned char* base = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int r = 0; r < box.height; ++r) {
        const unsigned char* in = uprightRow(image, box.y + r) + static_cast<std::ptrdiff_t>(box.x) * pixelBytes;
        auto* out = reinterpret_cast<std::uint32_t*>(base + static_cast<std::ptrdiff_t>(r) * stride);
        for (int c = 0; c < box.width; ++c, in += pixelBytes) {
            const std::uint32_t a = pixelBytes == 4 ? in[3] : 255;
            const auto pre = [a](unsigned char v) { return (std::uint32_t{v} * a + 127) / 255; };
            out[c] = (a << 24) | (pre(in[0]) << 16) | (pre(in[1]) << 8) | pre(in[2]);
        }
    }
    cairo_surface_mark_dirty(surface);
}

void copyOut(cairo_surface_t* surface, const MarkBox& box, int pixelBytes, osg::Image& image)
{
    cairo_surface_flush(surface);
    const unsigned char* base = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int r = 0; r < box.height; ++r) {
        auto* out =
            const_cast<unsigned char*>(uprightRow(image, box.y + r)) + static_cast<std::ptrdiff_t>(box.x) * pixelBytes;
        const auto* in = reinterpret_cast<const std::uint32_t*>(base + static_cast<std::ptrdiff_t>(r) * stride);
        for (int c = 0; c < box.width; ++c, out += pixelBytes) {
            const std::uint32_t v = in[c];
            const std::uint32_t a = v >> 24;
            const auto un = [a](std::uint32_t p) {
                return static_cast<unsigned char>(a == 0 ? 0 : std::min<std::uint32_t>(255, (p * 255 + a / 2) / a));
            };
            out[0] = un((v >> 16) & 0xFF);
            out[1] = un((v >> 8) & 0xFF);
            out[2] = un(v & 0xFF);
            if (pixelBytes == 4) {
                out[3] = static_cast<unsigned char>(a);
            }
        }
    }
}

// A one-line text of `size` pixels at (x, y), its top-left; `outline` draws
// it white with a dark edge, else in the current colour.
void drawText(cairo_t* cr, const std::string& text, double size, double x, double y, double widthLimit, bool bold,
              bool outline)
{
    const TextLayout layout = textLayout(cr, text, size, bold, widthLimit);
    cairo_move_to(cr, x, y);
    if (outline) {
        pango_cairo_layout_path(cr, layout.get());
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_fill_preserve(cr);
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        cairo_set_line_width(cr, std::max(1.0, size / 14));
        cairo_stroke(cr);
    } else {
        pango_cairo_show_layout(cr, layout.get());
    }
}

void drawCaption(cairo_t* cr, const MarkBox& box, const std::string& text)
{
    cairo_set_source_rgba(cr, 0, 0, 0, 0.55);
    cairo_paint(cr);
    const double size = box.height * 0.5;
    cairo_set_source_rgb(cr, 1, 1, 1);
    drawText(cr, text, size, box.height * 0.3, (box.height - size * 1.45) / 2, box.width - box.height * 0.6, false,
             false);
}

void drawArrow(cairo_t* cr, const MarkBox& box)
{
    const double a = std::min(box.width, box.height);
    const double cx = a / 2;
    cairo_set_line_width(cr, std::max(1.0, a / 50));
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    for (const int side : {-1, 1}) {  // the dark left half, the light right half
        cairo_move_to(cr, cx, a * 0.06);
        cairo_line_to(cr, cx + side * a * 0.22, a * 0.62);
        cairo_line_to(cr, cx, a * 0.5);
        cairo_close_path(cr);
        if (side < 0) {
            cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        } else {
            cairo_set_source_rgb(cr, 1, 1, 1);
        }
        cairo_fill_preserve(cr);
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        cairo_stroke(cr);
    }
    const double size = a * 0.3;
    drawText(cr, "N", size, cx - size * 0.36, a * 0.6, 0, true, true);
}

void drawBar(cairo_t* cr, const MarkBox& box, const Sizes& s, const MarkLayout& layout)
{
    cairo_set_source_rgba(cr, 1, 1, 1, 0.75);
    cairo_paint(cr);
    const double x = s.padding;
    const double y = s.padding + s.labelHeight;
    const int pieces = 4;
    for (int i = 0; i < pieces; ++i) {
        const double from = x + std::round(layout.barPixels * i / static_cast<double>(pieces));
        const double to = x + std::round(layout.barPixels * (i + 1) / static_cast<double>(pieces));
        cairo_rectangle(cr, from, y, to - from, s.barThickness);
        cairo_set_source_rgb(cr, i % 2 == 0 ? 0.1 : 1.0, i % 2 == 0 ? 0.1 : 1.0, i % 2 == 0 ? 0.1 : 1.0);
        cairo_fill(cr);
    }
    // The edge lies inside the bar, so that its black spans barPixels exactly.
    cairo_rectangle(cr, x + 0.5, y + 0.5, layout.barPixels - 1, s.barThickness - 1);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    drawText(cr, barLabel(layout.barMetres), s.labelHeight * 0.7, x, s.padding * 0.5, box.width - x, false, false);
}

}  // namespace

std::string barLabel(double metres)
{
    char text[32];
    if (metres >= 1000) {
        std::snprintf(text, sizeof text, "%g km", metres / 1000);
    } else {
        std::snprintf(text, sizeof text, "%g m", metres);
    }
    return text;
}

MarkLayout layoutMarks(int width, int height, const MarkRequest& request)
{
    MarkLayout layout;
    const Sizes s = sizesFor(height);
    const bool vertical = request.metresPerPixel > 0;
    const int bottom = request.caption ? height - s.captionHeight : height;
    if (request.caption) {
        layout.boxes.push_back(clampedBox("caption", 0, bottom, width, s.captionHeight, width, height));
    }
    if (vertical && request.northArrow) {
        layout.boxes.push_back(
            clampedBox("north_arrow", width - s.margin - s.arrow, s.margin, s.arrow, s.arrow, width, height));
    }
    if (vertical && request.scaleBar) {
        layout.barMetres = roundGroundLength(width * 0.2 * request.metresPerPixel);
        layout.barPixels = static_cast<int>(std::lround(layout.barMetres / request.metresPerPixel));
        const int boxHeight = s.labelHeight + s.barThickness + 2 * s.padding;
        layout.boxes.push_back(clampedBox("scale_bar", s.margin, bottom - s.margin - boxHeight,
                                          layout.barPixels + 2 * s.padding, boxHeight, width, height));
    }
    return layout;
}

bool drawMarks(osg::Image& pixels, const MarkRequest& request, std::string& reason)
{
    const int pixelBytes = rgbPixelBytes(pixels);
    if (pixelBytes == 0 || !pixels.data()) {
        reason = "the picture's layout takes no marks";
        return false;
    }
    const MarkLayout layout = layoutMarks(pixels.s(), pixels.t(), request);
    const Sizes sizes = sizesFor(pixels.t());
    for (const MarkBox& box : layout.boxes) {
        if (box.width < 1 || box.height < 1) {
            continue;
        }
        Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, box.width, box.height));
        if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
            reason = "cairo cannot make a surface for the " + box.mark;
            return false;
        }
        copyIn(pixels, pixelBytes, box, surface.get());
        cairo_t* cr = cairo_create(surface.get());
        if (box.mark == "caption") {
            drawCaption(cr, box, request.captionText);
        } else if (box.mark == "north_arrow") {
            drawArrow(cr, box);
        } else {
            drawBar(cr, box, sizes, layout);
        }
        const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
        cairo_destroy(cr);
        if (!drawn) {
            reason = "cairo failed to draw the " + box.mark;
            return false;
        }
        copyOut(surface.get(), box, pixelBytes, pixels);
    }
    return true;
}

}  // namespace vistrel
