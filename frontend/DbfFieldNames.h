#pragma once

#include <QString>
#include <QStringList>

// The attribute file beside a shapefile: same folder (absolute) and name,
// last suffix replaced by ".dbf".
QString dbfPathForShapefile(const QString& shpPath);

// Field names from the header of a dBASE attribute file, in file order,
// trimmed, without empty names or duplicates. Empty when the file cannot be
// read or its header is too short.
QStringList readDbfFieldNames(const QString& dbfPath);
