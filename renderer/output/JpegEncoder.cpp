#include "output/JpegEncoder.h"

#include "output/CaptureRows.h"

#include <csetjmp>
#include <jpeglib.h>

#include <algorithm>

namespace vistrel {

namespace {

// Rows handed to libjpeg per call.
constexpr int kRowBatch = 16;

struct JpegErrorTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void onJpegError(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JpegErrorTrap*>(cinfo->err)->jump, 1);
}

void onJpegMessage(j_common_ptr)
{
}

}  // namespace

bool encodeJpeg(const osg::Image& image, int dpi, int quality, std::FILE* out)
{
    const int pixelBytes = rgbPixelBytes(image);
    if (!out || !image.data() || image.s() < 1 || image.t() < 1 || pixelBytes == 0) {
        return false;
    }
    jpeg_compress_struct cinfo{};
    JpegErrorTrap trap{};
    cinfo.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = onJpegError;
    trap.manager.output_message = onJpegMessage;
    // Nothing with a destructor lives in this function: libjpeg reports errors
    // by jumping back here.
    if (setjmp(trap.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(image.s());
    cinfo.image_height = static_cast<JDIMENSION>(image.t());
    cinfo.input_components = pixelBytes;
    cinfo.in_color_space = pixelBytes == 4 ? JCS_EXT_RGBA : JCS_RGB;  // alpha is ignored
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
    cinfo.write_JFIF_header = TRUE;
    cinfo.density_unit = 1;  // dots per inch
    const auto density = static_cast<UINT16>(std::clamp(dpi, 1, 65535));
    cinfo.X_density = density;
    cinfo.Y_density = density;
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[kRowBatch];
    while (cinfo.next_scanline < cinfo.image_height) {
        const int first = static_cast<int>(cinfo.next_scanline);
        const int count = std::min(kRowBatch, image.t() - first);
        for (int i = 0; i < count; ++i) {
            rows[i] = const_cast<JSAMPROW>(uprightRow(image, first + i));
        }
        jpeg_write_scanlines(&cinfo, rows, static_cast<JDIMENSION>(count));
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace vistrel
