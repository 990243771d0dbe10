#include "output/RasterFile.h"

#include "output/CaptureRows.h"
#include "output/StagedFile.h"

#include <osgDB/Registry>

#include <cstring>
#include <sstream>

namespace vistrel {

namespace {

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

// The registry's options with `extra` added to their option text.
osg::ref_ptr<osgDB::Options> pluginOptions(const std::string& extra)
{
    const osgDB::Options* shared = osgDB::Registry::instance()->getOptions();
    osg::ref_ptr<osgDB::Options> options =
        shared ? static_cast<osgDB::Options*>(shared->clone(osg::CopyOp::SHALLOW_COPY)) : new osgDB::Options;
    if (!extra.empty()) {
        const std::string given = options->getOptionString();
        options->setOptionString(given.empty() ? extra : given + " " + extra);
    }
    return options;
}

// OpenSceneGraph's image plug-in for the format. It encodes into memory; the
// bytes then go through the staged file, because the plug-ins do not report
// write errors of their own.
bool writeWithPlugin(const osg::Image& image, const RasterPlugin& plugin, const std::string& path, std::string& reason,
                     FileDigest& digest)
{
    osgDB::ReaderWriter* writer = osgDB::Registry::instance()->getReaderWriterForExtension(plugin.extension);
    if (!writer) {
        return false;
    }
    const osg::ref_ptr<osgDB::Options> options = pluginOptions(plugin.options);
    osg::ref_ptr<osg::Image> rgb;
    const osg::Image* source = &image;
    if (rgbPixelBytes(image) == 4) {
        rgb = rgbCopy(image);
        source = rgb.get();
    }
    std::ostringstream encoded(std::ios::out | std::ios::binary);
    if (!writer->writeImage(*source, encoded, options.get()).success()) {
        return false;
    }
    const std::string bytes = encoded.str();
    StagedFile file(path);
    if (!bytes.empty() && file.open() && std::fwrite(bytes.data(), 1, bytes.size(), file.stream()) == bytes.size() &&
        file.commit()) {
        digest = file.digest();
        return true;
    }
    if (reason.empty()) {
        reason = file.error();
    }
    return false;
}

}  // namespace

bool writeRasterFile(const WriteRequest& request, const RasterEncoder& encode, const RasterPlugin& plugin,
                     std::string& reason, FileDigest& digest)
{
    const osg::Image* image = request.pixels;
    std::string failure;
    if (!image || !image->data() || image->s() < 1 || image->t() < 1) {
        failure = "no picture to write";
    } else {
        StagedFile file(request.path);
        if (!file.open()) {
            failure = file.error();  // the folder takes no new file: no writer can help
        } else {
            if (encode(*image, file.stream()) && file.commit()) {
                digest = file.digest();
                return true;
            }
            failure = file.error();
            file.discard();
            if (writeWithPlugin(*image, plugin, request.path, failure, digest)) {
                return true;
            }
        }
    }
    reason = failure.empty() ? "the encoder failed" : failure;
    return false;
}

}  // namespace vistrel
