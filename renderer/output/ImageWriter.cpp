#include "output/ImageWriter.h"

#include "core/RunProtocol.h"
#include "core/Logger.h"
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

std::string asciiLower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

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

// The folder of an image below the output folder, made one level at a time so
// that no part of it is a symbolic link (a planted link would lead the file
// elsewhere). Folders elsewhere are made as they are. Empty on success, else
// the reason. Throws std::filesystem::filesystem_error when a folder cannot be made.
std::string makeImageFolder(const fs::path& folder, const std::string& outputDir)
{
    const fs::path root = fs::path(outputDir).lexically_normal();
    const fs::path wanted = folder.lexically_normal();
    const fs::path below = wanted.lexically_relative(root);
    const bool inside = !outputDir.empty() && root.is_absolute() && !below.empty() && *below.begin() != ".." &&
                        below.is_relative();
    std::error_code ec;
    if (!inside) {
        fs::create_directories(folder, ec);
        if (ec) {
            throw fs::filesystem_error("create_directories", folder, ec);
        }
        return std::string();
    }
    fs::create_directories(root, ec);  // the output folder itself may be a link; it is the user's
    if (ec) {
        throw fs::filesystem_error("create_directories", root, ec);
    }
    fs::path current = root;
    for (const fs::path& part : below) {
        if (part == ".") {
            continue;
        }
        current /= part;
        const fs::file_status status = fs::symlink_status(current, ec);
        if (fs::is_symlink(status)) {
            return "the folder " + current.string() + " is a symbolic link";
        }
        if (!fs::exists(status)) {
            fs::create_directory(current, ec);
            if (ec && !fs::is_directory(fs::symlink_status(current))) {
                throw fs::filesystem_error("create_directories", current, ec);
            }
        } else if (!fs::is_directory(status)) {
            throw fs::filesystem_error("create_directories", current, std::make_error_code(std::errc::not_a_directory));
        }
    }
    return std::string();
}

}  // namespace

std::string resolveOutputPath(const std::string& name, const std::string& outputFormat)
{
    if (fs::path(name).has_extension()) {
        return name;
    }
    return name + (outputFormat == "jpeg" ? ".jpg" : "." + outputFormat);
}

std::string effectiveFormat(const std::string& path, const std::string& outputFormat)
{
    std::string extension = asciiLower(fs::path(path).extension().string());
    if (!extension.empty()) {
        extension.erase(0, 1);
    }
    if (extension == "jpeg") {
        return "jpg";
    }
    if (extension == "png" || extension == "jpg" || extension == "pdf") {
        return extension;
    }
    return outputFormat == "jpeg" ? "jpg" : outputFormat;
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

bool writeImageFile(const osg::Image* image, const RenderConfig& config, const std::string& name,
                    FileDigest* digest)
{
    const std::string path = resolveOutputPath(name, config.output_format);
    const fs::path folder = folderOf(path);
    std::string reason = folder.empty() ? std::string() : makeImageFolder(folder, config.output_dir);
    bool written = false;
    if (reason.empty()) {
        const std::string format = effectiveFormat(path, config.output_format);
        written = format == "pdf" ? writePdf(image, config.output_dpi, path, &reason, digest)
                                  : writeRasterImage(image, config, path, format, &reason, digest);
    }
    if (written) {
        Logger::instance().info("Wrote " + path);
    } else {
        Logger::instance().error(runMessage(RunMessage::ImageWriteFailed, {path + ": " + reason}));
    }
    return written;
}

}  // namespace vistrel
