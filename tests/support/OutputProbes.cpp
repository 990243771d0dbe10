#include "support/OutputProbes.h"

#include <png.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace testsupport {

DecodedPng readPng(const std::filesystem::path& path)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        throw std::runtime_error("cannot read PNG " + path.string());
    }
    image.format = PNG_FORMAT_RGBA;
    DecodedPng decoded;
    decoded.width = static_cast<int>(image.width);
    decoded.height = static_cast<int>(image.height);
    decoded.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, decoded.rgba.data(), 0, nullptr)) {
        png_image_free(&image);
        throw std::runtime_error("cannot decode PNG " + path.string());
    }
    return decoded;
}

bool pngSize(const std::filesystem::path& path, int& width, int& height)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char header[24];
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) {
        return false;
    }
    if (std::memcmp(header, "\x89PNG\r\n\x1a\n", 8) != 0 || std::memcmp(header + 12, "IHDR", 4) != 0) {
        return false;
    }
    width = (header[16] << 24) | (header[17] << 16) | (header[18] << 8) | header[19];
    height = (header[20] << 24) | (header[21] << 16) | (header[22] << 8) | header[23];
    return true;
}

bool jpegSize(const std::filesystem::path& path, int& width, int& height)
{
    const std::string bytes = [&] {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) {
        return false;
    }
    // Walk the marker segments to the first start-of-frame.
    for (std::size_t i = 2; i + 9 < bytes.size();) {
        if (byte(i) != 0xFF) {
            return false;
        }
        const unsigned marker = byte(i + 1);
        const std::size_t length = (byte(i + 2) << 8) | byte(i + 3);
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            height = (byte(i + 5) << 8) | byte(i + 6);
            width = (byte(i + 7) << 8) | byte(i + 8);
            return true;
        }
        i += 2 + length;
    }
    return false;
}

std::vector<std::vector<std::string>> parseCsv(std::string text)
{
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        text.erase(0, 3);
    }
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string cell;
    bool quoted = false;
    bool rowOpen = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        rowOpen = true;
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(cell);
            cell.clear();
        } else if (c == '\n') {
            row.push_back(cell);
            rows.push_back(row);
            row.clear();
            cell.clear();
            rowOpen = false;
        } else {
            cell += c;
        }
    }
    if (rowOpen) {
        row.push_back(cell);
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> linesWith(const std::string& log, const std::string& keyword)
{
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.find(keyword) != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string fieldValue(const std::string& line, const std::string& key)
{
    const std::string needle = " " + key + "=";
    const auto pos = line.find(needle);
    if (pos == std::string::npos) {
        return {};
    }
    const auto start = pos + needle.size();
    const auto end = line.find(' ', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace testsupport
