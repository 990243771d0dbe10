#include "output/PngEncoder.h"

#include "output/CaptureRows.h"

#include <png.h>
#include <zlib.h>

#include <cmath>

namespace vistrel {

namespace {

// Rendered views are large flat areas with some texture: the Up filter with
// run-length-only deflate compresses them well at several times the speed of
// the default settings.
constexpr int kRowFilter = PNG_FILTER_UP;
constexpr int kZlibLevel = 1;
constexpr int kZlibStrategy = Z_RLE;
constexpr std::size_t kDeflateBufferBytes = 256 * 1024;

void onPngError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp)
{
}

}  // namespace

bool encodePng(const osg::Image& image, int dpi, std::FILE* out)
{
    const int pixelBytes = rgbPixelBytes(image);
    if (!out || !image.data() || image.s() < 1 || image.t() < 1 || pixelBytes == 0) {
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onPngError, onPngWarning);
    if (!png) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    // Nothing with a destructor lives in this function: libpng reports errors
    // by jumping back here.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, out);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, kRowFilter);
    png_set_compression_level(png, kZlibLevel);
    png_set_compression_strategy(png, kZlibStrategy);
    png_set_compression_buffer_size(png, kDeflateBufferBytes);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.s()), static_cast<png_uint_32>(image.t()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    if (dpi >= 1) {
        const auto pixelsPerMetre = static_cast<png_uint_32>(std::lround(dpi / 0.0254));
        png_set_pHYs(png, info, pixelsPerMetre, pixelsPerMetre, PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    if (pixelBytes == 4) {
        png_set_filler(png, 0, PNG_FILLER_AFTER);  // the alpha byte is dropped while writing
    }
    for (int r = 0; r < image.t(); ++r) {
        png_write_row(png, uprightRow(image, r));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace vistrel
