// The two settings panels of the main window: naming and output on the
// left, scene and quality on the right.

#include "MainWindow.h"

#include "FormChoices.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QSpinBox* makeSpin(QWidget* parent, const char* name, int minimum, int maximum, int value)
{
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    return spin;
}

QDoubleSpinBox* makeDecimalSpin(QWidget* parent, const char* name, double minimum, double maximum,
                                double step, int decimals, double value)
{
    auto* spin = new QDoubleSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setDecimals(decimals);
    spin->setRange(minimum, maximum);
    spin->setSingleStep(step);
    spin->setValue(value);
    return spin;
}

QCheckBox* makeCheck(QWidget* parent, const char* name, const QString& text)
{
    auto* check = new QCheckBox(text, parent);
    check->setObjectName(QString::fromLatin1(name));
    return check;
}

QScrollArea* wrapInScrollArea(QWidget* content, QWidget* parent)
{
    auto* area = new QScrollArea(parent);
    area->setWidgetResizable(true);
    area->setWidget(content);
    return area;
}

} // namespace

QWidget* MainWindow::buildNamingPanel()
{
    auto* content = new QWidget;
    auto* form = new QFormLayout(content);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    m_widthSpin = makeSpin(content, "widthSpin", 1, 20000, 3840);
    m_heightSpin = makeSpin(content, "heightSpin", 1, 20000, 2160);
    m_cameraPaddingSpin = makeDecimalSpin(content, "cameraPaddingSpin", 1, 3, 0.05, 2, 1.05);
    m_obliquePaddingSpin = makeDecimalSpin(content, "obliquePaddingSpin", 0.5, 1.5, 0.05, 2, 1.02);
    m_obliqueDistanceSpin =
        makeDecimalSpin(content, "obliqueDistanceSpin", 0.25, 1.5, 0.05, 2, 0.8);

    m_viewAngleCombo = new QComboBox(content);
    m_viewAngleCombo->setObjectName(QStringLiteral("viewAngleCombo"));
    for (int angle = kFirstViewAngle; angle <= kLastViewAngle; angle += kViewAngleStep)
        m_viewAngleCombo->addItem(QString::number(angle), angle);

    m_warmupSpin = makeSpin(content, "warmupSpin", 0, 100, 8);

    m_separatorCombo = new QComboBox(content);
    m_separatorCombo->setObjectName(QStringLiteral("separatorCombo"));
    m_separatorCombo->addItems({QString::fromUtf8(kUnderscoreSeparator),
                                QString::fromUtf8(kNestedFolderSeparator),
                                QString::fromUtf8(kDashSeparator),
                                QString::fromUtf8(kCustomSeparator)});
    m_customSeparatorEdit = new QLineEdit(content);
    m_customSeparatorEdit->setObjectName(QStringLiteral("customSeparatorEdit"));
    m_customSeparatorEdit->setPlaceholderText(QStringLiteral("自定义分隔符"));
    m_customSeparatorEdit->setEnabled(false);
    connect(m_separatorCombo, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        m_customSeparatorEdit->setEnabled(text == QString::fromUtf8(kCustomSeparator));
    });

    m_templateEdit = new QLineEdit(content);
    m_templateEdit->setObjectName(QStringLiteral("templateEdit"));
    m_templateEdit->setPlaceholderText(
        QStringLiteral("<ZDDM>\\4.照片资料\\2.房屋照片<FWBH>幢_#"));

    m_previewSpin = makeSpin(content, "previewSpin", 0, 100000, 0);
    m_dpiSpin = makeSpin(content, "dpiSpin", 72, 1200, 300);

    m_formatCombo = new QComboBox(content);
    m_formatCombo->setObjectName(QStringLiteral("formatCombo"));
    for (const char* format : kOutputFormats)
        m_formatCombo->addItem(QString::fromLatin1(format));

    form->addRow(QStringLiteral("宽度"), m_widthSpin);
    form->addRow(QStringLiteral("高度"), m_heightSpin);
    form->addRow(QStringLiteral("正射留边"), m_cameraPaddingSpin);
    form->addRow(QStringLiteral("倾斜留边系数"), m_obliquePaddingSpin);
    form->addRow(QStringLiteral("倾斜距离系数"), m_obliqueDistanceSpin);
    form->addRow(QStringLiteral("倾斜视角角度"), m_viewAngleCombo);
    form->addRow(QStringLiteral("渲染等待帧数"), m_warmupSpin);
    form->addRow(QStringLiteral("输出字段名"), buildFieldPickerRow());
    form->addRow(QStringLiteral("字段组合分隔符"), m_separatorCombo);
    form->addRow(QStringLiteral("自定义分隔符"), m_customSeparatorEdit);
    form->addRow(QStringLiteral("照片名称模板"), m_templateEdit);
    form->addRow(QStringLiteral("测试导出图斑数"), m_previewSpin);
    form->addRow(QStringLiteral("输出图片 DPI"), m_dpiSpin);
    form->addRow(QStringLiteral("图片格式"), m_formatCombo);

    return wrapInScrollArea(content, this);
}

QWidget* MainWindow::buildFieldPickerRow()
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    m_fieldMenu = new QMenu(row);
    m_fieldMenu->setObjectName(QStringLiteral("fieldMenu"));
    m_fieldButton = new QToolButton(row);
    m_fieldButton->setObjectName(QStringLiteral("fieldButton"));
    m_fieldButton->setPopupMode(QToolButton::InstantPopup);
    m_fieldButton->setMenu(m_fieldMenu);
    m_fieldButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto* up = new QPushButton(QStringLiteral("上移"), row);
    up->setObjectName(QStringLiteral("fieldUpButton"));
    auto* down = new QPushButton(QStringLiteral("下移"), row);
    down->setObjectName(QStringLiteral("fieldDownButton"));

    layout->addWidget(m_fieldButton, 1);
    layout->addWidget(up);
    layout->addWidget(down);
    connect(up, &QPushButton::clicked, this, &MainWindow::moveFieldUp);
    connect(down, &QPushButton::clicked, this, &MainWindow::moveFieldDown);
    return row;
}

QWidget* MainWindow::buildScenePanel()
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);

    auto* spaceBox = new QGroupBox(QStringLiteral("空间与范围线"), content);
    auto* spaceForm = new QFormLayout(spaceBox);
    m_stripGaussCheck =
        makeCheck(spaceBox, "stripGaussCheck", QStringLiteral("自动识别并去除 37000000 等度带"));
    m_gaussPrefixSpin = makeDecimalSpin(spaceBox, "gaussPrefixSpin", 0, 99999999, 1, 0, 0);
    m_offsetXSpin = makeDecimalSpin(spaceBox, "offsetXSpin", -99999999, 99999999, 0.05, 3, 0);
    m_offsetYSpin = makeDecimalSpin(spaceBox, "offsetYSpin", -99999999, 99999999, 0.05, 3, 0);
    m_alignCheck = makeCheck(spaceBox, "alignCheck", QStringLiteral("检查 SHP 与模型空间位置"));
    m_topRangeCheck = makeCheck(spaceBox, "topRangeCheck", QStringLiteral("输出正射范围线图片"));
    m_colourCombo = new QComboBox(spaceBox);
    m_colourCombo->setObjectName(QStringLiteral("colourCombo"));
    for (const ColourChoice& colour : kRangeLineColours)
        m_colourCombo->addItem(QString::fromUtf8(colour.label), QString::fromLatin1(colour.value));
    m_lineLiftSpin = makeDecimalSpin(spaceBox, "lineLiftSpin", 0, 10, 0.05, 2, 0.08);
    m_lineWidthSpin = makeDecimalSpin(spaceBox, "lineWidthSpin", 1, 30, 0.05, 1, 5);

    spaceForm->addRow(m_stripGaussCheck);
    spaceForm->addRow(QStringLiteral("手动度带前缀"), m_gaussPrefixSpin);
    spaceForm->addRow(QStringLiteral("SHP 偏移 X"), m_offsetXSpin);
    spaceForm->addRow(QStringLiteral("SHP 偏移 Y"), m_offsetYSpin);
    spaceForm->addRow(m_alignCheck);
    spaceForm->addRow(m_topRangeCheck);
    spaceForm->addRow(QStringLiteral("范围线颜色"), m_colourCombo);
    spaceForm->addRow(QStringLiteral("范围线贴模型抬升"), m_lineLiftSpin);
    spaceForm->addRow(QStringLiteral("范围线宽度"), m_lineWidthSpin);

    auto* angleBox = new QGroupBox(QStringLiteral("拍摄角度"), content);
    auto* angleGrid = new QGridLayout(angleBox);
    for (const AngleChoice& angle : kAngleChoices) {
        const QString key = QString::fromLatin1(angle.key);
        auto* check = new QCheckBox(QString::fromUtf8(angle.label), angleBox);
        check->setObjectName(QStringLiteral("angle_") + key);
        angleGrid->addWidget(check, angle.row, angle.column);
        m_angleChecks[key] = check;
    }

    auto* qualityBox = new QGroupBox(QStringLiteral("遮挡与质量"), content);
    auto* qualityForm = new QFormLayout(qualityBox);
    m_avoidOcclusionCheck = makeCheck(qualityBox, "avoidOcclusionCheck",
                                      QStringLiteral("自动检测遮挡并提高相机角度"));
    m_occlusionStepSpin = makeDecimalSpin(qualityBox, "occlusionStepSpin", 0.1, 0.9, 0.05, 2, 0.35);
    qualityForm->addRow(m_avoidOcclusionCheck);
    qualityForm->addRow(QStringLiteral("遮挡采样步长"), m_occlusionStepSpin);

    column->addWidget(spaceBox);
    column->addWidget(angleBox);
    column->addWidget(qualityBox);
    column->addStretch();

    return wrapInScrollArea(content, this);
}
