#include "output/ImageWriter.h"

#include "output/JpegWriter.h"
#include "output/GeoTiffWriter.h"
#include "output/PdfWriter.h"
#include "output/PngWriter.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

// The writer of every row of kOutputFormats, by key.
struct RegisteredWriter {
    std::string_view key;
    ImageWriterFunction write;
};

constexpr RegisteredWriter kWriters[] = {
    {"png", writePng},
    {"jpg", writeJpeg},
    {"pdf", writePdf},
    {"tif", writeGeoTiff},
};

// Path without its last component and the separators before it.
fs::path folderOf(const std::string& path)
{
    std::string text = fs::path(path).parent_path().string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return fs::path(text);
}

const OutputFormat* formatToWrite(const std::string& path, const std::string& outputFormat)
{
    const OutputFormat* named = outputFormatOfName(path);
    return named ? named : findOutputFormat(outputFormat);
}

}  // namespace

std::string resolveOutputPath(const std::string& name, const std::string& outputFormat)
{
    if (fs::path(name).has_extension()) {
        return name;
    }
    return name + "." + outputFormatKey(outputFormat);
}

std::string effectiveFormat(const std::string& path, const std::string& outputFormat)
{
    const OutputFormat* named = outputFormatOfName(path);
    return named ? std::string(named->key) : outputFormatKey(outputFormat);
}

WriteRequest writeRequest(const osg::Image* pixels, const RenderConfig& config, const std::string& name,
                          std::optional<PicturePlace> place)
{
    WriteRequest request;
    request.path = resolveOutputPath(name, config.output_format);
    request.format = formatToWrite(request.path, config.output_format);
    request.pixels = pixels;
    const unsigned needs = request.format ? request.format->needs : 0u;
    if ((needs & kNeedsDpi) != 0) {
        request.dpi = config.output_dpi;
    }
    if ((needs & kNeedsQuality) != 0) {
        request.quality = config.jpg_quality;
    }
    if ((needs & kNeedsLossless) != 0) {
        request.lossless = config.pdf_lossless;
    }
    if ((needs & kNeedsFootprint) != 0 && (config.world_file || (needs & kEmbedsFootprint) != 0)) {
        request.place = std::move(place);
    }
    request.worldFiles = config.world_file && request.place && !request.format->worldFile.empty();
    return request;
}

ImageWriterFunction writerFor(std::string_view key)
{
    for (const RegisteredWriter& writer : kWriters) {
        if (writer.key == key) {
            return writer.write;
        }
    }
    return nullptr;
}

WriteResult writeImageFile(const WriteRequest& request, const std::string& outputDir)
{
    WriteResult result;
    result.path = request.path;
    const fs::path folder = folderOf(result.path);
    if (!folder.empty() && !makeWriteFolder(folder, outputDir, result)) {
        return result;
    }
    const ImageWriterFunction write = request.format ? writerFor(request.format->key) : nullptr;
    if (!write) {
        result.reason = "no writer for the format of this file";
        return result;
    }
    result.status = write(request, result.reason, result.digest) ? WriteStatus::Written : WriteStatus::Failed;
    return result;
}

WriteResult writeImageFile(const osg::Image* image, const RenderConfig& config, const std::string& name)
{
    return writeImageFile(writeRequest(image, config, name), config.output_dir);
}

}  // namespace vistrel
