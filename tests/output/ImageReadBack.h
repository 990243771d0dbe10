#pragma once

#include <osg/Image>
#include <osg/ref_ptr>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

namespace outputtest {

// A file decoded with libpng or libjpeg, independent of the writers under test.
struct DecodedImage {
    int width = 0;
    int height = 0;
    int channels = 0;              // as stored in the file
    std::vector<unsigned char> rgb;  // top row first, 3 bytes per pixel
    int dpiX = 0;                  // PNG pHYs (rounded) or JPEG JFIF density
    int dpiY = 0;

    std::array<int, 3> pixel(int x, int row) const
    {
        const unsigned char* p = &rgb[(static_cast<std::size_t>(row) * width + x) * 3];
        return {p[0], p[1], p[2]};
    }
};

DecodedImage readPng(const std::filesystem::path& path);
DecodedImage readJpeg(const std::filesystem::path& path);

// An RGBA capture in OpenGL row order (bottom row first) whose upright top
// quarter is red, bottom quarter blue and the rest green, with alpha `alpha`.
osg::ref_ptr<osg::Image> bandedCapture(int width, int height, unsigned char alpha = 128);

// A capture of pseudo-random bytes in `format` (GL_RGB or GL_RGBA) with rows
// padded to a multiple of `packing` bytes.
osg::ref_ptr<osg::Image> noiseCapture(int width, int height, GLenum format = GL_RGBA, int packing = 1);

// Names of the entries of `folder`, sorted.
std::vector<std::string> folderEntries(const std::filesystem::path& folder);

}  // namespace outputtest
