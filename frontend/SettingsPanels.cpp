// The settings panels of the form, side by side: picture and output,
// naming and task, scene and range line, angles and quality. Labels and
// tooltips come from the configuration reference.

#include "SettingsPanels.h"

#include "FieldPicker.h"
#include "SettingsFields.h"

#include "CollapsibleSection.h"
#include "ConfigReference.h"
#include "DefaultSettings.h"
#include "FormChoices.h"
#include "FormWidgets.h"

#include "core/CameraAngle.h"
#include "core/ConfigKeys.h"
#include "core/OutputFormats.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

namespace {

FormSpinBox* makeSpin(QWidget* parent, const char* name, int minimum, int maximum, int value)
{
    auto* spin = new FormSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setValidRange(minimum, maximum);
    spin->setValue(value);
    return spin;
}

// Every step size is at least one unit of the last shown decimal, so that
// each step changes what is shown.
// The bounds of a key's field: those its row of the key table states, and
// the form's own `low`/`high` only where the table states none (or, for a
// test's count, a narrower one).
std::pair<double, double> fieldRange(const char* key, double low, double high)
{
    const vistrel::ConfigKey* row = vistrel::findConfigKey(key);
    const vistrel::KeyRange range = row ? vistrel::acceptedRange(*row) : vistrel::KeyRange{};
    return {std::isfinite(range.low) ? std::max(range.low, low) : low,
            std::isfinite(range.high) ? std::min(range.high, high) : high};
}

// A whole-number field of `key`, with Vistrel's default.
FormSpinBox* makeKeySpin(QWidget* parent, const char* name, const char* key, int low = INT_MIN, int high = INT_MAX)
{
    const auto [from, to] = fieldRange(key, low, high);
    return makeSpin(parent, name, static_cast<int>(std::ceil(from)), static_cast<int>(std::floor(to)),
                    defaultSetting(key).toInt());
}

FormDoubleSpinBox* makeDecimalSpin(QWidget* parent, const char* name, double minimum, double maximum, double step,
                                   int decimals, double value)
{
    auto* spin = new FormDoubleSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setDecimals(decimals);
    spin->setValidRange(minimum, maximum);
    spin->setSingleStep(step);
    spin->setValue(value);
    return spin;
}

// A decimal field of `key`, with Vistrel's default.
FormDoubleSpinBox* makeKeyDecimalSpin(QWidget* parent, const char* name, const char* key, double step, int decimals,
                                      double low, double high)
{
    const auto [from, to] = fieldRange(key, low, high);
    return makeDecimalSpin(parent, name, from, to, step, decimals, defaultSetting(key).toDouble());
}

FormComboBox* makeCombo(QWidget* parent, const char* name)
{
    auto* combo = new FormComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    return combo;
}

QGroupBox* makeGroup(const QString& title, QWidget* parent)
{
    return new QGroupBox(title, parent);
}

// A closed section as the last row of a form, spanning it.
CollapsibleSection* makeSection(const QString& title, const char* name, QFormLayout* form)
{
    auto* section = new CollapsibleSection(title, form->parentWidget());
    section->setObjectName(QString::fromLatin1(name));
    form->addRow(section);
    return section;
}

QFormLayout* makeForm(QWidget* parent)
{
    auto* form = new QFormLayout(parent);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setContentsMargins(6, 6, 6, 6);
    return form;
}

// The rows of a section, flush with its title.
QFormLayout* sectionForm(CollapsibleSection* section)
{
    auto* form = makeForm(section->content());
    form->setContentsMargins(0, 0, 0, 0);
    return form;
}

void addKeyRow(QFormLayout* form, const char* key, QWidget* field)
{
    auto* label = new QLabel(configLabel(key));
    const QString tip = configTooltip(key);
    label->setToolTip(tip);
    label->setBuddy(field);  // names the field in messages
    field->setToolTip(tip);
    form->addRow(label, field);
}

QCheckBox* makeKeyCheck(QWidget* parent, const char* name, const char* key)
{
    auto* check = new QCheckBox(configLabel(key), parent);
    check->setObjectName(QString::fromLatin1(name));
    check->setToolTip(configTooltip(key));
    return check;
}

}  // namespace

QWidget* SettingsPanels::buildPanels()
{
    auto* panels = new QSplitter(Qt::Horizontal, m_form);
    panels->setObjectName(QStringLiteral("formSplitter"));
    panels->setChildrenCollapsible(false);
    for (QWidget* panel : {buildPicturePanel(), buildNamingPanel(), buildScenePanel(), buildAnglePanel()})
        panels->addWidget(wrapPanel(panel));
    // Shares of the width (at the default size, in pixels); the panels never
    // get narrower than their content.
    const QList<int> panelShare = {240, 330, 270, 237};
    for (int i = 0; i < panelShare.size(); ++i)
        panels->setStretchFactor(i, panelShare[i] / 10);
    panels->setSizes(panelShare);
    return panels;
}

QWidget* SettingsPanels::wrapPanel(QWidget* content)
{
    m_lockable.append(content);
    auto* area = new QScrollArea(m_form);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setWidget(content);
    // Never narrower than the panel's content, with room for the scroll bar
    // that appears when the divider below is pulled up.
    area->setMinimumWidth(content->minimumSizeHint().width() + area->verticalScrollBar()->sizeHint().width());
    return area;
}

QWidget* SettingsPanels::buildPicturePanel()
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    auto* box = makeGroup(QStringLiteral("画面与输出"), content);
    auto* form = makeForm(box);

    m_fields.widthSpin = makeKeySpin(box, "widthSpin", "width");
    m_fields.heightSpin = makeKeySpin(box, "heightSpin", "height");
    m_fields.cameraPaddingSpin = makeKeyDecimalSpin(box, "cameraPaddingSpin", "camera_padding", 0.05, 2, 1, 3);
    m_fields.obliquePaddingSpin =
        makeKeyDecimalSpin(box, "obliquePaddingSpin", "oblique_padding_factor", 0.05, 2, 0, 10);
    m_fields.obliqueDistanceSpin =
        makeKeyDecimalSpin(box, "obliqueDistanceSpin", "oblique_distance_factor", 0.05, 2, 0, 10);
    m_fields.viewAngleCombo = makeCombo(box, "viewAngleCombo");
    for (int angle = kFirstViewAngle; angle <= kLastViewAngle; angle += kViewAngleStep)
        m_fields.viewAngleCombo->addItem(QString::number(angle), angle);
    m_fields.warmupSpin = makeKeySpin(box, "warmupSpin", "warmup_frames");
    m_fields.warmupUntilLoadedCheck = makeKeyCheck(box, "warmupUntilLoadedCheck", "warmup_until_loaded");
    m_fields.dpiSpin = makeKeySpin(box, "dpiSpin", "output_dpi");
    m_fields.formatCombo = makeCombo(box, "formatCombo");
    for (const vistrel::OutputFormat& format : vistrel::kOutputFormats)
        m_fields.formatCombo->addItem(QString::fromLatin1(format.key.data(), qsizetype(format.key.size())));

    // Size and format are set for every job; the camera and the sharpness
    // seldom.
    addKeyRow(form, "width", m_fields.widthSpin);
    addKeyRow(form, "height", m_fields.heightSpin);
    addKeyRow(form, "output_format", m_fields.formatCombo);
    auto* more = makeSection(QStringLiteral("相机与清晰度"), "cameraSection", form);
    auto* moreForm = sectionForm(more);
    addKeyRow(moreForm, "camera_padding", m_fields.cameraPaddingSpin);
    addKeyRow(moreForm, "oblique_padding_factor", m_fields.obliquePaddingSpin);
    addKeyRow(moreForm, "oblique_distance_factor", m_fields.obliqueDistanceSpin);
    addKeyRow(moreForm, "oblique_view_angle", m_fields.viewAngleCombo);
    addKeyRow(moreForm, "warmup_frames", m_fields.warmupSpin);
    moreForm->addRow(m_fields.warmupUntilLoadedCheck);
    addKeyRow(moreForm, "output_dpi", m_fields.dpiSpin);

    column->addWidget(box);
    column->addStretch();
    return content;
}

QWidget* SettingsPanels::buildNamingPanel()
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    auto* box = makeGroup(QStringLiteral("命名与任务"), content);
    // The field list above the other rows, with the panel's whole width and
    // the height the panel can spare.
    auto* rows = new QVBoxLayout(box);
    rows->setContentsMargins(6, 6, 6, 6);
    auto* fieldsLabel = new QLabel(configLabel("field_names"), box);
    fieldsLabel->setToolTip(configTooltip("field_names"));
    rows->addWidget(fieldsLabel);
    // The list with its buttons grows up to the list's full height; the
    // panel's stretch below takes the rest.
    m_fields.fieldPicker = new FieldPicker(box);
    rows->addWidget(m_fields.fieldPicker, 20);
    rows->addWidget(m_fields.fieldPicker->noteLabel());
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    rows->addLayout(form);
    rows->addStretch(1);  // what the list, at its full height, leaves
    addNamingRows(form, box);
    column->addWidget(box, 1);
    return content;
}

void SettingsPanels::addNamingRows(QFormLayout* form, QWidget* box)
{
    m_fields.separatorCombo = makeCombo(box, "separatorCombo");
    m_fields.separatorCombo->addItems({QString::fromUtf8(kUnderscoreSeparator),
                                       QString::fromUtf8(kNestedFolderSeparator), QString::fromUtf8(kDashSeparator),
                                       QString::fromUtf8(kCustomSeparator)});
    m_fields.customSeparatorEdit = new QLineEdit(box);
    m_fields.customSeparatorEdit->setObjectName(QStringLiteral("customSeparatorEdit"));
    m_fields.customSeparatorEdit->setPlaceholderText(QStringLiteral("自定义分隔符"));
    m_fields.customSeparatorEdit->setEnabled(false);
    QLineEdit* custom = m_fields.customSeparatorEdit;
    QObject::connect(m_fields.separatorCombo, &QComboBox::currentTextChanged, custom, [custom](const QString& text) {
        custom->setEnabled(text == QString::fromUtf8(kCustomSeparator));
    });
    m_fields.templateEdit = new QLineEdit(box);
    m_fields.templateEdit->setObjectName(QStringLiteral("templateEdit"));
    m_fields.templateEdit->setPlaceholderText(QStringLiteral("<ZDDM>\\4.照片资料\\2.房屋照片<FWBH>幢_#"));
    m_fields.previewSpin = makeSpin(box, "previewSpin", 1, 100000, 5);
    m_fields.resumeCheck = makeKeyCheck(box, "resumeCheck", "resume");
    m_fields.htmlReportCheck = makeKeyCheck(box, "htmlReportCheck", "html_report");
    m_fields.worldFileCheck = makeKeyCheck(box, "worldFileCheck", "world_file");

    // The template has the panel's whole width, its example included.
    auto* templateLabel = new QLabel(configLabel("photo_name_template"), box);
    templateLabel->setToolTip(configTooltip("photo_name_template"));
    m_fields.templateEdit->setToolTip(configTooltip("photo_name_template"));
    templateLabel->setBuddy(m_fields.templateEdit);
    m_fields.templateEdit->setMinimumWidth(
        m_fields.templateEdit->fontMetrics().horizontalAdvance(m_fields.templateEdit->placeholderText()) + 16);
    form->addRow(templateLabel);
    form->addRow(m_fields.templateEdit);

    // The separator and the extra outputs, seldom changed.
    auto* more = makeSection(QStringLiteral("分隔符与附加输出"), "namingSection", form);
    auto* moreForm = sectionForm(more);
    addKeyRow(moreForm, "field_separator", m_fields.separatorCombo);
    auto* customLabel = new QLabel(QStringLiteral("自定义分隔符"), more->content());
    customLabel->setToolTip(configTooltip("field_separator"));
    customLabel->setBuddy(m_fields.customSeparatorEdit);
    m_fields.customSeparatorEdit->setToolTip(configTooltip("field_separator"));
    moreForm->addRow(customLabel, m_fields.customSeparatorEdit);
    moreForm->addRow(m_fields.htmlReportCheck);
    moreForm->addRow(m_fields.worldFileCheck);
    addDossierRows(form);
}

void SettingsPanels::addDossierRows(QFormLayout* form)
{
    auto* dossier = makeSection(QStringLiteral("档案"), "dossierSection", form);
    auto* rows = sectionForm(dossier);
    auto* marks = new QWidget(dossier->content());
    auto* line = new QHBoxLayout(marks);
    line->setContentsMargins(0, 0, 0, 0);
    const auto mark = [&](const char* name, const QString& text) {
        auto* check = new QCheckBox(text, marks);
        check->setObjectName(QString::fromLatin1(name));
        check->setToolTip(configTooltip("annotate"));
        line->addWidget(check);
        return check;
    };
    m_fields.northArrowCheck = mark("northArrowCheck", QStringLiteral("指北针"));
    m_fields.scaleBarCheck = mark("scaleBarCheck", QStringLiteral("比例尺"));
    m_fields.captionCheck = mark("captionCheck", QStringLiteral("图片说明"));
    line->addStretch(1);
    addKeyRow(rows, "annotate", marks);
    m_fields.captionEdit = new QLineEdit(dossier->content());
    m_fields.captionEdit->setObjectName(QStringLiteral("captionEdit"));
    addKeyRow(rows, "caption_template", m_fields.captionEdit);
    m_fields.pdfLosslessCheck = makeKeyCheck(dossier->content(), "pdfLosslessCheck", "pdf_lossless");
    rows->addRow(m_fields.pdfLosslessCheck);
    m_fields.dossierCheck = makeKeyCheck(dossier->content(), "dossierCheck", "dossier");
    rows->addRow(m_fields.dossierCheck);
    m_fields.dossierTemplateEdit = new QLineEdit(dossier->content());
    m_fields.dossierTemplateEdit->setObjectName(QStringLiteral("dossierTemplateEdit"));
    m_fields.dossierTemplateEdit->setPlaceholderText(QStringLiteral("图斑名称"));
    addKeyRow(rows, "dossier_template", m_fields.dossierTemplateEdit);
    m_fields.dossierFieldsEdit = new QLineEdit(dossier->content());
    m_fields.dossierFieldsEdit->setObjectName(QStringLiteral("dossierFieldsEdit"));
    m_fields.dossierFieldsEdit->setPlaceholderText(QStringLiteral("输出字段"));
    addKeyRow(rows, "dossier_fields", m_fields.dossierFieldsEdit);
    m_fields.dossierBookCheck = makeKeyCheck(dossier->content(), "dossierBookCheck", "dossier_book");
    rows->addRow(m_fields.dossierBookCheck);
    // The sheet's rows and the book mean something only with the sheets.
    const auto follow = [nameEdit = m_fields.dossierTemplateEdit, fieldsEdit = m_fields.dossierFieldsEdit,
                         book = m_fields.dossierBookCheck](bool on) {
        nameEdit->setEnabled(on);
        fieldsEdit->setEnabled(on);
        book->setEnabled(on);
    };
    QObject::connect(m_fields.dossierCheck, &QCheckBox::toggled, m_fields.dossierCheck, follow);
    follow(false);
}

QWidget* SettingsPanels::buildScenePanel()
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    auto* box = makeGroup(QStringLiteral("空间与范围线"), content);
    auto* form = makeForm(box);

    m_fields.stripGaussCheck = makeKeyCheck(box, "stripGaussCheck", "auto_strip_gauss_zone");
    m_fields.gaussPrefixSpin = makeDecimalSpin(box, "gaussPrefixSpin", 0, 99999999, 1, 0, 0);
    m_fields.offsetXSpin = makeDecimalSpin(box, "offsetXSpin", -99999999, 99999999, 0.05, 3, 0);
    m_fields.offsetYSpin = makeDecimalSpin(box, "offsetYSpin", -99999999, 99999999, 0.05, 3, 0);
    m_fields.alignCheck = makeKeyCheck(box, "alignCheck", "auto_align_shp_to_scene");
    m_fields.topRangeCheck = makeKeyCheck(box, "topRangeCheck", "output_top_range");
    m_fields.colourCombo = makeCombo(box, "colourCombo");
    for (const ColourChoice& colour : kRangeLineColours)
        m_fields.colourCombo->addItem(QString::fromUtf8(colour.label), QString::fromLatin1(colour.value));
    m_fields.lineLiftSpin = makeKeyDecimalSpin(box, "lineLiftSpin", "range_line_lift", 0.05, 2, 0, 10);
    m_fields.lineWidthSpin = makeKeyDecimalSpin(box, "lineWidthSpin", "range_line_width", 0.5, 1, 1, 30);
    m_fields.depthTestCheck = makeKeyCheck(box, "depthTestCheck", "range_line_depth_test");
    m_fields.allViewsOutlineCheck = makeKeyCheck(box, "allViewsOutlineCheck", "outline_all_views");

    addFrameChoiceRows(form);
    // Both parts are set once for a project, in sections.
    auto* place = makeSection(QStringLiteral("度带与偏移"), "placeSection", form);
    auto* placeForm = sectionForm(place);
    placeForm->addRow(m_fields.stripGaussCheck);
    addKeyRow(placeForm, "gauss_zone_prefix", m_fields.gaussPrefixSpin);
    addKeyRow(placeForm, "shp_offset_x", m_fields.offsetXSpin);
    addKeyRow(placeForm, "shp_offset_y", m_fields.offsetYSpin);
    placeForm->addRow(m_fields.alignCheck);
    auto* line = makeSection(QStringLiteral("范围线"), "lineSection", form);
    auto* lineForm = sectionForm(line);
    lineForm->addRow(m_fields.topRangeCheck);
    addKeyRow(lineForm, "range_line_color", m_fields.colourCombo);
    addKeyRow(lineForm, "range_line_lift", m_fields.lineLiftSpin);
    addKeyRow(lineForm, "range_line_width", m_fields.lineWidthSpin);
    lineForm->addRow(m_fields.depthTestCheck);
    lineForm->addRow(m_fields.allViewsOutlineCheck);

    column->addWidget(box);
    column->addStretch();
    return content;
}

// Beside the task buttons: the resume beside 开始批量截图, the test count
// beside 测试导出.
QWidget* SettingsPanels::buildRunOptions()
{
    auto* options = new QWidget(m_form);
    options->setObjectName(QStringLiteral("runOptions"));
    m_lockable.append(options);
    auto* row = new QHBoxLayout(options);
    row->setContentsMargins(0, 0, 0, 0);
    m_fields.resumeCheck->setParent(options);
    m_fields.previewSpin->setParent(options);
    auto* label = new QLabel(configLabel("preview_limit"), options);
    label->setToolTip(configTooltip("preview_limit"));
    label->setBuddy(m_fields.previewSpin);
    m_fields.previewSpin->setToolTip(configTooltip("preview_limit"));
    row->addWidget(m_fields.resumeCheck);
    row->addSpacing(12);
    row->addWidget(label);
    row->addWidget(m_fields.previewSpin);
    return options;
}

// The filter is typed as OGR SQL; the retry resumes the batch, so it turns
// 继续上次任务 on, and off again with it.
void SettingsPanels::addFrameChoiceRows(QFormLayout* form)
{
    auto* choice = makeSection(QStringLiteral("选择图斑"), "frameChoiceSection", form);
    auto* choiceForm = sectionForm(choice);
    m_fields.whereEdit = new QLineEdit(choice->content());
    m_fields.whereEdit->setObjectName(QStringLiteral("whereEdit"));
    m_fields.whereEdit->setPlaceholderText(QStringLiteral("ZDDM LIKE '441302%'"));
    m_fields.retryCheck = makeKeyCheck(choice->content(), "retryCheck", "retry_failed_only");
    addKeyRow(choiceForm, "where", m_fields.whereEdit);
    choiceForm->addRow(m_fields.retryCheck);
    // The retry resumes; a resume turned off takes the retry with it.
    QCheckBox* retry = m_fields.retryCheck;
    QCheckBox* resume = m_fields.resumeCheck;
    QObject::connect(retry, &QCheckBox::toggled, resume, [resume](bool on) {
        if (on)
            resume->setChecked(true);
    });
    QObject::connect(resume, &QCheckBox::toggled, retry, [retry](bool on) {
        if (!on)
            retry->setChecked(false);
    });
}

QWidget* SettingsPanels::buildAnglePanel()
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);

    auto* angleBox = makeGroup(configLabel("angles"), content);
    angleBox->setObjectName(QStringLiteral("angleBox"));
    angleBox->setToolTip(configTooltip("angles"));
    auto* angleGrid = new QGridLayout(angleBox);
    int cell = 0;
    for (const char* angle : kAngleGrid) {
        const QString key = QString::fromLatin1(angle);
        auto* check = new QCheckBox(QString::fromUtf8(vistrel::findAngle(angle)->shortLabel), angleBox);
        check->setObjectName(QStringLiteral("angle_") + key);
        check->setToolTip(configTooltip("angles"));
        angleGrid->addWidget(check, cell / kAngleGridColumns, cell % kAngleGridColumns);
        m_fields.angleChecks[key] = check;
        ++cell;
    }

    auto* qualityBox = new QWidget(content);
    auto* qualityRows = makeForm(qualityBox);
    qualityRows->setContentsMargins(0, 0, 0, 0);
    auto* quality = makeSection(QStringLiteral("遮挡与质量"), "qualitySection", qualityRows);
    auto* qualityForm = sectionForm(quality);
    m_fields.avoidOcclusionCheck = makeKeyCheck(quality->content(), "avoidOcclusionCheck", "avoid_occlusion");
    m_fields.occlusionStepSpin =
        makeKeyDecimalSpin(quality->content(), "occlusionStepSpin", "occlusion_sample_step", 0.05, 2, 0, 1);
    qualityForm->addRow(m_fields.avoidOcclusionCheck);
    addKeyRow(qualityForm, "occlusion_sample_step", m_fields.occlusionStepSpin);

    column->addWidget(angleBox);
    column->addWidget(qualityBox);
    column->addStretch();
    return content;
}
