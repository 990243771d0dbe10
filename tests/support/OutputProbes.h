#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// A decoded PNG as 8-bit RGBA rows, top row first.
struct DecodedPng {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;

    const unsigned char* pixel(int x, int yFromTop) const { return &rgba[(static_cast<std::size_t>(yFromTop) * width + x) * 4]; }
};

// Decodes a PNG file; throws std::runtime_error when it cannot.
DecodedPng readPng(const std::filesystem::path& path);

// Width and height from a PNG header, without decoding.
bool pngSize(const std::filesystem::path& path, int& width, int& height);

// Width and height from a JPEG's start-of-frame segment, without decoding.
bool jpegSize(const std::filesystem::path& path, int& width, int& height);

// The rows of a CSV text (RFC 4180 quoting, LF line ends), BOM removed.
std::vector<std::vector<std::string>> parseCsv(std::string text);

// The fields of the log line holding `keyword` ("key=value" pairs after it).
std::vector<std::string> linesWith(const std::string& log, const std::string& keyword);
std::string fieldValue(const std::string& line, const std::string& key);

}  // namespace testsupport
