// The values of the settings panels: loading a settings object into the
// fields and collecting them into one.

#include "SettingsFields.h"

#include "DefaultSettings.h"
#include "FieldPicker.h"
#include "FormChoices.h"
#include "FormWidgets.h"

#include <QCheckBox>
#include <QJsonArray>
#include <QLineEdit>

#include <algorithm>
#include <utility>

namespace {

// Readers with a fallback: a missing key or a value of the wrong JSON type
// gives the fallback, by default the value Tavrin starts with.

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

void SettingsFields::load(const QJsonObject& s)
{
    loadNumbers(s);
    loadChoices(s);
    templateEdit->setText(textOrDefault(s, "photo_name_template"));
    whereEdit->setText(textOrDefault(s, "where"));

    QStringList fields = stringsOf(s.value(QLatin1String("field_names")));
    if (fields.isEmpty())
        fields.append(textOrDefault(s, "field_name"));
    fieldPicker->rebuild(fields, fields);
    fieldPicker->forgetShapefile();
    loadChecks(s);
}

void SettingsFields::collect(QJsonObject& s, bool testMode) const
{
    collectNumbers(s);
    s.insert(QStringLiteral("preview_limit"), testMode ? previewSpin->value() : 0);
    const QStringList fields = fieldPicker->selectedFields();
    s.insert(QStringLiteral("field_names"), QJsonArray::fromStringList(fields));
    // No field ticked: both empty, and the renderer numbers the frames.
    s.insert(QStringLiteral("field_name"), fields.isEmpty() ? QString() : fields.first());
    s.insert(QStringLiteral("photo_name_template"), templateEdit->text().trimmed());
    collectChoices(s);
    collectChecks(s);
    s.insert(QStringLiteral("caption_template"), captionEdit->text().trimmed());
    s.insert(QStringLiteral("dossier_template"), dossierTemplateEdit->text().trimmed());
    QStringList sheetFields;
    for (const QString& field : dossierFieldsEdit->text().split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!field.trimmed().isEmpty())
            sheetFields << field.trimmed();
    }
    s.insert(QStringLiteral("dossier_fields"), QJsonArray::fromStringList(sheetFields));
    s.insert(QStringLiteral("where"), whereEdit->text().trimmed());
}

void SettingsFields::collectChecks(QJsonObject& s) const
{
    s.insert(QStringLiteral("auto_strip_gauss_zone"), stripGaussCheck->isChecked());
    s.insert(QStringLiteral("auto_align_shp_to_scene"), alignCheck->isChecked());
    s.insert(QStringLiteral("output_top_range"), topRangeCheck->isChecked());
    s.insert(QStringLiteral("avoid_occlusion"), avoidOcclusionCheck->isChecked());
    s.insert(QStringLiteral("range_line_depth_test"), depthTestCheck->isChecked());
    s.insert(QStringLiteral("outline_all_views"), allViewsOutlineCheck->isChecked());
    s.insert(QStringLiteral("warmup_until_loaded"), warmupUntilLoadedCheck->isChecked());
    s.insert(QStringLiteral("resume"), resumeCheck->isChecked());
    s.insert(QStringLiteral("html_report"), htmlReportCheck->isChecked());
    s.insert(QStringLiteral("world_file"), worldFileCheck->isChecked());
    s.insert(QStringLiteral("pdf_lossless"), pdfLosslessCheck->isChecked());
    QStringList marks;
    for (const auto& [check, word] : {std::pair{northArrowCheck, "north_arrow"}, std::pair{scaleBarCheck, "scale_bar"},
                                      std::pair{captionCheck, "caption"}}) {
        if (check->isChecked())
            marks << QString::fromLatin1(word);
    }
    s.insert(QStringLiteral("annotate"), QJsonArray::fromStringList(marks));
    s.insert(QStringLiteral("dossier"), dossierCheck->isChecked());
    s.insert(QStringLiteral("dossier_book"), dossierBookCheck->isChecked() && dossierCheck->isChecked());
    s.insert(QStringLiteral("retry_failed_only"), retryCheck->isChecked());
}

void SettingsFields::loadNumbers(const QJsonObject& s)
{
    widthSpin->setValue(integerOr(s, "width"));
    heightSpin->setValue(integerOr(s, "height"));
    warmupSpin->setValue(integerOr(s, "warmup_frames"));
    // A count of 0 (all frames, as the renderer takes it) is no test: files
    // that hold it start with the default count.
    const int tested = integerOr(s, kTavrinPreviewLimit, integerOr(s, "preview_limit"));
    previewSpin->setValue(tested > 0 ? tested : kDefaultTestFrames);
    dpiSpin->setValue(integerOr(s, "output_dpi"));
    cameraPaddingSpin->setValue(numberOr(s, "camera_padding"));
    obliquePaddingSpin->setValue(numberOr(s, "oblique_padding_factor"));
    obliqueDistanceSpin->setValue(numberOr(s, "oblique_distance_factor"));
    gaussPrefixSpin->setValue(numberOr(s, "gauss_zone_prefix"));
    offsetXSpin->setValue(numberOr(s, "shp_offset_x"));
    offsetYSpin->setValue(numberOr(s, "shp_offset_y"));
    lineLiftSpin->setValue(numberOr(s, "range_line_lift"));
    lineWidthSpin->setValue(numberOr(s, "range_line_width"));
    occlusionStepSpin->setValue(numberOr(s, "occlusion_sample_step"));
}

void SettingsFields::loadChoices(const QJsonObject& s)
{
    // Values the lists do not offer leave them on their current item.
    selectByText(viewAngleCombo, QString::number(integerOr(s, "oblique_view_angle")));
    selectByText(formatCombo, textOrDefault(s, "output_format"));
    selectByData(colourCombo, textOrDefault(s, "range_line_color"));

    const QString separator = textOrDefault(s, "field_separator");
    if (separator == QLatin1String(kUnderscoreSeparator) || separator == QLatin1String(kDashSeparator)) {
        selectByText(separatorCombo, separator);
    } else if (separator == QLatin1String("\\")) {
        selectByText(separatorCombo, QString::fromUtf8(kNestedFolderSeparator));
    } else {
        selectByText(separatorCombo, QString::fromUtf8(kCustomSeparator));
        customSeparatorEdit->setText(separator);
    }
}

void SettingsFields::loadChecks(const QJsonObject& s)
{
    stripGaussCheck->setChecked(flagOr(s, "auto_strip_gauss_zone"));
    alignCheck->setChecked(flagOr(s, "auto_align_shp_to_scene"));
    topRangeCheck->setChecked(flagOr(s, "output_top_range"));
    avoidOcclusionCheck->setChecked(flagOr(s, "avoid_occlusion"));
    depthTestCheck->setChecked(flagOr(s, "range_line_depth_test"));
    allViewsOutlineCheck->setChecked(flagOr(s, "outline_all_views"));
    warmupUntilLoadedCheck->setChecked(flagOr(s, "warmup_until_loaded"));
    resumeCheck->setChecked(flagOr(s, "resume"));
    htmlReportCheck->setChecked(flagOr(s, "html_report"));
    worldFileCheck->setChecked(flagOr(s, "world_file"));
    pdfLosslessCheck->setChecked(flagOr(s, "pdf_lossless"));
    const QStringList marks = stringsOf(s.value(QLatin1String("annotate")));
    northArrowCheck->setChecked(marks.contains(QLatin1String("north_arrow")));
    scaleBarCheck->setChecked(marks.contains(QLatin1String("scale_bar")));
    captionCheck->setChecked(marks.contains(QLatin1String("caption")));
    captionEdit->setText(textOrDefault(s, "caption_template"));
    dossierCheck->setChecked(flagOr(s, "dossier"));
    dossierTemplateEdit->setText(textOrDefault(s, "dossier_template"));
    dossierFieldsEdit->setText(stringsOf(s.value(QLatin1String("dossier_fields"))).join(QStringLiteral(", ")));
    dossierBookCheck->setChecked(flagOr(s, "dossier_book"));
    retryCheck->setChecked(flagOr(s, "retry_failed_only") && resumeCheck->isChecked());

    // Anything but a list (missing, null, a text) gives the default angles.
    const QJsonValue angles =
        s.value(QLatin1String("angles")).isArray() ? s.value(QLatin1String("angles")) : defaultSetting("angles");
    for (auto& [key, check] : angleChecks)
        check->setChecked(false);
    for (const QString& key : stringsOf(angles)) {
        const auto it = angleChecks.find(key);
        if (it != angleChecks.end())
            it->second->setChecked(true);
    }
}

void SettingsFields::collectNumbers(QJsonObject& s) const
{
    s.insert(QStringLiteral("width"), widthSpin->value());
    s.insert(QStringLiteral("height"), heightSpin->value());
    s.insert(QStringLiteral("warmup_frames"), warmupSpin->value());
    s.insert(QStringLiteral("output_dpi"), dpiSpin->value());

    s.insert(QStringLiteral("camera_padding"), cameraPaddingSpin->value());
    s.insert(QStringLiteral("oblique_padding_factor"), obliquePaddingSpin->value());
    s.insert(QStringLiteral("oblique_distance_factor"), obliqueDistanceSpin->value());
    s.insert(QStringLiteral("gauss_zone_prefix"), gaussPrefixSpin->value());
    s.insert(QStringLiteral("shp_offset_x"), offsetXSpin->value());
    s.insert(QStringLiteral("shp_offset_y"), offsetYSpin->value());
    s.insert(QStringLiteral("range_line_lift"), lineLiftSpin->value());
    s.insert(QStringLiteral("range_line_width"), lineWidthSpin->value());
    s.insert(QStringLiteral("occlusion_sample_step"), occlusionStepSpin->value());

    s.insert(QStringLiteral("oblique_view_angle"), viewAngleCombo->currentData().toInt());
}

// The lists and the choices: format, separator, angles, line colour.
void SettingsFields::collectChoices(QJsonObject& s) const
{
    s.insert(QStringLiteral("output_format"), formatCombo->currentText());
    s.insert(QStringLiteral("range_line_color"), colourCombo->currentData().toString());
    const QString separatorItem = separatorCombo->currentText();
    QString separator = separatorItem;
    if (separatorItem == QString::fromUtf8(kNestedFolderSeparator))
        separator = QStringLiteral("\\");
    else if (separatorItem == QString::fromUtf8(kCustomSeparator))
        separator = customSeparatorEdit->text().trimmed();
    s.insert(QStringLiteral("field_separator"), separator);

    QJsonArray angles;
    for (const auto& [key, check] : angleChecks) {  // key order
        if (check->isChecked())
            angles.append(key);
    }
    s.insert(QStringLiteral("angles"), angles);
}

bool SettingsFields::anyAngleChecked() const
{
    return std::any_of(angleChecks.begin(), angleChecks.end(),
                       [](const auto& angle) { return angle.second->isChecked(); });
}

void SettingsFields::collectTavrinKeys(QJsonObject& s) const
{
    s.insert(QLatin1String(kTavrinPreviewLimit), previewSpin->value());
}
