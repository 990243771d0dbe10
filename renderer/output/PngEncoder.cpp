#include "output/PngEncoder.h"

#include "output/CaptureRows.h"

#include <libdeflate.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace vistrel {

namespace {

// Rendered views are large flat areas with some texture: every row filtered
// against the row above ("Up") and deflated at libdeflate's fastest level
// compresses them well at several times the speed of zlib's default settings.
constexpr int kDeflateLevel = 1;
constexpr unsigned char kFilterUp = 2;
// Compressed pixels go out in IDAT chunks of at most this size.
constexpr std::size_t kMaxChunkBytes = 8u << 20;

using Compressor = std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)>;

// A buffer left uninitialised: every byte of it is written before it is read,
// and untouched pages of a generous bound cost nothing.
struct Bytes {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
};

Bytes uninitialisedBytes(std::size_t size)
{
    return Bytes{std::unique_ptr<unsigned char[]>(new unsigned char[size]), size};
}

void putWord(unsigned char* at, std::uint32_t value)
{
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
}

// One chunk: length, type, data and the CRC-32 of type and data.
bool writeChunk(std::FILE* out, const char* type, const unsigned char* data, std::size_t size)
{
    unsigned char head[8];
    putWord(head, static_cast<std::uint32_t>(size));
    std::copy(type, type + 4, head + 4);
    std::uint32_t crc = libdeflate_crc32(0, head + 4, 4);
    if (size > 0) {
        crc = libdeflate_crc32(crc, data, size);  // a null buffer would start the CRC over
    }
    unsigned char tail[4];
    putWord(tail, crc);
    return std::fwrite(head, 1, sizeof head, out) == sizeof head &&
           (size == 0 || std::fwrite(data, 1, size, out) == size) &&
           std::fwrite(tail, 1, sizeof tail, out) == sizeof tail;
}

// Signature, IHDR (8-bit RGB, not interlaced) and, for a positive `dpi`, pHYs
// in pixels per metre.
bool writeHeader(std::FILE* out, const osg::Image& image, int dpi)
{
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    unsigned char header[13] = {};
    putWord(header, static_cast<std::uint32_t>(image.s()));
    putWord(header + 4, static_cast<std::uint32_t>(image.t()));
    header[8] = 8;  // bits per sample
    header[9] = 2;  // RGB; compression, filter method and interlace stay 0
    if (std::fwrite(kSignature, 1, sizeof kSignature, out) != sizeof kSignature ||
        !writeChunk(out, "IHDR", header, sizeof header)) {
        return false;
    }
    if (dpi < 1) {
        return true;
    }
    const auto pixelsPerMetre = static_cast<std::uint32_t>(std::lround(dpi / 0.0254));
    unsigned char physical[9] = {};
    putWord(physical, pixelsPerMetre);
    putWord(physical + 4, pixelsPerMetre);
    physical[8] = 1;  // the unit is the metre
    return writeChunk(out, "pHYs", physical, sizeof physical);
}

// The four bytes at `a` less those at `b`, each byte on its own (modulo 256,
// no borrow between bytes).
inline std::uint32_t byteDifferences(const unsigned char* a, const unsigned char* b)
{
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return ((x | 0x80808080u) - (y & 0x7F7F7F7Fu)) ^ ((x ^ ~y) & 0x80808080u);
}

// One upright row as the "Up" filter stores it: the RGB bytes' differences
// to the row above, alpha left out.
void filterRowUp(const unsigned char* in, const unsigned char* above, std::size_t width, int pixelBytes,
                 unsigned char* out)
{
    if (pixelBytes == 3) {
        for (std::size_t i = 0; i < 3 * width; ++i) {
            out[i] = static_cast<unsigned char>(in[i] - above[i]);
        }
        return;
    }
    // A pixel's four differences are stored whole; the next pixel overwrites
    // the alpha byte, and the row's last pixel keeps to its three bytes.
    for (std::size_t x = 0; x + 1 < width; ++x) {
        const std::uint32_t difference = byteDifferences(in + 4 * x, above + 4 * x);
        std::memcpy(out + 3 * x, &difference, 4);
    }
    const std::uint32_t last = byteDifferences(in + 4 * (width - 1), above + 4 * (width - 1));
    std::memcpy(out + 3 * (width - 1), &last, 3);
}

// The upright RGB rows as PNG stores them before deflate: each a filter-type
// byte and the row filtered "Up" (against zeros above the top row).
Bytes upFilteredRows(const osg::Image& image, int pixelBytes)
{
    const std::size_t width = static_cast<std::size_t>(image.s());
    const std::size_t stride = 1 + 3 * width;
    Bytes rows = uninitialisedBytes(stride * static_cast<std::size_t>(image.t()));
    const std::vector<unsigned char> zeros(width * static_cast<std::size_t>(pixelBytes), 0);
    for (int r = 0; r < image.t(); ++r) {
        unsigned char* row = rows.data.get() + static_cast<std::size_t>(r) * stride;
        row[0] = kFilterUp;
        filterRowUp(uprightRow(image, r), r == 0 ? zeros.data() : uprightRow(image, r - 1), width, pixelBytes, row + 1);
    }
    return rows;
}

// The zlib stream of the filtered rows; empty when it cannot be made.
Bytes compressedPixels(const osg::Image& image, int pixelBytes)
{
    const Compressor compressor(libdeflate_alloc_compressor(kDeflateLevel), &libdeflate_free_compressor);
    if (!compressor) {
        return {};
    }
    const Bytes rows = upFilteredRows(image, pixelBytes);
    Bytes packed = uninitialisedBytes(libdeflate_zlib_compress_bound(compressor.get(), rows.size));
    packed.size =
        libdeflate_zlib_compress(compressor.get(), rows.data.get(), rows.size, packed.data.get(), packed.size);
    return packed;
}

}  // namespace

bool encodePng(const osg::Image& image, int dpi, std::FILE* out)
{
    const int pixelBytes = rgbPixelBytes(image);
    if (!out || !image.data() || image.s() < 1 || image.t() < 1 || pixelBytes == 0) {
        return false;
    }
    const Bytes packed = compressedPixels(image, pixelBytes);
    if (packed.size == 0 || !writeHeader(out, image, dpi)) {
        return false;
    }
    for (std::size_t at = 0; at < packed.size; at += kMaxChunkBytes) {
        if (!writeChunk(out, "IDAT", packed.data.get() + at, std::min(kMaxChunkBytes, packed.size - at))) {
            return false;
        }
    }
    return writeChunk(out, "IEND", nullptr, 0);
}

}  // namespace vistrel
