#include "output/WorldFile.h"

#include "core/OutputFormats.h"
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

// Unlinks the world file and the .prj beside `imagePath`; a folder of either
// name stays (unlink removes no folder, and a link itself, not its target).
void unlinkWorldFiles(const std::string& imagePath)
{
    const std::string extension = worldFileExtension(imagePath);
    if (!extension.empty()) {
        ::unlink(fs::path(imagePath).replace_extension(extension).c_str());
        ::unlink(prjPathOf(imagePath).c_str());
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

std::string worldFileExtension(const std::string& imagePath)
{
    const OutputFormat* format = outputFormatOfName(imagePath);
    return format ? std::string(format->worldFile) : std::string();
}

void removeWorldFiles(const std::string& imagePath, const std::string& outputDir)
{
    WriteResult folder;
    if (!worldFileExtension(imagePath).empty() &&
        makeWriteFolder(fs::path(imagePath).parent_path(), outputDir, folder)) {
        unlinkWorldFiles(imagePath);
    }
}

WriteResult writeWorldFiles(const std::string& imagePath, const WorldFiles& files, const std::string& outputDir)
{
    WriteResult result;
    const std::string extension = worldFileExtension(imagePath);
    result.path = fs::path(imagePath).replace_extension(extension).string();
    result.status = WriteStatus::Written;
    const PictureFootprint& footprint = files.footprint;
    if (extension.empty() || footprint.pixelsX < 1 || footprint.pixelsY < 1) {
        result.path.clear();
        return result;
    }
    if (!makeWriteFolder(fs::path(imagePath).parent_path(), outputDir, result)) {
        return result;
    }
    if (!writeText(result.path, worldFileText(footprint), result) ||
        (!files.crsWkt.empty() && !writeText(prjPathOf(imagePath), files.crsWkt, result))) {
        unlinkWorldFiles(imagePath);  // half a set would place the picture without its system
    }
    return result;
}

}  // namespace vistrel
