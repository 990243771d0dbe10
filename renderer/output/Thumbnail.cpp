#include "output/Thumbnail.h"

#include "output/CaptureRows.h"
#include "output/JpegEncoder.h"
#include "output/StagedFile.h"

#include <algorithm>
#include <filesystem>
#include <vector>

namespace vistrel {

osg::ref_ptr<osg::Image> shrinkPicture(const osg::Image& picture, int maxWidth)
{
    const int bytes = rgbPixelBytes(picture);
    const int width = picture.s();
    const int height = picture.t();
    if (bytes == 0 || width < 1 || height < 1 || maxWidth < 1 || !picture.data()) {
        return nullptr;
    }
    const int outWidth = std::min(width, maxWidth);
    const int outHeight = std::max(1, static_cast<int>(static_cast<long long>(height) * outWidth / width));
    osg::ref_ptr<osg::Image> small = new osg::Image;
    small->allocateImage(outWidth, outHeight, 1, picture.getPixelFormat(), GL_UNSIGNED_BYTE, 1);
    std::vector<unsigned long> sums(static_cast<std::size_t>(bytes));
    for (int y = 0; y < outHeight; ++y) {
        const int y0 = static_cast<int>(static_cast<long long>(y) * height / outHeight);
        const int y1 = std::max(y0 + 1, static_cast<int>(static_cast<long long>(y + 1) * height / outHeight));
        for (int x = 0; x < outWidth; ++x) {
            const int x0 = static_cast<int>(static_cast<long long>(x) * width / outWidth);
            const int x1 = std::max(x0 + 1, static_cast<int>(static_cast<long long>(x + 1) * width / outWidth));
            std::fill(sums.begin(), sums.end(), 0UL);
            for (int sy = y0; sy < y1; ++sy) {
                const unsigned char* p = picture.data(x0, sy);
                for (int sx = x0; sx < x1; ++sx, p += bytes) {
                    for (int c = 0; c < bytes; ++c) {
                        sums[static_cast<std::size_t>(c)] += p[c];
                    }
                }
            }
            const unsigned long count = static_cast<unsigned long>(x1 - x0) * static_cast<unsigned long>(y1 - y0);
            unsigned char* out = small->data(x, y);
            for (int c = 0; c < bytes; ++c) {
                out[c] = static_cast<unsigned char>((sums[static_cast<std::size_t>(c)] + count / 2) / count);
            }
        }
    }
    return small;
}

bool writeThumbnail(const osg::Image& picture, const std::string& path, std::string& reason, int maxWidth,
                    FileDigest* digest)
{
    const osg::ref_ptr<osg::Image> small = shrinkPicture(picture, maxWidth);
    if (!small) {
        reason = "the picture cannot be shrunk";
        return false;
    }
    StagedFile file(path);
    if (file.open() && encodeJpeg(*small, 96, 85, file.stream()) && file.commit()) {
        if (digest) {
            *digest = file.digest();
        }
        return true;
    }
    reason = file.error().empty() ? "the encoder failed" : file.error();
    return false;
}

WriteResult writeThumbnailBelow(const osg::Image& picture, const std::string& path, const std::string& outputDir)
{
    WriteResult result;
    result.path = path;
    if (makeWriteFolder(std::filesystem::path(path).parent_path(), outputDir, result)) {
        const bool written = writeThumbnail(picture, path, result.reason, kThumbnailWidth, &result.digest);
        result.status = written ? WriteStatus::Written : WriteStatus::Failed;
    }
    return result;
}

}  // namespace vistrel
