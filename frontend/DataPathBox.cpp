// The data paths of the settings form: the fields with their browse
// buttons, the hints below them and the checks of the paths.

#include "DataPathBox.h"

#include "ConfigReference.h"
#include "PathDialogs.h"
#include "PathText.h"
#include "SettingsFile.h"
#include "VectorSource.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

namespace {

// A hint line below the paths keeps its place, shown or not, and its
// height whatever its text, so that the rows below never move under the
// pointer; a text longer than the line is whole in the tooltip.
void reserveHintLine(QLabel* label)
{
    QSizePolicy policy = label->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    policy.setHorizontalPolicy(QSizePolicy::Ignored);
    label->setSizePolicy(policy);
    label->setFixedHeight(label->fontMetrics().lineSpacing() + 2);
    label->setWordWrap(false);
}

}  // namespace

DataPathBox::DataPathBox(const QString& programDir, QWidget* parent)
    : QGroupBox(QStringLiteral("数据路径"), parent), m_programDir(programDir)
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setVerticalSpacing(3);
    m_modelPathEdit = addPathRow(grid, 0, "osgb_path", "modelPathEdit", &DataPathBox::browseModelPath);
    m_shapefileEdit = addPathRow(grid, 1, "shp_path", "shapefileEdit", &DataPathBox::browseShapefile);
    m_outputDirEdit = addPathRow(grid, 2, "output_dir", "outputDirEdit", &DataPathBox::browseOutputFolder);
    connect(m_shapefileEdit, &QLineEdit::editingFinished, this, &DataPathBox::framesEdited);
    // Paths reported missing are checked again as they change.
    connect(m_modelPathEdit, &QLineEdit::textChanged, this, &DataPathBox::refreshPathProblems);
    connect(m_shapefileEdit, &QLineEdit::textChanged, this, &DataPathBox::refreshPathProblems);
    addHintLines(grid);
    connect(m_shapefileEdit, &QLineEdit::editingFinished, this, &DataPathBox::updateCoordinateSystemsNote);
    connect(m_modelPathEdit, &QLineEdit::editingFinished, this, &DataPathBox::updateCoordinateSystemsNote);
    for (QLineEdit* edit : {m_modelPathEdit, m_shapefileEdit, m_outputDirEdit})
        connect(edit, &QLineEdit::editingFinished, this, &DataPathBox::pathsChanged);
}

void DataPathBox::addHintLines(QGridLayout* grid)
{
    // A relative output folder is named as the renderer will take it.
    m_outputResolvedLabel = new QLabel(this);
    m_outputResolvedLabel->setObjectName(QStringLiteral("outputResolvedLabel"));
    m_outputResolvedLabel->setStyleSheet(QStringLiteral("color: palette(placeholder-text);"));
    m_outputResolvedLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    reserveHintLine(m_outputResolvedLabel);
    m_outputResolvedLabel->hide();
    grid->addWidget(m_outputResolvedLabel, 3, 1, 1, 2);
    connect(m_outputDirEdit, &QLineEdit::textChanged, this, &DataPathBox::showResolvedOutputFolder);

    m_pathProblemLabel = new QLabel(this);
    m_pathProblemLabel->setObjectName(QStringLiteral("pathProblemLabel"));
    m_pathProblemLabel->setStyleSheet(QStringLiteral("color: #c62828;"));
    reserveHintLine(m_pathProblemLabel);
    m_pathProblemLabel->hide();
    grid->addWidget(m_pathProblemLabel, 4, 1, 1, 2);
    showResolvedOutputFolder();

    m_crsNoteLabel = new QLabel(this);
    m_crsNoteLabel->setObjectName(QStringLiteral("crsNoteLabel"));
    reserveHintLine(m_crsNoteLabel);
    m_crsNoteLabel->hide();
    // The coordinate systems share the problem's line; a problem hides them.
    grid->addWidget(m_crsNoteLabel, 4, 1, 1, 2);
}

QString DataPathBox::modelText() const
{
    return m_modelPathEdit->text();
}

QString DataPathBox::framesText() const
{
    return m_shapefileEdit->text();
}

QString DataPathBox::outputText() const
{
    return m_outputDirEdit->text();
}

void DataPathBox::setTexts(const QString& model, const QString& frames, const QString& output)
{
    m_modelPathEdit->setText(model);
    m_shapefileEdit->setText(frames);
    m_outputDirEdit->setText(output);
}

QLineEdit* DataPathBox::addPathRow(QGridLayout* grid, int row, const char* key, const char* name,
                                   void (DataPathBox::*browse)())
{
    auto* label = new QLabel(configLabel(key), this);
    label->setToolTip(configTooltip(key));
    grid->addWidget(label, row, 0);
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setToolTip(configTooltip(key));
    grid->addWidget(edit, row, 1);
    auto* button = new QPushButton(QStringLiteral("浏览"), this);
    button->setObjectName(QString::fromLatin1(name) + QStringLiteral("Browse"));
    grid->addWidget(button, row, 2);
    connect(button, &QPushButton::clicked, this, browse);
    return edit;
}

// Names the model and shapefile paths that do not exist below the path
// fields, with a red frame around their fields; empty fields are left to
// the "参数不完整" message.
bool DataPathBox::checkDataPaths()
{
    const std::pair<QLineEdit*, const char*> needed[] = {
        {m_modelPathEdit, "OSGB/3D Tiles 模型"},
        {m_shapefileEdit, "SHP 图斑文件"},
    };
    QStringList problems;
    for (const auto& [edit, what] : needed) {
        const QString text = edit->text().trimmed();
        const QString path = resolvedRunPath(QDir::cleanPath(QDir::fromNativeSeparators(text)));
        const bool missing = !text.isEmpty() && !QFileInfo::exists(path);
        edit->setStyleSheet(missing ? QStringLiteral("QLineEdit { border: 1px solid #c62828; }") : QString());
        if (missing)
            problems.append(
                QStringLiteral("找不到 %1：%2").arg(QString::fromUtf8(what), QDir::toNativeSeparators(path)));
    }
    m_pathProblemLabel->setText(problems.join(QStringLiteral("；")));
    m_pathProblemLabel->setToolTip(m_pathProblemLabel->text());
    m_pathProblemLabel->setVisible(!problems.isEmpty());
    m_crsNoteLabel->setVisible(problems.isEmpty() && !m_crsNoteLabel->text().isEmpty());
    return problems.isEmpty();
}

// Once paths were reported missing, the report follows every change.
void DataPathBox::refreshPathProblems()
{
    if (!m_pathProblemLabel->isHidden())
        checkDataPaths();
}

QString DataPathBox::resolvedRunPath(const QString& text) const
{
    const QString runFolder = QFileInfo(runFilePathFor(m_programDir)).absolutePath();
    return QDir::cleanPath(QDir(runFolder).absoluteFilePath(QDir::fromNativeSeparators(text)));
}

QString DataPathBox::resolvedOutputFolder(const QString& outputDirText) const
{
    if (outputDirText.trimmed().isEmpty())
        return QDir::cleanPath(QDir(m_programDir).absoluteFilePath(QStringLiteral("output")));
    return resolvedRunPath(outputDirText.trimmed());
}

void DataPathBox::showResolvedOutputFolder()
{
    // An empty field is refused at the start; the hint says so rather than
    // naming a folder nothing will be written to.
    const QString text = m_outputDirEdit->text().trimmed();
    const bool relative = text.isEmpty() || QDir::isRelativePath(QDir::fromNativeSeparators(text));
    m_outputResolvedLabel->setText(text.isEmpty() ? QStringLiteral("尚未选择输出目录")
                                                  : QStringLiteral("实际位置：") +
                                                        QDir::toNativeSeparators(resolvedOutputFolder(text)));
    m_outputResolvedLabel->setToolTip(m_outputResolvedLabel->text());
    m_outputResolvedLabel->setVisible(relative);
}

QString DataPathBox::browseStartFolder(const char* row, const QLineEdit* edit) const
{
    const QSettings state(uiStatePathFor(m_programDir), QSettings::IniFormat);
    const QString remembered = state.value(QStringLiteral("browse/") + QLatin1String(row)).toString();
    const QString text = edit->text().trimmed();
    return dialogStartFolder(text.isEmpty() ? QString() : resolvedRunPath(text), remembered);
}

void DataPathBox::rememberBrowseFolder(const char* row, const QString& folder)
{
    QSettings state(uiStatePathFor(m_programDir), QSettings::IniFormat);
    state.setValue(QStringLiteral("browse/") + QLatin1String(row), folder);
}

void DataPathBox::browseModelPath()
{
    const QString path = chooseModelPath(this, configLabel("osgb_path"), browseStartFolder("model", m_modelPathEdit));
    if (path.isEmpty())
        return;
    rememberBrowseFolder("model", QFileInfo(path).isFile() ? QFileInfo(path).absolutePath() : path);
    setModelPath(path);
}

void DataPathBox::setModelPath(const QString& path)
{
    m_modelPathEdit->setText(cleanNativePath(path));
    updateCoordinateSystemsNote();
    emit pathsChanged();
}

void DataPathBox::updateCoordinateSystemsNote()
{
    const QString model = m_modelPathEdit->text().trimmed();
    const QString frames = m_shapefileEdit->text().trimmed();
    const QString note = model.isEmpty() || frames.isEmpty()
                             ? QString()
                             : coordinateSystemsNote(resolvedRunPath(model), resolvedRunPath(frames));
    m_crsNoteLabel->setText(note);
    m_crsNoteLabel->setToolTip(note);
    m_crsNoteLabel->setVisible(!note.isEmpty() && m_pathProblemLabel->isHidden());
}

void DataPathBox::showCoordinateDecision(const QString& text)
{
    m_crsNoteLabel->setText(text);
    m_crsNoteLabel->setToolTip(text);
    m_crsNoteLabel->setVisible(!text.isEmpty() && m_pathProblemLabel->isHidden());
}

void DataPathBox::browseShapefile()
{
    const QString path =
        chooseFramesFile(this, configLabel("shp_path"), browseStartFolder("shapefile", m_shapefileEdit));
    if (path.isEmpty())
        return;
    rememberBrowseFolder("shapefile", QFileInfo(path).absolutePath());
    setFramesPath(path);
}

void DataPathBox::setFramesPath(const QString& path)
{
    // A file geodatabase is its folder.
    const QString source =
        path.endsWith(QStringLiteral(".gdbtable"), Qt::CaseInsensitive) ? QFileInfo(path).absolutePath() : path;
    m_shapefileEdit->setText(cleanNativePath(source));
    emit framesChosen(m_shapefileEdit->text());
    updateCoordinateSystemsNote();
    emit pathsChanged();
}

void DataPathBox::browseOutputFolder()
{
    const QString path = chooseFolder(this, configLabel("output_dir"), browseStartFolder("output", m_outputDirEdit));
    if (path.isEmpty())
        return;
    m_outputDirEdit->setText(cleanNativePath(path));
    rememberBrowseFolder("output", path);
    emit pathsChanged();
}
