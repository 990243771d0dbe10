#include "RendererLocation.h"

#include <QDir>
#include <QFileInfo>

QString locateRenderer(const QString& programDir)
{
    const QString name = QString::fromLatin1(kRendererName);
    const QString candidates[] = {
        name,
        QStringLiteral("../build-vcpkg/Release/") + name,
        QStringLiteral("../../build-vcpkg/Release/") + name,
    };
    const QDir dir(programDir);
    for (const QString& candidate : candidates) {
        const QString path = QDir::cleanPath(dir.filePath(candidate));
        if (QFileInfo::exists(path))
            return path;
    }
    return QDir::cleanPath(dir.filePath(candidates[0]));
}
