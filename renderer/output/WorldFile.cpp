#include "output/WorldFile.h"

#include "output/StagedFile.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

void writeText(const std::string& path, const std::string& text)
{
    StagedFile file(path);
    if (!file.open() || std::fwrite(text.data(), 1, text.size(), file.stream()) != text.size() || !file.commit()) {
        throw std::runtime_error("Cannot write " + path + ": " + file.error());
    }
}

std::string lowerExtension(const std::string& path)
{
    std::string extension = fs::path(path).extension().string();
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension;
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
    const std::string extension = lowerExtension(imagePath);
    if (extension == ".png") {
        return ".pgw";
    }
    return extension == ".jpg" || extension == ".jpeg" ? ".jgw" : std::string();
}

std::vector<std::string> writeWorldFiles(const std::string& imagePath, const PictureFootprint& footprint,
                                         const std::string& crsWkt)
{
    std::vector<std::string> written;
    const std::string extension = worldFileExtension(imagePath);
    if (extension.empty() || footprint.pixelsX < 1 || footprint.pixelsY < 1) {
        return written;
    }
    const fs::path image(imagePath);
    // The picture itself may still be on its way (written by a worker).
    std::error_code ec;
    fs::create_directories(image.parent_path(), ec);
    const std::string worldPath = fs::path(image).replace_extension(extension).string();
    writeText(worldPath, worldFileText(footprint));
    written.push_back(worldPath);
    if (!crsWkt.empty()) {
        const std::string prjPath = fs::path(image).replace_extension(".prj").string();
        writeText(prjPath, crsWkt);
        written.push_back(prjPath);
    }
    return written;
}

}  // namespace vistrel
