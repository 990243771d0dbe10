// Loading a settings object into the form and collecting the form into one.

#include "SettingsForm.h"

#include "FieldPicker.h"
#include "PathText.h"

#include "DefaultSettings.h"
#include "FormChoices.h"
#include "FormWidgets.h"

#include "core/ConfigKeys.h"

#include <QCheckBox>
#include <QDir>
#include <QJsonArray>
#include <QLineEdit>

#include <algorithm>
#include <utility>

namespace {

// Readers with a fallback: a missing key or a value of the wrong JSON type
// gives the fallback, by default the value Tavrin starts with.

QString textOr(const QJsonObject& settings, const char* key)
{
    const QString fallback = defaultSetting(key).toString();
    const QJsonValue value = settings.value(QLatin1String(key));
    return value.isString() ? value.toString() : fallback;
}

// Whole numbers that fit into an int only; 1920.5 gives the fallback.
int integerOr(const QJsonObject& settings, const char* key, int fallback)
{
    return settings.value(QLatin1String(key)).toInt(fallback);
}

int integerOr(const QJsonObject& settings, const char* key)
{
    return integerOr(settings, key, defaultSetting(key).toInt());
}

double numberOr(const QJsonObject& settings, const char* key)
{
    const double fallback = defaultSetting(key).toDouble();
    const QJsonValue value = settings.value(QLatin1String(key));
    return value.isDouble() ? value.toDouble() : fallback;
}

bool flagOr(const QJsonObject& settings, const char* key)
{
    const bool fallback = defaultSetting(key).toBool();
    const QJsonValue value = settings.value(QLatin1String(key));
    return value.isBool() ? value.toBool() : fallback;
}

QStringList stringsOf(const QJsonValue& value)
{
    QStringList strings;
    for (const QJsonValue& item : value.toArray()) {
        if (item.isString())
            strings.append(item.toString());
    }
    return strings;
}

// Tavrin's own key for the test-export frame count: the renderer's
// preview_limit in render_gui.json is always 0 (a full run), so the count
// the user set needs a key of its own. The renderer ignores unknown keys.
constexpr char kTavrinPreviewLimit[] = "tavrin_preview_limit";
constexpr int kDefaultTestFrames = 5;

void selectByText(QComboBox* combo, const QString& text)
{
    const int index = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        combo->setCurrentIndex(index);
}

void selectByData(QComboBox* combo, const QString& value)
{
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemData(i).toString() == value) {
            combo->setCurrentIndex(i);
            return;
        }
    }
}

}  // namespace

void SettingsForm::loadSettings(const QJsonObject& s)
{
    m_loaded = s;
    m_modelPathEdit->setText(
        cleanNativePath(textOr(s, s.contains(QLatin1String("osgb_path")) ? "osgb_path" : "model_path")));
    m_shapefileEdit->setText(cleanNativePath(textOr(s, "shp_path")));
    m_outputDirEdit->setText(cleanNativePath(textOr(s, "output_dir")));
    loadNumbers(s);
    loadChoices(s);
    m_templateEdit->setText(textOr(s, "photo_name_template"));
    m_whereEdit->setText(textOr(s, "where"));

    QStringList fields = stringsOf(s.value(QLatin1String("field_names")));
    if (fields.isEmpty())
        fields.append(textOr(s, "field_name"));
    m_fieldPicker->rebuild(fields, fields);
    m_fieldPicker->forgetShapefile();
    loadChecks(s);

    // The list offers the fields of the shapefile now named.
    refreshShapefileFields(true);
    updateCoordinateSystemsNote();
}

void SettingsForm::loadNumbers(const QJsonObject& s)
{
    m_widthSpin->setValue(integerOr(s, "width"));
    m_heightSpin->setValue(integerOr(s, "height"));
    m_warmupSpin->setValue(integerOr(s, "warmup_frames"));
    // A count of 0 (all frames, as the renderer takes it) is no test: files
    // that hold it start with the default count.
    const int tested = integerOr(s, kTavrinPreviewLimit, integerOr(s, "preview_limit"));
    m_previewSpin->setValue(tested > 0 ? tested : kDefaultTestFrames);
    m_dpiSpin->setValue(integerOr(s, "output_dpi"));
    m_cameraPaddingSpin->setValue(numberOr(s, "camera_padding"));
    m_obliquePaddingSpin->setValue(numberOr(s, "oblique_padding_factor"));
    m_obliqueDistanceSpin->setValue(numberOr(s, "oblique_distance_factor"));
    m_gaussPrefixSpin->setValue(numberOr(s, "gauss_zone_prefix"));
    m_offsetXSpin->setValue(numberOr(s, "shp_offset_x"));
    m_offsetYSpin->setValue(numberOr(s, "shp_offset_y"));
    m_lineLiftSpin->setValue(numberOr(s, "range_line_lift"));
    m_lineWidthSpin->setValue(numberOr(s, "range_line_width"));
    m_occlusionStepSpin->setValue(numberOr(s, "occlusion_sample_step"));
}

void SettingsForm::loadChoices(const QJsonObject& s)
{
    // Values the lists do not offer leave them on their current item.
    selectByText(m_viewAngleCombo, QString::number(integerOr(s, "oblique_view_angle")));
    selectByText(m_formatCombo, textOr(s, "output_format"));
    selectByData(m_colourCombo, textOr(s, "range_line_color"));

    const QString separator = textOr(s, "field_separator");
    if (separator == QLatin1String(kUnderscoreSeparator) || separator == QLatin1String(kDashSeparator)) {
        selectByText(m_separatorCombo, separator);
    } else if (separator == QLatin1String("\\")) {
        selectByText(m_separatorCombo, QString::fromUtf8(kNestedFolderSeparator));
    } else {
        selectByText(m_separatorCombo, QString::fromUtf8(kCustomSeparator));
        m_customSeparatorEdit->setText(separator);
    }
}

void SettingsForm::loadChecks(const QJsonObject& s)
{
    m_stripGaussCheck->setChecked(flagOr(s, "auto_strip_gauss_zone"));
    m_alignCheck->setChecked(flagOr(s, "auto_align_shp_to_scene"));
    m_topRangeCheck->setChecked(flagOr(s, "output_top_range"));
    m_avoidOcclusionCheck->setChecked(flagOr(s, "avoid_occlusion"));
    m_depthTestCheck->setChecked(flagOr(s, "range_line_depth_test"));
    m_allViewsOutlineCheck->setChecked(flagOr(s, "outline_all_views"));
    m_warmupUntilLoadedCheck->setChecked(flagOr(s, "warmup_until_loaded"));
    m_resumeCheck->setChecked(flagOr(s, "resume"));
    m_htmlReportCheck->setChecked(flagOr(s, "html_report"));
    m_worldFileCheck->setChecked(flagOr(s, "world_file"));
    m_pdfLosslessCheck->setChecked(flagOr(s, "pdf_lossless"));
    const QStringList marks = stringsOf(s.value(QLatin1String("annotate")));
    m_northArrowCheck->setChecked(marks.contains(QLatin1String("north_arrow")));
    m_scaleBarCheck->setChecked(marks.contains(QLatin1String("scale_bar")));
    m_captionCheck->setChecked(marks.contains(QLatin1String("caption")));
    m_captionEdit->setText(textOr(s, "caption_template"));
    m_dossierCheck->setChecked(flagOr(s, "dossier"));
    m_dossierTemplateEdit->setText(textOr(s, "dossier_template"));
    m_dossierFieldsEdit->setText(stringsOf(s.value(QLatin1String("dossier_fields"))).join(QStringLiteral(", ")));
    m_dossierBookCheck->setChecked(flagOr(s, "dossier_book"));
    m_retryCheck->setChecked(flagOr(s, "retry_failed_only") && m_resumeCheck->isChecked());

    // Anything but a list (missing, null, a text) gives the default angles.
    const QJsonValue angles =
        s.value(QLatin1String("angles")).isArray() ? s.value(QLatin1String("angles")) : defaultSetting("angles");
    for (auto& [key, check] : m_angleChecks)
        check->setChecked(false);
    for (const QString& key : stringsOf(angles)) {
        const auto it = m_angleChecks.find(key);
        if (it != m_angleChecks.end())
            it->second->setChecked(true);
    }
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
    collectNumbers(s);
    s.insert(QStringLiteral("preview_limit"), testMode ? m_previewSpin->value() : 0);
    s.insert(QStringLiteral("osgb_path"), cleanNativePath(m_modelPathEdit->text()));
    s.insert(QStringLiteral("shp_path"), cleanNativePath(m_shapefileEdit->text()));
    s.insert(QStringLiteral("output_dir"), cleanNativePath(m_outputDirEdit->text()));

    const QStringList fields = m_fieldPicker->selectedFields();
    s.insert(QStringLiteral("field_names"), QJsonArray::fromStringList(fields));
    // No field ticked: both empty, and the renderer numbers the frames.
    s.insert(QStringLiteral("field_name"), fields.isEmpty() ? QString() : fields.first());
    s.insert(QStringLiteral("photo_name_template"), m_templateEdit->text().trimmed());
    collectChoices(s);

    s.insert(QStringLiteral("auto_strip_gauss_zone"), m_stripGaussCheck->isChecked());
    s.insert(QStringLiteral("auto_align_shp_to_scene"), m_alignCheck->isChecked());
    s.insert(QStringLiteral("output_top_range"), m_topRangeCheck->isChecked());
    s.insert(QStringLiteral("avoid_occlusion"), m_avoidOcclusionCheck->isChecked());
    s.insert(QStringLiteral("range_line_depth_test"), m_depthTestCheck->isChecked());
    s.insert(QStringLiteral("outline_all_views"), m_allViewsOutlineCheck->isChecked());
    s.insert(QStringLiteral("warmup_until_loaded"), m_warmupUntilLoadedCheck->isChecked());
    s.insert(QStringLiteral("resume"), m_resumeCheck->isChecked());
    s.insert(QStringLiteral("html_report"), m_htmlReportCheck->isChecked());
    s.insert(QStringLiteral("world_file"), m_worldFileCheck->isChecked());
    s.insert(QStringLiteral("pdf_lossless"), m_pdfLosslessCheck->isChecked());
    QStringList marks;
    for (const auto& [check, word] : {std::pair{m_northArrowCheck, "north_arrow"},
                                      std::pair{m_scaleBarCheck, "scale_bar"}, std::pair{m_captionCheck, "caption"}}) {
        if (check->isChecked())
            marks << QString::fromLatin1(word);
    }
    s.insert(QStringLiteral("annotate"), QJsonArray::fromStringList(marks));
    s.insert(QStringLiteral("caption_template"), m_captionEdit->text().trimmed());
    s.insert(QStringLiteral("dossier"), m_dossierCheck->isChecked());
    s.insert(QStringLiteral("dossier_template"), m_dossierTemplateEdit->text().trimmed());
    QStringList sheetFields;
    for (const QString& field : m_dossierFieldsEdit->text().split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!field.trimmed().isEmpty())
            sheetFields << field.trimmed();
    }
    s.insert(QStringLiteral("dossier_fields"), QJsonArray::fromStringList(sheetFields));
    s.insert(QStringLiteral("dossier_book"), m_dossierBookCheck->isChecked() && m_dossierCheck->isChecked());
    s.insert(QStringLiteral("where"), m_whereEdit->text().trimmed());
    s.insert(QStringLiteral("retry_failed_only"), m_retryCheck->isChecked());
    return s;
}

void SettingsForm::collectNumbers(QJsonObject& s) const
{
    s.insert(QStringLiteral("width"), m_widthSpin->value());
    s.insert(QStringLiteral("height"), m_heightSpin->value());
    s.insert(QStringLiteral("warmup_frames"), m_warmupSpin->value());
    s.insert(QStringLiteral("output_dpi"), m_dpiSpin->value());

    s.insert(QStringLiteral("camera_padding"), m_cameraPaddingSpin->value());
    s.insert(QStringLiteral("oblique_padding_factor"), m_obliquePaddingSpin->value());
    s.insert(QStringLiteral("oblique_distance_factor"), m_obliqueDistanceSpin->value());
    s.insert(QStringLiteral("gauss_zone_prefix"), m_gaussPrefixSpin->value());
    s.insert(QStringLiteral("shp_offset_x"), m_offsetXSpin->value());
    s.insert(QStringLiteral("shp_offset_y"), m_offsetYSpin->value());
    s.insert(QStringLiteral("range_line_lift"), m_lineLiftSpin->value());
    s.insert(QStringLiteral("range_line_width"), m_lineWidthSpin->value());
    s.insert(QStringLiteral("occlusion_sample_step"), m_occlusionStepSpin->value());

    s.insert(QStringLiteral("oblique_view_angle"), m_viewAngleCombo->currentData().toInt());
}

// The lists and the choices: format, separator, angles, line colour.
void SettingsForm::collectChoices(QJsonObject& s) const
{
    s.insert(QStringLiteral("output_format"), m_formatCombo->currentText());
    s.insert(QStringLiteral("range_line_color"), m_colourCombo->currentData().toString());
    const QString separatorItem = m_separatorCombo->currentText();
    QString separator = separatorItem;
    if (separatorItem == QString::fromUtf8(kNestedFolderSeparator))
        separator = QStringLiteral("\\");
    else if (separatorItem == QString::fromUtf8(kCustomSeparator))
        separator = m_customSeparatorEdit->text().trimmed();
    s.insert(QStringLiteral("field_separator"), separator);

    QJsonArray angles;
    for (const auto& [key, check] : m_angleChecks) {  // key order
        if (check->isChecked())
            angles.append(key);
    }
    s.insert(QStringLiteral("angles"), angles);
}

bool SettingsForm::anyAngleChecked() const
{
    return std::any_of(m_angleChecks.begin(), m_angleChecks.end(),
                       [](const auto& angle) { return angle.second->isChecked(); });
}

QJsonObject SettingsForm::collectGuiSettings() const
{
    QJsonObject s = m_loaded;
    const QJsonObject run = collectSettings(false);
    for (auto it = run.begin(); it != run.end(); ++it)
        s.insert(it.key(), it.value());
    s.insert(QLatin1String(kTavrinPreviewLimit), m_previewSpin->value());
    return s;
}
