#include "VectorSource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <cmath>
#include <memory>

namespace {

struct DatasetCloser {
    void operator()(void* dataset) const { GDALClose(dataset); }
};
using DatasetPtr = std::unique_ptr<void, DatasetCloser>;

struct SrsDeleter {
    void operator()(void* srs) const { OSRDestroySpatialReference(srs); }
};
using SrsPtr = std::unique_ptr<void, SrsDeleter>;

DatasetPtr openVector(const QString& path)
{
    GDALAllRegister();
    return DatasetPtr(
        GDALOpenEx(path.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
}

bool isPolygonLayer(OGRLayerH layer)
{
    const OGRwkbGeometryType type = wkbFlatten(OGR_L_GetGeomType(layer));
    return type == wkbPolygon || type == wkbMultiPolygon;
}

OGRLayerH framesLayer(GDALDatasetH dataset)
{
    const int count = GDALDatasetGetLayerCount(dataset);
    for (int i = 0; i < count; ++i) {
        OGRLayerH layer = GDALDatasetGetLayer(dataset, i);
        if (layer && isPolygonLayer(layer))
            return layer;
    }
    return count > 0 ? GDALDatasetGetLayer(dataset, 0) : nullptr;
}

// A 3D Tiles model stands in an east-north-up frame at its root transform's
// origin (ECEF), or at the centre of its root region: "ENU:lat,lon,h", as
// Vistrel names it; empty when the tileset places it nowhere on the Earth.
QString tilesetSrsText(const QString& tilesetPath)
{
    QFile file(tilesetPath);
    if (file.size() > qint64(256) * 1024 * 1024 || !file.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object().value(u"root").toObject();
    const QJsonArray transform = root.value(u"transform").toArray();
    const QJsonArray region = root.value(u"boundingVolume").toObject().value(u"region").toArray();
    double lat = 0.0, lon = 0.0, h = 0.0;
    if (transform.size() == 16) {
        const double x = transform[12].toDouble(), y = transform[13].toDouble(), z = transform[14].toDouble();
        if (std::hypot(x, y, z) < 6.0e6)
            return {};
        SrsPtr ecef(OSRNewSpatialReference(nullptr));
        SrsPtr geodetic(OSRNewSpatialReference(nullptr));
        OSRImportFromEPSG(ecef.get(), 4978);
        OSRImportFromEPSG(geodetic.get(), 4979);
        OSRSetAxisMappingStrategy(geodetic.get(), OAMS_TRADITIONAL_GIS_ORDER);
        OGRCoordinateTransformationH to = OCTNewCoordinateTransformation(ecef.get(), geodetic.get());
        double px = x, py = y, pz = z;
        const bool moved = to && OCTTransform(to, 1, &px, &py, &pz);
        OCTDestroyCoordinateTransformation(to);
        if (!moved)
            return {};
        lon = px, lat = py, h = pz;
    } else if (region.size() == 6) {
        const double degrees = 180.0 / 3.14159265358979323846;
        lon = (region[0].toDouble() + region[2].toDouble()) / 2.0 * degrees;
        lat = (region[1].toDouble() + region[3].toDouble()) / 2.0 * degrees;
    } else {
        return {};
    }
    return QStringLiteral("ENU:%1,%2,%3").arg(lat, 0, 'f', 9).arg(lon, 0, 'f', 9).arg(h, 0, 'f', 3);
}

// The model's SRS text: a 3D Tiles model's frame (tilesetSrsText), else the
// SRS element of the model's metadata.xml (beside it or one folder up).
QString modelSrsText(const QString& modelPath)
{
    const QFileInfo info(modelPath);
    const QString tileset =
        info.isDir() ? QDir(info.absoluteFilePath()).filePath(QStringLiteral("tileset.json")) : info.absoluteFilePath();
    if (tileset.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive) && QFileInfo(tileset).isFile())
        return tilesetSrsText(tileset);
    const QDir folder = info.isDir() ? QDir(info.absoluteFilePath()) : info.absoluteDir();
    for (const QString& candidate :
         {folder.filePath(QStringLiteral("metadata.xml")), folder.filePath(QStringLiteral("../metadata.xml"))}) {
        QFile file(candidate);
        if (file.size() > qint64(16) * 1024 * 1024 || !file.open(QIODevice::ReadOnly))
            continue;
        static const QRegularExpression srs(QStringLiteral("<\\s*SRS\\s*>\\s*([^<]+?)\\s*<\\s*/\\s*SRS\\s*>"),
                                            QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch match = srs.match(QString::fromUtf8(file.readAll()));
        if (match.hasMatch())
            return match.captured(1);
    }
    return {};
}

SrsPtr srsFromText(const QString& text)
{
    SrsPtr srs(OSRNewSpatialReference(nullptr));
    if (text.isEmpty() || OSRSetFromUserInput(srs.get(), text.toUtf8().constData()) != OGRERR_NONE)
        return nullptr;
    return srs;
}

SrsPtr framesSrs(const QString& framesPath)
{
    const DatasetPtr dataset = openVector(framesPath);
    OGRLayerH layer = dataset ? framesLayer(dataset.get()) : nullptr;
    OGRSpatialReferenceH srs = layer ? OGR_L_GetSpatialRef(layer) : nullptr;
    return srs ? SrsPtr(OSRClone(srs)) : nullptr;
}

QString nameOf(OGRSpatialReferenceH srs)
{
    const char* name = OSRGetName(srs);
    return name ? QString::fromUtf8(name) : QStringLiteral("未命名坐标系");
}

// A Gauss-Krüger zone system whose false easting carries the zone number is
// taken without it, as the renderer takes the zone prefix off x. Written out
// and read back, so that the changed system no longer claims its EPSG code.
SrsPtr withoutZoneInFalseEasting(OGRSpatialReferenceH srs)
{
    OGRErr error = OGRERR_NONE;
    const double falseEasting = OSRIsProjected(srs) ? OSRGetNormProjParm(srs, SRS_PP_FALSE_EASTING, 0.0, &error) : 0.0;
    if (error != OGRERR_NONE || falseEasting < 1.0e7)
        return SrsPtr(OSRClone(srs));
    SrsPtr changed(OSRClone(srs));
    OSRSetNormProjParm(changed.get(), SRS_PP_FALSE_EASTING, std::fmod(falseEasting, 1.0e6));
    char* wkt = nullptr;
    const char* const options[] = {"FORMAT=WKT2_2019", nullptr};
    OSRExportToWktEx(changed.get(), &wkt, options);
    SrsPtr reread(OSRNewSpatialReference(nullptr));
    char* cursor = wkt;
    const bool read = wkt && OSRImportFromWkt(reread.get(), &cursor) == OGRERR_NONE;
    CPLFree(wkt);
    return read ? std::move(reread) : SrsPtr(OSRClone(srs));
}

}  // namespace

bool isShapefilePath(const QString& path)
{
    return path.endsWith(QStringLiteral(".shp"), Qt::CaseInsensitive);
}

QStringList readVectorFieldNames(const QString& path)
{
    QStringList names;
    const DatasetPtr dataset = openVector(path);
    OGRLayerH layer = dataset ? framesLayer(dataset.get()) : nullptr;
    OGRFeatureDefnH definition = layer ? OGR_L_GetLayerDefn(layer) : nullptr;
    for (int i = 0; definition && i < OGR_FD_GetFieldCount(definition); ++i)
        names.append(QString::fromUtf8(OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(definition, i))));
    return names;
}

QString coordinateSystemsNote(const QString& modelPath, const QString& framesPath)
{
    if (modelPath.trimmed().isEmpty() || framesPath.trimmed().isEmpty())
        return {};
    const QString modelText = modelSrsText(modelPath);
    const bool enu = modelText.startsWith(QStringLiteral("ENU:"), Qt::CaseInsensitive);
    const SrsPtr model = enu ? nullptr : srsFromText(modelText);
    const SrsPtr frames = framesSrs(framesPath);
    const QString modelName = enu ? modelText : model ? nameOf(model.get()) : QStringLiteral("未知");
    const QString framesName = frames ? nameOf(frames.get()) : QStringLiteral("未知");
    QString outcome;
    if ((!model && !enu) || !frames) {
        outcome = QStringLiteral("（坐标系未知，按原坐标使用）");
    } else {
        const bool same = !enu && OSRIsSame(model.get(), withoutZoneInFalseEasting(frames.get()).get());
        outcome = same ? QStringLiteral("（坐标系一致）") : QStringLiteral(" → 将转换到模型坐标");
    }
    return QStringLiteral("模型：%1；图斑：%2%3").arg(modelName, framesName, outcome);
}
