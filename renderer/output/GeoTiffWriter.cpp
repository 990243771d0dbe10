#include "output/GeoTiffWriter.h"

#include "output/CaptureRows.h"
#include "output/StagedFile.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace vistrel {

namespace {

struct DatasetClose {
    void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetClose>;

// GDAL's messages on this thread are kept for the reason instead of going to
// the run's log, while the object lives.
struct QuietGdal {
    QuietGdal()
    {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~QuietGdal() { CPLPopErrorHandler(); }
    QuietGdal(const QuietGdal&) = delete;
    QuietGdal& operator=(const QuietGdal&) = delete;
    static std::string reason(const char* fallback)
    {
        const char* message = CPLGetLastErrorMsg();
        return message && *message ? message : fallback;
    }
};

// The picture, upright and without alpha, in a GDAL memory dataset with the
// DPI and, for a vertical picture, its place.
Dataset sourceOf(const WriteRequest& request, int pixelBytes)
{
    const osg::Image& image = *request.pixels;
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
    if (!memory) {
        return nullptr;
    }
    Dataset source(memory->Create("", image.s(), image.t(), 3, GDT_Byte, nullptr));
    if (!source) {
        return nullptr;
    }
    const GSpacing line = image.t() > 1 ? uprightRow(image, 1) - uprightRow(image, 0) : 0;
    int bands[] = {1, 2, 3};
    auto* top = const_cast<unsigned char*>(uprightRow(image, 0));
    if (source->RasterIO(GF_Write, 0, 0, image.s(), image.t(), top, image.s(), image.t(), GDT_Byte, 3, bands,
                         pixelBytes, line, 1, nullptr) != CE_None) {
        return nullptr;
    }
    if (request.dpi > 0) {
        const std::string dpi = std::to_string(request.dpi);
        source->SetMetadataItem("TIFFTAG_XRESOLUTION", dpi.c_str());
        source->SetMetadataItem("TIFFTAG_YRESOLUTION", dpi.c_str());
        source->SetMetadataItem("TIFFTAG_RESOLUTIONUNIT", "2");  // inches
    }
    if (request.place) {
        double transform[6];
        footprintGeoTransform(request.place->footprint, transform);
        source->SetGeoTransform(transform);
        if (!request.place->storedWkt.empty()) {
            source->SetProjection(request.place->storedWkt.c_str());
        }
    }
    return source;
}

// Encodes `source` into a GDAL memory file with the driver a picture of its
// kind takes; the file's name, or empty when GDAL failed.
std::string encode(GDALDataset& source, const WriteRequest& request)
{
    static std::atomic<unsigned> serial{0};
    const std::string name = "/vsimem/vistrel-picture-" + std::to_string(++serial) + ".tif";
    const bool vertical = request.place.has_value();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(vertical ? "COG" : "GTiff");
    if (!driver) {
        return {};
    }
    CPLStringList options;
    if (vertical) {
        options.SetNameValue("COMPRESS", "JPEG");
        options.SetNameValue("QUALITY", std::to_string(std::clamp(request.quality, 1, 100)).c_str());
    } else {
        options.SetNameValue("COMPRESS", "DEFLATE");
        options.SetNameValue("PREDICTOR", "2");
    }
    Dataset copy(driver->CreateCopy(name.c_str(), &source, FALSE, options.List(), nullptr, nullptr));
    const bool made = copy != nullptr;
    copy.reset();  // closing writes what is still cached
    if (!made || CPLGetLastErrorType() == CE_Failure) {
        VSIUnlink(name.c_str());
        return {};
    }
    return name;
}

// Moves the memory file `name` into a staged file at `path`.
bool stageMemoryFile(const std::string& name, const std::string& path, std::string& reason, FileDigest& digest)
{
    vsi_l_offset length = 0;
    GByte* bytes = VSIGetMemFileBuffer(name.c_str(), &length, TRUE);
    VSIUnlink(name.c_str());
    const std::unique_ptr<GByte, decltype(&VSIFree)> held(bytes, VSIFree);
    if (!bytes) {
        reason = "GDAL gave no file";
        return false;
    }
    StagedFile file(path);
    if (!file.open()) {
        reason = file.error();
        return false;
    }
    if (std::fwrite(bytes, 1, length, file.stream()) == length && file.commit()) {
        digest = file.digest();
        return true;
    }
    reason = file.error().empty() ? "write error" : file.error();
    return false;
}

}  // namespace

void footprintGeoTransform(const PictureFootprint& f, double transform[6])
{
    transform[0] = f.centerX - f.width / 2.0;
    transform[1] = f.width / f.pixelsX;
    transform[2] = 0.0;
    transform[3] = f.centerY + f.height / 2.0;
    transform[4] = 0.0;
    transform[5] = -f.height / f.pixelsY;
}

bool writeGeoTiff(const WriteRequest& request, std::string& reason, FileDigest& digest)
{
    const osg::Image* image = request.pixels;
    if (!image || !image->data() || image->s() < 1 || image->t() < 1) {
        return false;
    }
    const int pixelBytes = rgbPixelBytes(*image);
    if (pixelBytes == 0) {
        return false;
    }
    static std::once_flag registered;
    std::call_once(registered, [] { GDALAllRegister(); });
    const QuietGdal quiet;
    const Dataset source = sourceOf(request, pixelBytes);
    const std::string encoded = source ? encode(*source, request) : std::string();
    if (encoded.empty()) {
        reason = QuietGdal::reason("GDAL could not encode the picture");
        return false;
    }
    return stageMemoryFile(encoded, request.path, reason, digest);
}

}  // namespace vistrel
