// The settings form: its layout, the data paths with their checks and
// browse buttons, validity and locking.

#include "SettingsForm.h"

#include "CollapsibleSection.h"
#include "ConfigReference.h"
#include "FieldPicker.h"
#include "FormWidgets.h"
#include "PathText.h"
#include "SettingsFile.h"

#include "PathDialogs.h"
#include "VectorSource.h"

#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QVBoxLayout>

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

// The widget that names a field: its form label, or its own object name.
QString fieldName(const QWidget* field)
{
    for (const QLabel* label : field->parentWidget()->findChildren<QLabel*>()) {
        if (label->buddy() == field)
            return label->text();
    }
    return field->objectName();
}

}  // namespace

SettingsForm::SettingsForm(const QString& programDir, QWidget* parent) : QWidget(parent), m_programDir(programDir)
{
    setObjectName(QStringLiteral("settingsForm"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(buildPathBox());
    layout->addWidget(buildPanels(), 1);
    m_runOptions = buildRunOptions();  // placed by the window
    for (FormSpinBox* spin : findChildren<FormSpinBox*>())
        connect(spin, &QSpinBox::valueChanged, this, &SettingsForm::numbersEdited);
    for (FormDoubleSpinBox* spin : findChildren<FormDoubleSpinBox*>())
        connect(spin, &QDoubleSpinBox::valueChanged, this, &SettingsForm::numbersEdited);
    connect(m_fieldPicker, &FieldPicker::noted, this, &SettingsForm::logLine);
    keepPlaceholdersGrey();
    describeSections();
}

// A closed section names in its tooltip the settings it holds, and their keys.
void SettingsForm::describeSections()
{
    static const QRegularExpression keyLine(QStringLiteral("配置键：(\\S+)"));
    for (CollapsibleSection* section : findChildren<CollapsibleSection*>()) {
        QStringList keys;
        for (const QWidget* field : section->content()->findChildren<QWidget*>()) {
            const QString key = keyLine.match(field->toolTip()).captured(1);
            if (!key.isEmpty() && !keys.contains(key))
                keys.append(key);
        }
        QStringList labels;
        for (const QString& key : keys)
            labels.append(configLabel(key.toLatin1().constData()));
        section->setToolTip(QStringLiteral("点击展开：%1\n配置键：%2")
                                .arg(labels.join(QStringLiteral("、")), keys.join(QStringLiteral("、"))));
    }
}

QWidget* SettingsForm::buildPathBox()
{
    auto* box = new QGroupBox(QStringLiteral("数据路径"), this);
    m_parts.append(box);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setVerticalSpacing(3);
    m_modelPathEdit = addPathRow(grid, 0, "osgb_path", "modelPathEdit", &SettingsForm::browseModelPath);
    m_shapefileEdit = addPathRow(grid, 1, "shp_path", "shapefileEdit", &SettingsForm::browseShapefile);
    m_outputDirEdit = addPathRow(grid, 2, "output_dir", "outputDirEdit", &SettingsForm::browseOutputFolder);
    connect(m_shapefileEdit, &QLineEdit::editingFinished, this, [this] { refreshShapefileFields(false); });
    // Paths reported missing are checked again as they change.
    connect(m_modelPathEdit, &QLineEdit::textChanged, this, &SettingsForm::refreshPathProblems);
    connect(m_shapefileEdit, &QLineEdit::textChanged, this, &SettingsForm::refreshPathProblems);

    // A relative output folder is named as the renderer will take it.
    m_outputResolvedLabel = new QLabel(box);
    m_outputResolvedLabel->setObjectName(QStringLiteral("outputResolvedLabel"));
    m_outputResolvedLabel->setStyleSheet(QStringLiteral("color: palette(placeholder-text);"));
    m_outputResolvedLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    reserveHintLine(m_outputResolvedLabel);
    m_outputResolvedLabel->hide();
    grid->addWidget(m_outputResolvedLabel, 3, 1, 1, 2);
    connect(m_outputDirEdit, &QLineEdit::textChanged, this, &SettingsForm::showResolvedOutputFolder);

    m_pathProblemLabel = new QLabel(box);
    m_pathProblemLabel->setObjectName(QStringLiteral("pathProblemLabel"));
    m_pathProblemLabel->setStyleSheet(QStringLiteral("color: #c62828;"));
    reserveHintLine(m_pathProblemLabel);
    m_pathProblemLabel->hide();
    grid->addWidget(m_pathProblemLabel, 4, 1, 1, 2);
    showResolvedOutputFolder();

    m_crsNoteLabel = new QLabel(box);
    m_crsNoteLabel->setObjectName(QStringLiteral("crsNoteLabel"));
    reserveHintLine(m_crsNoteLabel);
    m_crsNoteLabel->hide();
    // The coordinate systems share the problem's line; a problem hides them.
    grid->addWidget(m_crsNoteLabel, 4, 1, 1, 2);
    connect(m_shapefileEdit, &QLineEdit::editingFinished, this, &SettingsForm::updateCoordinateSystemsNote);
    connect(m_modelPathEdit, &QLineEdit::editingFinished, this, &SettingsForm::updateCoordinateSystemsNote);
    for (QLineEdit* edit : {m_modelPathEdit, m_shapefileEdit, m_outputDirEdit})
        connect(edit, &QLineEdit::editingFinished, this, &SettingsForm::pathsChanged);
    return box;
}

QLineEdit* SettingsForm::addPathRow(QGridLayout* grid, int row, const char* key, const char* name,
                                    void (SettingsForm::*browse)())
{
    QWidget* box = grid->parentWidget();
    auto* label = new QLabel(configLabel(key), box);
    label->setToolTip(configTooltip(key));
    grid->addWidget(label, row, 0);
    auto* edit = new QLineEdit(box);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setToolTip(configTooltip(key));
    grid->addWidget(edit, row, 1);
    auto* button = new QPushButton(QStringLiteral("浏览"), box);
    button->setObjectName(QString::fromLatin1(name) + QStringLiteral("Browse"));
    grid->addWidget(button, row, 2);
    connect(button, &QPushButton::clicked, this, browse);
    return edit;
}

void SettingsForm::setLocked(bool locked)
{
    for (QWidget* part : m_parts)
        part->setEnabled(!locked);
}

// A locked (disabled) field draws its text in the light disabled colour,
// but its placeholder in the same dark half-transparent colour as when it
// is enabled, so that an empty locked field seems to hold its placeholder
// as text. Placeholders of locked fields are drawn lighter than their text,
// as they are in enabled fields.
void SettingsForm::keepPlaceholdersGrey()
{
    for (QLineEdit* edit : findChildren<QLineEdit*>()) {
        QPalette palette = edit->palette();
        QColor placeholder = palette.color(QPalette::Disabled, QPalette::Text);
        placeholder.setAlphaF(placeholder.alphaF() / 2);
        palette.setColor(QPalette::Disabled, QPalette::PlaceholderText, placeholder);
        edit->setPalette(palette);
    }
}

// The form's fields and those beside the task buttons (once the window has
// placed them there).
QStringList SettingsForm::invalidNumberFields() const
{
    QStringList names;
    QList<const QWidget*> seen;
    for (const QWidget* part : {static_cast<const QWidget*>(this), static_cast<const QWidget*>(m_runOptions)}) {
        for (const FormSpinBox* spin : part->findChildren<FormSpinBox*>()) {
            if (!spin->isValid() && !seen.contains(spin))
                names.append(fieldName(spin));
            seen.append(spin);
        }
        for (const FormDoubleSpinBox* spin : part->findChildren<FormDoubleSpinBox*>()) {
            if (!spin->isValid() && !seen.contains(spin))
                names.append(fieldName(spin));
            seen.append(spin);
        }
    }
    return names;
}

// Names the model and shapefile paths that do not exist below the path
// fields, with a red frame around their fields; empty fields are left to
// the "参数不完整" message.
bool SettingsForm::checkDataPaths()
{
    const std::pair<QLineEdit*, const char*> needed[] = {
        {m_modelPathEdit, "OSGB 模型目录/文件"},
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
void SettingsForm::refreshPathProblems()
{
    if (!m_pathProblemLabel->isHidden())
        checkDataPaths();
}

QString SettingsForm::resolvedRunPath(const QString& text) const
{
    const QString runFolder = QFileInfo(runFilePathFor(m_programDir)).absolutePath();
    return QDir::cleanPath(QDir(runFolder).absoluteFilePath(QDir::fromNativeSeparators(text)));
}

QString SettingsForm::resolvedOutputFolder(const QString& outputDirText) const
{
    if (outputDirText.trimmed().isEmpty())
        return QDir::cleanPath(QDir(m_programDir).absoluteFilePath(QStringLiteral("output")));
    return resolvedRunPath(outputDirText.trimmed());
}

QString SettingsForm::outputFolder() const
{
    return resolvedOutputFolder(m_outputDirEdit->text());
}

void SettingsForm::showResolvedOutputFolder()
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

void SettingsForm::discoverShapefileFields(const QString& shpPath)
{
    if (!m_fieldPicker->readShapefile(shpPath, false))
        emit message(QMessageBox::Warning, QStringLiteral("读取字段"),
                     QStringLiteral("未能读取 DBF 字段，请检查 SHP 配套文件。"));
}

// The shapefile named in the path field, when it is another than the one
// the list was read from: after loading the settings (quietly: problems go
// to the note below the list) and after the field was edited.
void SettingsForm::refreshShapefileFields(bool quiet)
{
    const QString text = m_shapefileEdit->text().trimmed();
    if (text.isEmpty())
        return;
    const QString path = QDir::cleanPath(resolvedRunPath(text));
    if (path == m_fieldPicker->readFrom() || !QFileInfo::exists(path))
        return;
    if (quiet)
        m_fieldPicker->readShapefile(path, true);
    else
        discoverShapefileFields(path);
}

QString SettingsForm::browseStartFolder(const char* row, const QLineEdit* edit) const
{
    const QSettings state(uiStatePathFor(m_programDir), QSettings::IniFormat);
    const QString remembered = state.value(QStringLiteral("browse/") + QLatin1String(row)).toString();
    const QString text = edit->text().trimmed();
    return dialogStartFolder(text.isEmpty() ? QString() : resolvedRunPath(text), remembered);
}

void SettingsForm::rememberBrowseFolder(const char* row, const QString& folder)
{
    QSettings state(uiStatePathFor(m_programDir), QSettings::IniFormat);
    state.setValue(QStringLiteral("browse/") + QLatin1String(row), folder);
}

void SettingsForm::browseModelPath()
{
    const QString path = chooseModelPath(this, configLabel("osgb_path"), browseStartFolder("model", m_modelPathEdit));
    if (path.isEmpty())
        return;
    rememberBrowseFolder("model", QFileInfo(path).isFile() ? QFileInfo(path).absolutePath() : path);
    setModelPath(path);
}

void SettingsForm::setModelPath(const QString& path)
{
    m_modelPathEdit->setText(cleanNativePath(path));
    updateCoordinateSystemsNote();
    emit pathsChanged();
}

void SettingsForm::updateCoordinateSystemsNote()
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

void SettingsForm::showCoordinateDecision(const QString& text)
{
    m_crsNoteLabel->setText(text);
    m_crsNoteLabel->setToolTip(text);
    m_crsNoteLabel->setVisible(!text.isEmpty() && m_pathProblemLabel->isHidden());
}

void SettingsForm::browseShapefile()
{
    const QString path =
        chooseFramesFile(this, configLabel("shp_path"), browseStartFolder("shapefile", m_shapefileEdit));
    if (path.isEmpty())
        return;
    rememberBrowseFolder("shapefile", QFileInfo(path).absolutePath());
    setFramesPath(path);
}

void SettingsForm::setFramesPath(const QString& path)
{
    // A file geodatabase is its folder.
    const QString source =
        path.endsWith(QStringLiteral(".gdbtable"), Qt::CaseInsensitive) ? QFileInfo(path).absolutePath() : path;
    m_shapefileEdit->setText(cleanNativePath(source));
    discoverShapefileFields(m_shapefileEdit->text());
    updateCoordinateSystemsNote();
    emit pathsChanged();
}

void SettingsForm::browseOutputFolder()
{
    const QString path = chooseFolder(this, configLabel("output_dir"), browseStartFolder("output", m_outputDirEdit));
    if (path.isEmpty())
        return;
    m_outputDirEdit->setText(cleanNativePath(path));
    rememberBrowseFolder("output", path);
    emit pathsChanged();
}
