#pragma once

#include <QDir>
#include <QString>

// A path as the form shows it: cleaned, with the platform's separators.
inline QString cleanNativePath(const QString& path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(path));
}
