#include "output/WorldFile.h"

#include "output/StagedFile.h"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

bool writeText(const std::string& path, const std::string& text, WriteResult& result)
{
    StagedFile file(path);
    if (file.open() && std::fwrite(text.data(), 1, text.size(), file.stream()) == text.size() && file.commit()) {
        return true;
    }
    result.status = WriteStatus::Failed;
    result.path = path;
    result.reason = file.error().empty() ? "write error" : file.error();
    return false;
}

std::string prjPathOf(const std::string& imagePath)
{
    return fs::path(imagePath).replace_extension(".prj").string();
}

// Unlinks the world file and the .prj beside the picture; a folder of either
// name stays (unlink removes no folder, and a link itself, not its target).
void unlinkWorldFiles(const WriteRequest& request)
{
    const std::string worldFile = worldFilePath(request);
    if (!worldFile.empty()) {
        ::unlink(worldFile.c_str());
        ::unlink(prjPathOf(request.path).c_str());
    }
}

}  // namespace

std::string worldFileText(const PictureFootprint& f)
{
    const double sizeX = f.width / f.pixelsX;
    const double sizeY = f.height / f.pixelsY;
    const double left = f.centerX - f.width / 2.0;
    const double top = f.centerY + f.height / 2.0;
    char text[256];
    std::snprintf(text, sizeof text, "%.15g\n0\n0\n%.15g\n%.15g\n%.15g\n", sizeX, -sizeY, left + sizeX / 2.0,
                  top - sizeY / 2.0);
    return text;
}

std::string worldFilePath(const WriteRequest& request)
{
    if (!request.format || request.format->worldFile.empty()) {
        return {};
    }
    return fs::path(request.path).replace_extension(std::string(request.format->worldFile)).string();
}

void removeWorldFiles(const WriteRequest& request, const std::string& outputDir)
{
    WriteResult folder;
    if (!worldFilePath(request).empty() && makeWriteFolder(fs::path(request.path).parent_path(), outputDir, folder)) {
        unlinkWorldFiles(request);
    }
}

WriteResult writeWorldFiles(const WriteRequest& request, const std::string& outputDir)
{
    WriteResult result;
    result.path = worldFilePath(request);
    result.status = WriteStatus::Written;
    if (result.path.empty() || !request.place || request.place->footprint.pixelsX < 1 ||
        request.place->footprint.pixelsY < 1) {
        result.path.clear();
        return result;
    }
    if (!makeWriteFolder(fs::path(request.path).parent_path(), outputDir, result)) {
        return result;
    }
    const PicturePlace& place = *request.place;
    if (!writeText(result.path, worldFileText(place.footprint), result) ||
        (!place.crsWkt.empty() && !writeText(prjPathOf(request.path), place.crsWkt, result))) {
        unlinkWorldFiles(request);  // half a set would place the picture without its system
    }
    return result;
}

}  // namespace vistrel
