#include "ImageReadBack.h"

#include "support/TestSupport.h"

#include <png.h>

#include <cmath>
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <stdexcept>

namespace outputtest {

DecodedImage readPng(const std::filesystem::path& path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    DecodedImage decoded;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        throw std::runtime_error("not a PNG: " + path.string());
    }
    decoded.width = static_cast<int>(image.width);
    decoded.height = static_cast<int>(image.height);
    decoded.channels = PNG_IMAGE_SAMPLE_CHANNELS(image.format);
    image.format = PNG_FORMAT_RGB;
    decoded.rgb.resize(PNG_IMAGE_SIZE(image));
    png_image_finish_read(&image, nullptr, decoded.rgb.data(), 0, nullptr);
    // pHYs: 4-byte length, "pHYs", x and y pixels per unit (big endian), unit 1 = metre.
    const std::string bytes = testsupport::readFile(path);
    const std::size_t chunk = bytes.find("pHYs");
    if (chunk != std::string::npos && bytes[chunk + 12] == 1) {
        const auto word = [&](std::size_t at) {
            unsigned value = 0;
            for (int i = 0; i < 4; ++i) {
                value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
            }
            return static_cast<int>(std::lround(value * 0.0254));
        };
        decoded.dpiX = word(chunk + 4);
        decoded.dpiY = word(chunk + 8);
    }
    return decoded;
}

DecodedImage readJpeg(const std::filesystem::path& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);  // a broken file ends the test program
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    DecodedImage decoded;
    decoded.width = static_cast<int>(cinfo.output_width);
    decoded.height = static_cast<int>(cinfo.output_height);
    decoded.channels = cinfo.output_components;
    if (cinfo.saw_JFIF_marker && cinfo.density_unit == 1) {
        decoded.dpiX = cinfo.X_density;
        decoded.dpiY = cinfo.Y_density;
    }
    decoded.rgb.resize(static_cast<std::size_t>(decoded.width) * decoded.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &decoded.rgb[static_cast<std::size_t>(cinfo.output_scanline) * decoded.width * 3];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return decoded;
}

osg::ref_ptr<osg::Image> bandedCapture(int width, int height, unsigned char alpha)
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(width, height, 1, GL_RGBA, GL_UNSIGNED_BYTE);
    const int band = std::max(1, height / 4);
    for (int y = 0; y < height; ++y) {
        const bool top = y >= height - band;  // the last row is the top of the view
        const bool bottom = !top && y < band;
        for (int x = 0; x < width; ++x) {
            unsigned char* p = image->data(x, y);
            p[0] = top ? 255 : 0;
            p[1] = top || bottom ? 0 : 255;
            p[2] = bottom ? 255 : 0;
            p[3] = alpha;
        }
    }
    return image;
}

osg::ref_ptr<osg::Image> noiseCapture(int width, int height, GLenum format, int packing)
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(width, height, 1, format, GL_UNSIGNED_BYTE, packing);
    unsigned state = static_cast<unsigned>(width * 7919 + height);
    for (unsigned i = 0; i < image->getTotalSizeInBytes(); ++i) {
        state = state * 1103515245u + 12345u;
        image->data()[i] = static_cast<unsigned char>(state >> 16);
    }
    return image;
}

std::vector<std::string> folderEntries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace outputtest
