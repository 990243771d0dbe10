#pragma once

#include <QJsonObject>
#include <QString>

#include <map>

class FieldPicker;
class FormComboBox;
class FormDoubleSpinBox;
class FormSpinBox;
class QCheckBox;
class QLineEdit;

// The fields of the settings panels (SettingsPanels builds them), and their
// values: loaded from a settings object and collected into one. The data
// paths are the form's own.
struct SettingsFields {
    // Fills the fields; a missing key or a value of the wrong JSON type
    // gives the value Tavrin starts with.
    void load(const QJsonObject& s);
    // The renderer's keys of the fields; preview_limit is the test count in
    // a test export, else 0 (a full run).
    void collect(QJsonObject& s, bool testMode) const;
    // Tavrin's own keys, for the project file.
    void collectTavrinKeys(QJsonObject& s) const;
    bool anyAngleChecked() const;

    // Picture and output panel.
    FormSpinBox* widthSpin = nullptr;
    FormSpinBox* heightSpin = nullptr;
    FormDoubleSpinBox* cameraPaddingSpin = nullptr;
    FormDoubleSpinBox* obliquePaddingSpin = nullptr;
    FormDoubleSpinBox* obliqueDistanceSpin = nullptr;
    FormComboBox* viewAngleCombo = nullptr;
    FormSpinBox* warmupSpin = nullptr;
    QCheckBox* warmupUntilLoadedCheck = nullptr;
    FormSpinBox* dpiSpin = nullptr;
    FormComboBox* formatCombo = nullptr;

    // Naming and task panel.
    FieldPicker* fieldPicker = nullptr;
    FormComboBox* separatorCombo = nullptr;
    QLineEdit* customSeparatorEdit = nullptr;
    QLineEdit* templateEdit = nullptr;
    FormSpinBox* previewSpin = nullptr;
    QCheckBox* resumeCheck = nullptr;
    QCheckBox* htmlReportCheck = nullptr;
    QCheckBox* worldFileCheck = nullptr;
    // The dossier section: marks on the pictures and PDF pages.
    QCheckBox* northArrowCheck = nullptr;
    QCheckBox* scaleBarCheck = nullptr;
    QCheckBox* captionCheck = nullptr;
    QLineEdit* captionEdit = nullptr;
    QCheckBox* pdfLosslessCheck = nullptr;
    // ... and the sheets: one per frame, their names and fields, the book.
    QCheckBox* dossierCheck = nullptr;
    QLineEdit* dossierTemplateEdit = nullptr;
    QLineEdit* dossierFieldsEdit = nullptr;
    QCheckBox* dossierBookCheck = nullptr;

    // Which frames: the attribute filter, and a resume of the failed ones.
    QLineEdit* whereEdit = nullptr;
    QCheckBox* retryCheck = nullptr;

    // Scene and range line panel.
    QCheckBox* stripGaussCheck = nullptr;
    FormDoubleSpinBox* gaussPrefixSpin = nullptr;
    FormDoubleSpinBox* offsetXSpin = nullptr;
    FormDoubleSpinBox* offsetYSpin = nullptr;
    QCheckBox* alignCheck = nullptr;
    QCheckBox* topRangeCheck = nullptr;
    FormComboBox* colourCombo = nullptr;
    FormDoubleSpinBox* lineLiftSpin = nullptr;
    FormDoubleSpinBox* lineWidthSpin = nullptr;
    QCheckBox* depthTestCheck = nullptr;
    QCheckBox* allViewsOutlineCheck = nullptr;

    // Angles and quality panel.
    std::map<QString, QCheckBox*> angleChecks;  // by angle key
    QCheckBox* avoidOcclusionCheck = nullptr;
    FormDoubleSpinBox* occlusionStepSpin = nullptr;

private:
    void loadNumbers(const QJsonObject& s);
    void loadChoices(const QJsonObject& s);
    void loadChecks(const QJsonObject& s);
    void collectNumbers(QJsonObject& s) const;
    void collectChoices(QJsonObject& s) const;
    void collectChecks(QJsonObject& s) const;
};
