// The settings form: its layout, loading and collecting the settings, the
// shapefile's fields, validity and locking.

#include "SettingsForm.h"

#include "CollapsibleSection.h"
#include "ConfigReference.h"
#include "DataPathBox.h"
#include "DefaultSettings.h"
#include "FieldPicker.h"
#include "FormWidgets.h"
#include "PathText.h"
#include "SettingsPanels.h"

#include "core/ConfigKeys.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

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

SettingsForm::SettingsForm(const QString& programDir, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("settingsForm"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_paths = new DataPathBox(programDir, this);
    m_parts.append(m_paths);
    layout->addWidget(m_paths);
    SettingsPanels panels(this, m_fields);
    layout->addWidget(panels.buildPanels(), 1);
    m_runOptions = panels.buildRunOptions();
    m_parts.append(panels.lockable());
    connect(m_fields.whereEdit, &QLineEdit::editingFinished, this, &SettingsForm::pathsChanged);  // other frames
    for (FormSpinBox* spin : findChildren<FormSpinBox*>())
        connect(spin, &QSpinBox::valueChanged, this, &SettingsForm::numbersEdited);
    for (FormDoubleSpinBox* spin : findChildren<FormDoubleSpinBox*>())
        connect(spin, &QDoubleSpinBox::valueChanged, this, &SettingsForm::numbersEdited);
    connect(m_fields.fieldPicker, &FieldPicker::noted, this, &SettingsForm::logLine);
    connect(m_paths, &DataPathBox::framesEdited, this, [this] { refreshShapefileFields(false); });
    connect(m_paths, &DataPathBox::framesChosen, this, &SettingsForm::discoverShapefileFields);
    connect(m_paths, &DataPathBox::pathsChanged, this, &SettingsForm::pathsChanged);
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

void SettingsForm::loadSettings(const QJsonObject& s)
{
    m_loaded = s;
    m_paths->setTexts(
        cleanNativePath(textOrDefault(s, s.contains(QLatin1String("osgb_path")) ? "osgb_path" : "model_path")),
        cleanNativePath(textOrDefault(s, "shp_path")), cleanNativePath(textOrDefault(s, "output_dir")));
    m_fields.load(s);
    // The list offers the fields of the shapefile now named.
    refreshShapefileFields(true);
    m_paths->updateCoordinateSystemsNote();
}

QJsonObject SettingsForm::collectSettings(bool testMode) const
{
    // Keys without a widget keep what the loaded file said, else the
    // defaults; the form's own go over them.
    QJsonObject s = defaultSettings();
    for (auto it = m_loaded.begin(); it != m_loaded.end(); ++it) {
        if (vistrel::findConfigKey(it.key().toStdString()))
            s.insert(it.key(), it.value());
    }
    m_fields.collect(s, testMode);
    s.insert(QStringLiteral("osgb_path"), cleanNativePath(m_paths->modelText()));
    s.insert(QStringLiteral("shp_path"), cleanNativePath(m_paths->framesText()));
    s.insert(QStringLiteral("output_dir"), cleanNativePath(m_paths->outputText()));
    return s;
}

QJsonObject SettingsForm::collectGuiSettings() const
{
    QJsonObject s = m_loaded;
    const QJsonObject run = collectSettings(false);
    for (auto it = run.begin(); it != run.end(); ++it)
        s.insert(it.key(), it.value());
    m_fields.collectTavrinKeys(s);
    return s;
}

bool SettingsForm::anyAngleChecked() const
{
    return m_fields.anyAngleChecked();
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

QString SettingsForm::resolvedOutputFolder(const QString& outputDirText) const
{
    return m_paths->resolvedOutputFolder(outputDirText);
}

QString SettingsForm::outputFolder() const
{
    return m_paths->resolvedOutputFolder(m_paths->outputText());
}

void SettingsForm::setModelPath(const QString& path)
{
    m_paths->setModelPath(path);
}

void SettingsForm::setFramesPath(const QString& path)
{
    m_paths->setFramesPath(path);
}

bool SettingsForm::checkDataPaths()
{
    return m_paths->checkDataPaths();
}

void SettingsForm::showCoordinateDecision(const QString& text)
{
    m_paths->showCoordinateDecision(text);
}

void SettingsForm::discoverShapefileFields(const QString& shpPath)
{
    if (!m_fields.fieldPicker->readShapefile(shpPath, false))
        emit message(QMessageBox::Warning, QStringLiteral("读取字段"),
                     QStringLiteral("未能读取 DBF 字段，请检查 SHP 配套文件。"));
}

// The shapefile named in the path field, when it is another than the one
// the list was read from: after loading the settings (quietly: problems go
// to the note below the list) and after the field was edited.
void SettingsForm::refreshShapefileFields(bool quiet)
{
    const QString text = m_paths->framesText().trimmed();
    if (text.isEmpty())
        return;
    const QString path = QDir::cleanPath(m_paths->resolvedRunPath(text));
    if (path == m_fields.fieldPicker->readFrom() || !QFileInfo::exists(path))
        return;
    if (quiet)
        m_fields.fieldPicker->readShapefile(path, true);
    else
        discoverShapefileFields(path);
}
