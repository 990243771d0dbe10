#include "TestExport.h"

#include "PathText.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The first folder of a path below the output folder, as the name template
// or the field separator gives it ("测试导出\<ZDDM>" writes into the test
// folder).
QString firstFolderOf(const QString& templateText)
{
    // Templates name folders with a backslash on every system.
    const QString path = QString(templateText.trimmed()).replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype slash = path.indexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

}  // namespace

QString testExportFolder(const QString& outputFolder)
{
    return QDir::cleanPath(QDir(outputFolder).absoluteFilePath(QString::fromUtf8(kTestExportFolderName)));
}

QString testExportRefusal(const QJsonObject& runSettings, const QString& outputFolder)
{
    const QString folder = testExportFolder(outputFolder);
    const QString name = QString::fromUtf8(kTestExportFolderName);
    const QFileInfo test(folder);
    const QFileInfo batch(outputFolder);
    const bool linkedBack = test.exists() && batch.exists() && test.canonicalFilePath() == batch.canonicalFilePath();
    const QString templateText = runSettings.value(QLatin1String("photo_name_template")).toString();
    if (linkedBack || firstFolderOf(templateText) == name)
        return QStringLiteral("测试导出写入输出目录下的“%1”文件夹，但这个文件夹正是批量任务自己的输出位置（%2）。"
                              "请换一个输出目录或照片名称模板后再测试。")
            .arg(name, QDir::toNativeSeparators(folder));
    return QString();
}

QJsonObject testExportSettings(QJsonObject runSettings, const QString& outputFolder)
{
    runSettings.insert(QStringLiteral("output_dir"), cleanNativePath(testExportFolder(outputFolder)));
    return runSettings;
}
