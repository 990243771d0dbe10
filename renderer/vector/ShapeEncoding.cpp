#include "vector/ShapeEncoding.h"

#include "core/DbfText.h"

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

}  // namespace

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
    return dbfTextIsUtf8(in) ? std::string() : std::string(kUndeclaredLegacyEncoding);
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
