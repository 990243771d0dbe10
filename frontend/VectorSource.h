#pragma once

#include <QString>
#include <QStringList>

// What Tavrin reads of a vector source other than a shapefile's .dbf, and
// of the model's metadata.xml, through GDAL.

// True for a path ending in .shp (any case): its fields come from the .dbf.
bool isShapefilePath(const QString& path);

// The field names of the first layer holding polygons (or of the first
// layer); empty when GDAL cannot open the source.
QStringList readVectorFieldNames(const QString& path);

// The two coordinate systems in short form and whether the frames will be
// moved, e.g. "模型：CGCS2000 / 3-degree Gauss-Kruger CM 114E；图斑：WGS 84 →
// 将转换到模型坐标". Empty while either path is empty.
QString coordinateSystemsNote(const QString& modelPath, const QString& framesPath);
