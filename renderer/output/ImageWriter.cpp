#include "output/ImageWriter.h"

#include "core/OutputFormats.h"
#include "output/CaptureRows.h"
#include "output/JpegEncoder.h"
#include "output/PdfWriter.h"
#include "output/PngEncoder.h"
#include "output/StagedFile.h"

#include <osgDB/Registry>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

// Path without its last component and the separators before it.
fs::path folderOf(const std::string& path)
{
    std::string text = fs::path(path).parent_path().string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return fs::path(text);
}

// An RGB copy of an RGBA capture in its own row order (OpenSceneGraph's
// writers turn it upright themselves), so the last resort stores no alpha either.
osg::ref_ptr<osg::Image> rgbCopy(const osg::Image& image)
{
    osg::ref_ptr<osg::Image> copy = new osg::Image;
    copy->allocateImage(image.s(), image.t(), 1, GL_RGB, GL_UNSIGNED_BYTE);
    for (int y = 0; y < image.t(); ++y) {
        const unsigned char* in = image.data(0, y);
        unsigned char* out = copy->data(0, y);
        for (int x = 0; x < image.s(); ++x, in += 4, out += 3) {
            std::memcpy(out, in, 3);
        }
    }
    return copy;
}

// OpenSceneGraph's image plug-in for the format. It encodes into memory; the
// bytes then go through the staged file, because the plug-ins do not report
// write errors of their own.
bool writeWithPlugin(const osg::Image& image, const RenderConfig& config, const std::string& path, bool jpeg,
                     std::string& reason, FileDigest* digest)
{
    osgDB::ReaderWriter* plugin = osgDB::Registry::instance()->getReaderWriterForExtension(jpeg ? "jpg" : "png");
    if (!plugin) {
        return false;
    }
    const osgDB::Options* shared = osgDB::Registry::instance()->getOptions();
    osg::ref_ptr<osgDB::Options> options =
        shared ? static_cast<osgDB::Options*>(shared->clone(osg::CopyOp::SHALLOW_COPY)) : new osgDB::Options;
    if (jpeg) {
        const std::string quality = "JPEG_QUALITY " + std::to_string(std::clamp(config.jpg_quality, 1, 100));
        const std::string given = options->getOptionString();
        options->setOptionString(given.empty() ? quality : given + " " + quality);
    }
    osg::ref_ptr<osg::Image> rgb;
    const osg::Image* source = &image;
    if (rgbPixelBytes(image) == 4) {
        rgb = rgbCopy(image);
        source = rgb.get();
    }
    std::ostringstream encoded(std::ios::out | std::ios::binary);
    if (!plugin->writeImage(*source, encoded, options.get()).success()) {
        return false;
    }
    const std::string bytes = encoded.str();
    StagedFile file(path);
    if (!bytes.empty() && file.open() && std::fwrite(bytes.data(), 1, bytes.size(), file.stream()) == bytes.size() &&
        file.commit()) {
        if (digest) {
            *digest = file.digest();
        }
        return true;
    }
    if (reason.empty()) {
        reason = file.error();
    }
    return false;
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

bool writeRasterImage(const osg::Image* image, const RenderConfig& config, const std::string& path,
                      const std::string& format, std::string* reason, FileDigest* digest)
{
    std::string failure;
    if (!image || !image->data() || image->s() < 1 || image->t() < 1) {
        failure = "no picture to write";
    } else {
        const bool jpeg = format == "jpg" || format == "jpeg";
        StagedFile file(path);
        if (!file.open()) {
            failure = file.error();  // the folder takes no new file: no writer can help
        } else {
            const bool encoded = jpeg ? encodeJpeg(*image, config.output_dpi, config.jpg_quality, file.stream())
                                      : encodePng(*image, config.output_dpi, file.stream());
            if (encoded && file.commit()) {
                if (digest) {
                    *digest = file.digest();
                }
                return true;
            }
            failure = file.error();
            file.discard();
            if (writeWithPlugin(*image, config, path, jpeg, failure, digest)) {
                return true;
            }
        }
    }
    if (reason) {
        *reason = failure.empty() ? "the encoder failed" : failure;
    }
    return false;
}

WriteResult writeImageFile(const osg::Image* image, const RenderConfig& config, const std::string& name)
{
    WriteResult result;
    result.path = resolveOutputPath(name, config.output_format);
    const fs::path folder = folderOf(result.path);
    if (!folder.empty() && !makeWriteFolder(folder, config.output_dir, result)) {
        return result;
    }
    const std::string format = effectiveFormat(result.path, config.output_format);
    const bool written = format == "pdf"
                             ? writePdf(image, config.output_dpi, result.path, &result.reason, &result.digest)
                             : writeRasterImage(image, config, result.path, format, &result.reason, &result.digest);
    result.status = written ? WriteStatus::Written : WriteStatus::Failed;
    return result;
}

}  // namespace vistrel
