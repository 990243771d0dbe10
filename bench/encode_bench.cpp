// Median encoding times of the image writers for one 3840 x 2160 capture.
//
//   encode_bench [runs] [folder] [picture]
//
// The capture imitates a rendered view: a flat clear-colour border around the
// model, ground with photo-like texture, and buildings with shaded roofs and
// window rows; or it is `picture` (a rendered view saved as PNG or JPEG).
// Files are written into `folder` (the system temp folder by default) and
// removed afterwards. Besides the whole write (encode, disk, sync) it times
// the encoders alone into /dev/null and the content hash over the written
// bytes, the part of the write that hashing adds.

#include "core/ContentHash.h"
#include "core/RenderConfig.h"
#include "output/ImageWriter.h"
#include "output/JpegEncoder.h"
#include "output/PngEncoder.h"

#include <osg/Image>
#include <osgDB/ReadFile>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;

struct Noise {
    std::uint32_t state = 2463534242u;
    int next(int amplitude)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<int>(state % static_cast<std::uint32_t>(2 * amplitude + 1)) - amplitude;
    }
};

unsigned char clampByte(int value)
{
    return static_cast<unsigned char>(std::clamp(value, 0, 255));
}

osg::ref_ptr<osg::Image> renderedLookingCapture()
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(kWidth, kHeight, 1, GL_RGBA, GL_UNSIGNED_BYTE);
    Noise noise;
    const int modelLeft = kWidth / 6;
    const int modelRight = kWidth * 5 / 6;
    for (int y = 0; y < kHeight; ++y) {
        unsigned char* row = image->data(0, y);
        for (int x = 0; x < kWidth; ++x) {
            unsigned char* p = row + 4 * x;
            int r = 255, g = 255, b = 255;  // clear colour outside the model
            if (x >= modelLeft && x < modelRight && y > kHeight / 10 && y < kHeight * 9 / 10) {
                // Ground: slow gradient with texture grain.
                const int grain = noise.next(10);
                r = 110 + x / 90 + grain;
                g = 120 + y / 60 + grain;
                b = 95 + grain / 2;
                const int bx = (x - modelLeft) % 420;
                const int by = y % 380;
                if (bx > 40 && bx < 360 && by > 50 && by < 330) {
                    // A building: flat roof colour, lightly textured, with window rows on the facade band.
                    const bool facade = by > 260;
                    const bool window = facade && (bx % 30 < 14) && (by % 24 < 12);
                    r = window ? 40 : (facade ? 190 : 160) + noise.next(3);
                    g = window ? 60 : (facade ? 180 : 150) + noise.next(3);
                    b = window ? 80 : (facade ? 170 : 140) + noise.next(3);
                }
            }
            p[0] = clampByte(r);
            p[1] = clampByte(g);
            p[2] = clampByte(b);
            p[3] = 255;
        }
    }
    return image;
}

// The picture in `path` as the renderer captures it: RGBA, 8 bits a channel.
osg::ref_ptr<osg::Image> asCapture(const char* path)
{
    const osg::ref_ptr<osg::Image> picture = osgDB::readImageFile(path);
    if (!picture || picture->getDataType() != GL_UNSIGNED_BYTE ||
        (picture->getPixelFormat() != GL_RGB && picture->getPixelFormat() != GL_RGBA)) {
        return nullptr;
    }
    const int bytes = picture->getPixelFormat() == GL_RGB ? 3 : 4;
    osg::ref_ptr<osg::Image> capture = new osg::Image;
    capture->allocateImage(picture->s(), picture->t(), 1, GL_RGBA, GL_UNSIGNED_BYTE);
    for (int y = 0; y < picture->t(); ++y) {
        for (int x = 0; x < picture->s(); ++x) {
            const unsigned char* in = picture->data(x, y);
            unsigned char* out = capture->data(x, y);
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = bytes == 4 ? in[3] : 255;
        }
    }
    return capture;
}

double medianSeconds(int runs, const std::function<bool()>& step)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!step()) {
            std::fprintf(stderr, "write failed\n");
            return -1.0;
        }
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Median time of encoding into /dev/null.
double encodeSeconds(int runs, const std::function<bool(std::FILE*)>& encode)
{
    std::FILE* sink = std::fopen("/dev/null", "wb");
    const double seconds = sink ? medianSeconds(runs, [&] { return encode(sink); }) : -1.0;
    if (sink) {
        std::fclose(sink);
    }
    return seconds;
}

// Median time of hashing the bytes of `path` once they are in memory.
double hashSeconds(int runs, const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    vistrel::ContentHasher hasher;
    return medianSeconds(runs * 5, [&] {
        hasher.reset();
        hasher.add(bytes.data(), bytes.size());
        return hasher.digest().size == bytes.size();
    });
}

void report(const char* format, double writeTime, double encodeTime, const fs::path& path, int runs)
{
    const double hashTime = hashSeconds(runs, path);
    std::printf("%-4s write %.3f s  encode only %.3f s  %8.1f KiB  hash %.2f ms (%.2f %% of the write)\n", format,
                writeTime, encodeTime, fs::file_size(path) / 1024.0, hashTime * 1e3, 100.0 * hashTime / writeTime);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
    const osg::ref_ptr<osg::Image> capture = argc > 3 ? asCapture(argv[3]) : renderedLookingCapture();
    if (!capture) {
        std::fprintf(stderr, "cannot read %s as an 8-bit RGB or RGBA picture\n", argv[3]);
        return 1;
    }

    vistrel::RenderConfig config;
    config.jpg_quality = 95;
    config.output_dpi = 300;
    const std::string png = (folder / "encode_bench.png").string();
    const std::string jpg = (folder / "encode_bench.jpg").string();
    const std::string pdf = (folder / "encode_bench.pdf").string();

    const double pngTime = medianSeconds(runs, [&] { return vistrel::writeImageFile(capture.get(), config, png).written(); });
    const double jpgTime = medianSeconds(runs, [&] { return vistrel::writeImageFile(capture.get(), config, jpg).written(); });
    const double pdfTime = medianSeconds(runs, [&] { return vistrel::writeImageFile(capture.get(), config, pdf).written(); });
    const double pngEncode =
        encodeSeconds(runs, [&](std::FILE* out) { return vistrel::encodePng(*capture, config.output_dpi, out); });
    const double jpgEncode = encodeSeconds(
        runs, [&](std::FILE* out) { return vistrel::encodeJpeg(*capture, config.output_dpi, config.jpg_quality, out); });

    std::printf("capture %d x %d, %d bytes a pixel, %d runs each (median), jpeg quality %d\n", capture->s(),
                capture->t(), capture->getPixelSizeInBits() / 8, runs, config.jpg_quality);
    report("png", pngTime, pngEncode, png, runs);
    report("jpeg", jpgTime, jpgEncode, jpg, runs);
    report("pdf", pdfTime, 0.0, pdf, runs);
    for (const auto& path : {png, jpg, pdf}) {
        fs::remove(path);
    }
    return pngTime < 0 || jpgTime < 0 || pdfTime < 0 ? 1 : 0;
}
