#include "output/PdfWriter.h"

#include "core/NumberText.h"
#include "output/CaptureRows.h"
#include "output/StagedFile.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vistrel {

namespace {

constexpr const char* kProducer = "Tavrin";

// Writes to the staged stream and counts the bytes, for the object offsets.
struct PdfOutput {
    std::FILE* file;
    std::uint64_t offset = 0;
    bool good = true;

    void put(const void* bytes, std::size_t size)
    {
        if (good && size > 0 && std::fwrite(bytes, 1, size, file) != size) {
            good = false;
        }
        offset += size;
    }
    void put(const std::string& text) { put(text.data(), text.size()); }
};

// Upright RGB samples: top row first, alpha dropped.
std::vector<unsigned char> rgbSamples(const osg::Image& image, int pixelBytes)
{
    const int s = image.s();
    const int t = image.t();
    std::vector<unsigned char> samples(static_cast<std::size_t>(s) * t * 3);
    unsigned char* out = samples.data();
    for (int r = 0; r < t; ++r) {
        const unsigned char* in = uprightRow(image, r);
        for (int x = 0; x < s; ++x, in += pixelBytes, out += 3) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
    }
    return samples;
}

std::string objectHeader(int number)
{
    return std::to_string(number) + " 0 obj\n";
}

std::string xrefEntry(std::uint64_t offset)
{
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010llu 00000 n \n", static_cast<unsigned long long>(offset));
    return entry;
}

}  // namespace

std::string escapePdfString(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        if (c == '\\' || c == '(' || c == ')') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

namespace {

// The one-page document: catalog, pages, page, image and content stream,
// then the cross-reference table.
void putDocument(PdfOutput& out, const osg::Image& image, const std::vector<unsigned char>& samples, int outputDpi)
{
    const int dpi = outputDpi < 1 ? 1 : outputDpi;
    const std::string width = fixedNumber(image.s() * 72.0 / dpi, 3);
    const std::string height = fixedNumber(image.t() * 72.0 / dpi, 3);
    std::array<std::uint64_t, 5> offsets{};

    out.put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");

    offsets[0] = out.offset;
    out.put(objectHeader(1) + "<< /Type /Catalog /Pages 2 0 R >>" + "\nendobj\n");

    offsets[1] = out.offset;
    out.put(objectHeader(2) + "<< /Type /Pages /Kids [3 0 R] /Count 1 >>" + "\nendobj\n");

    offsets[2] = out.offset;
    out.put(objectHeader(3) + "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + width + " " + height +
            "] /Resources << /XObject << /Im0 4 0 R >> >> /Contents 5 0 R >>" + "\nendobj\n");

    offsets[3] = out.offset;
    out.put(objectHeader(4) + "<< /Type /XObject /Subtype /Image /Width " + std::to_string(image.s()) + " /Height " +
            std::to_string(image.t()) + " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Length " +
            std::to_string(samples.size()) + " >>\nstream\n");
    out.put(samples.data(), samples.size());
    out.put("\nendstream\nendobj\n");

    const std::string content = "q\n" + width + " 0 0 " + height + " 0 0 cm\n/Im0 Do\nQ\n";
    offsets[4] = out.offset;
    out.put(objectHeader(5) + "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
            "endstream\nendobj\n");

    const std::uint64_t xref = out.offset;
    std::string tail = "xref\n0 6\n0000000000 65535 f \n";
    for (const std::uint64_t offset : offsets) {
        tail += xrefEntry(offset);
    }
    tail += "trailer\n<< /Size 6 /Root 1 0 R /Info << /Producer (" + escapePdfString(kProducer) +
            ") >> >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    out.put(tail);
}

}  // namespace

bool writePdf(const WriteRequest& request, std::string& reason, FileDigest& digest)
{
    const osg::Image* image = request.pixels;
    if (!image || !image->data() || image->s() < 1 || image->t() < 1) {
        return false;
    }
    const int pixelBytes = rgbPixelBytes(*image);
    if (pixelBytes == 0) {
        return false;
    }
    const std::vector<unsigned char> samples = rgbSamples(*image, pixelBytes);

    StagedFile file(request.path);
    if (!file.open()) {
        reason = file.error();
        return false;
    }
    PdfOutput out{file.stream()};
    putDocument(out, *image, samples, request.dpi);
    if (out.good && file.commit()) {
        digest = file.digest();
        return true;
    }
    reason = file.error().empty() ? "write error" : file.error();
    return false;
}

}  // namespace vistrel
