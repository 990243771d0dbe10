#include "PathDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {

// Labels of Qt's dialog that the translations leave to the style.
void speakChinese(QFileDialog& dialog, const QString& acceptText)
{
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("位置："));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("名称："));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("类型："));
    dialog.setLabelText(QFileDialog::Accept, acceptText);
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("取消"));
}

QString chosen(QFileDialog& dialog)
{
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

// Picks folders, and files too: the folder mode of Qt's dialog shows files
// but accepts only folders.
class FolderOrFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (!files.isEmpty() && QFileInfo(files.first()).isFile()) {
            // Past QFileDialog's own accept, which takes only folders here.
            QDialog::accept();  // NOLINT(bugprone-parent-virtual-call)
            return;
        }
        QFileDialog::accept();
    }
};

const char kFramesFilter[] = "矢量图斑 (*.shp *.gpkg *.geojson *.json *.kml *.gdbtable);;"
                             "SHP 文件 (*.shp);;GeoPackage (*.gpkg);;GeoJSON (*.geojson *.json);;KML (*.kml);;"
                             "文件地理数据库 (*.gdbtable);;所有文件 (*)";
const char kProjectFilter[] = "项目文件 (*.json);;所有文件 (*)";

}  // namespace

QString dialogStartFolder(const QString& current, const QString& fallback)
{
    QString path = current.trimmed();
    if (path.isEmpty())
        return fallback;
    path = QDir::cleanPath(QDir::fromNativeSeparators(path));
    while (!QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            return fallback;
        path = parent;
    }
    return path;
}

QString chooseModelPath(QWidget* parent, const QString& title, const QString& start)
{
    FolderOrFileDialog dialog(parent, title, start);
    dialog.setFileMode(QFileDialog::Directory);
    speakChinese(dialog, QStringLiteral("选择"));
    dialog.setNameFilter(QStringLiteral("模型 (*.osgb tileset.json *.json)"));
    return chosen(dialog);
}

QString chooseFramesFile(QWidget* parent, const QString& title, const QString& start)
{
    QFileDialog dialog(parent, title, start, QString::fromUtf8(kFramesFilter));
    dialog.setFileMode(QFileDialog::ExistingFile);
    speakChinese(dialog, QStringLiteral("打开"));
    return chosen(dialog);
}

QString chooseFolder(QWidget* parent, const QString& title, const QString& start)
{
    QFileDialog dialog(parent, title, start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    speakChinese(dialog, QStringLiteral("选择"));
    return chosen(dialog);
}

QString chooseProjectToOpen(QWidget* parent, const QString& start)
{
    QFileDialog dialog(parent, QStringLiteral("打开项目"), start, QString::fromUtf8(kProjectFilter));
    dialog.setFileMode(QFileDialog::ExistingFile);
    speakChinese(dialog, QStringLiteral("打开"));
    return chosen(dialog);
}

QString chooseProjectToSave(QWidget* parent, const QString& start)
{
    QFileDialog dialog(parent, QStringLiteral("项目另存为"), start, QString::fromUtf8(kProjectFilter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("json"));
    speakChinese(dialog, QStringLiteral("保存"));
    return chosen(dialog);
}
