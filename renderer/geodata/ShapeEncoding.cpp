#include "geodata/ShapeEncoding.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <istream>
#include <vector>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

// `stem` + ".ext" or, when that is missing, + ".EXT", as GDAL looks for them.
fs::path sibling(const fs::path& shp, const std::string& lower, const std::string& upper)
{
    fs::path candidate = shp;
    candidate.replace_extension(lower);
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec)) {
        return candidate;
    }
    candidate.replace_extension(upper);
    return fs::is_regular_file(candidate, ec) ? candidate : fs::path();
}

// shapelib takes the first line of the .cpg; an empty one declares nothing.
bool cpgDeclaresEncoding(const fs::path& cpg)
{
    if (cpg.empty()) {
        return false;
    }
    std::ifstream in(cpg, std::ios::binary);
    std::string line;
    std::getline(in, line);
    line = line.substr(0, line.find_first_of("\r\n"));
    return line.find_first_not_of(" \t") != std::string::npos;
}

unsigned readLittle(const unsigned char* bytes, int count)
{
    unsigned value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

}  // namespace

bool isUtf8AllowingCutEnd(const char* text, std::size_t size)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        std::size_t length = 0;
        unsigned minimum = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            minimum = 0x10000;
        } else {
            return false;
        }
        unsigned code = lead & (0x7F >> length);
        std::size_t k = 1;
        for (; k < length && i + k < size; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        if (k < length) {
            return true;  // cut off by the end of the field
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

bool dbfTextIsUtf8(std::istream& in)
{
    unsigned char header[32];
    if (!in.read(reinterpret_cast<char*>(header), 32)) {
        return true;
    }
    const unsigned records = readLittle(header + 4, 4);
    const unsigned headerLength = readLittle(header + 8, 2);
    const unsigned recordLength = readLittle(header + 10, 2);
    if (headerLength < 33) {
        return true;
    }
    std::vector<char> descriptors(headerLength - 32);
    in.read(descriptors.data(), static_cast<std::streamsize>(descriptors.size()));
    descriptors.resize(static_cast<std::size_t>(in.gcount()));

    struct TextField {
        std::size_t offset;
        std::size_t length;
    };
    std::vector<TextField> textFields;
    std::size_t offset = 1;  // after the deletion flag
    for (std::size_t d = 0; d + 32 <= descriptors.size() && descriptors[d] != '\x0D'; d += 32) {
        const char* name = &descriptors[d];
        std::size_t nameLength = 0;
        while (nameLength < 11 && name[nameLength] != '\0') {
            ++nameLength;
        }
        if (!isUtf8AllowingCutEnd(name, nameLength)) {
            return false;
        }
        const std::size_t length = static_cast<unsigned char>(descriptors[d + 16]);
        if (descriptors[d + 11] == 'C') {
            textFields.push_back({offset, length});
        }
        offset += length;
    }
    if (textFields.empty() || recordLength == 0) {
        return true;
    }
    std::vector<char> record(recordLength);
    for (unsigned r = 0; r < records; ++r) {
        if (!in.read(record.data(), recordLength)) {
            break;
        }
        for (const TextField& field : textFields) {
            if (field.offset >= recordLength) {
                continue;
            }
            std::size_t length = std::min(field.length, recordLength - field.offset);
            const char* value = record.data() + field.offset;
            while (length > 0 && value[length - 1] == ' ') {
                --length;
            }
            if (!isUtf8AllowingCutEnd(value, length)) {
                return false;
            }
        }
    }
    return true;
}

std::optional<std::string> undeclaredShapefileEncoding(const std::string& shpPath)
{
    const fs::path shp(shpPath);
    const fs::path dbf = sibling(shp, ".dbf", ".DBF");
    if (dbf.empty()) {
        return std::nullopt;
    }
    if (cpgDeclaresEncoding(sibling(shp, ".cpg", ".CPG"))) {
        return std::nullopt;
    }
    std::ifstream in(dbf, std::ios::binary);
    char header[30] = {};
    if (!in.read(header, 30)) {
        return std::nullopt;
    }
    if (header[29] != 0) {
        return std::nullopt;  // the language driver names the code page
    }
    in.seekg(0);
    return dbfTextIsUtf8(in) ? std::string() : std::string("GB18030");
}

long long deletedDbfRecords(const std::string& shpPath)
{
    const fs::path dbf = sibling(shpPath, ".dbf", ".DBF");
    std::ifstream in(dbf, std::ios::binary);
    unsigned char header[12] = {};
    if (dbf.empty() || !in.read(reinterpret_cast<char*>(header), sizeof header)) {
        return 0;
    }
    const unsigned long records =
        header[4] | (header[5] << 8) | (header[6] << 16) | (static_cast<unsigned long>(header[7]) << 24);
    const unsigned headerLength = header[8] | (header[9] << 8);
    const unsigned recordLength = header[10] | (header[11] << 8);
    if (recordLength == 0) {
        return 0;
    }
    long long deleted = 0;
    std::vector<char> record(recordLength);
    in.seekg(headerLength);
    for (unsigned long i = 0; i < records && in.read(record.data(), recordLength); ++i) {
        deleted += record[0] == '*' ? 1 : 0;
    }
    return deleted;
}

}  // namespace vistrel
