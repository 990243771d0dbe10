#pragma once

#include <QJsonObject>
#include <QMessageBox>
#include <QStringList>
#include <QWidget>

#include <map>

class FieldPicker;
class FormComboBox;
class FormDoubleSpinBox;
class FormSpinBox;
class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;

// The settings form: the data paths and the four panels side by side
// (picture and output, naming and task, scene and range line, angles and
// quality). It loads a settings object into its fields, collects them into
// one, says which numbers are out of range and which paths are missing, and
// is locked while a task runs. Labels and tooltips come from the
// configuration reference.
class SettingsForm : public QWidget {
    Q_OBJECT

public:
    // programDir: relative paths are taken from the run file's folder in it,
    // and the browse folders are remembered in its config/tavrin.ini.
    explicit SettingsForm(const QString& programDir, QWidget* parent = nullptr);

    // Form <-> settings object. collectSettings gives the renderer's keys;
    // collectGuiSettings adds Tavrin's own, for the project file. Keys of the
    // loaded object that the form does not show come back unchanged (the
    // renderer's in both, any other in the project).
    void loadSettings(const QJsonObject& settings);
    QJsonObject collectSettings(bool testMode) const;
    QJsonObject collectGuiSettings() const;

    FieldPicker* fieldPicker() const { return m_fieldPicker; }
    // 继续上次任务 and 测试导出图斑数, for the row of the task buttons.
    QWidget* runOptions() const { return m_runOptions; }
    // A model folder or file, or a vector source, as if chosen with 浏览
    // (a dropped file); the fields of a vector source are read.
    void setModelPath(const QString& path);
    void setFramesPath(const QString& path);
    // Reads the shapefile's fields into the picker; tells when it cannot.
    void discoverShapefileFields(const QString& shpPath);

    // The folder the renderer writes to for this output field text: a
    // relative path is taken from the run file's folder, as the renderer
    // does; the empty text is "output" in the program folder.
    QString resolvedOutputFolder(const QString& outputDirText) const;
    QString outputFolder() const;  // of the output field as it is

    // The names of the number fields out of their range.
    QStringList invalidNumberFields() const;
    // Names the model and shapefile paths that do not exist below the path
    // fields; true when both are there (or empty).
    bool checkDataPaths();
    bool anyAngleChecked() const;
    // The coordinate-system line as the plan decided it (in place of the
    // one read from the declared systems).
    void showCoordinateDecision(const QString& text);

    void setLocked(bool locked);

signals:
    void numbersEdited();
    // A data path or the frame filter was chosen, dropped or edited (editing
    // finished): what the plan of the run depends on.
    void pathsChanged();
    void message(QMessageBox::Icon icon, const QString& title, const QString& text);
    void logLine(const QString& text);

private:
    QWidget* buildPathBox();
    QLineEdit* addPathRow(class QGridLayout* grid, int row, const char* key, const char* name,
                          void (SettingsForm::*browse)());
    QWidget* buildPanels();
    QWidget* buildPicturePanel();
    QWidget* buildNamingPanel();
    void addNamingRows(QFormLayout* form, QWidget* box);
    void addDossierRows(QFormLayout* form);
    QWidget* buildScenePanel();
    void addFrameChoiceRows(QFormLayout* form, QWidget* box);
    QWidget* buildRunOptions();
    QWidget* buildAnglePanel();
    QWidget* wrapPanel(QWidget* content);
    void keepPlaceholdersGrey();
    void describeSections();
    void loadNumbers(const QJsonObject& s);
    void loadChoices(const QJsonObject& s);
    void loadChecks(const QJsonObject& s);
    void collectNumbers(QJsonObject& s) const;
    void collectChoices(QJsonObject& s) const;

    QString resolvedRunPath(const QString& text) const;
    void refreshPathProblems();
    void showResolvedOutputFolder();
    // Shows both coordinate systems once a model and frames are chosen.
    void updateCoordinateSystemsNote();
    void refreshShapefileFields(bool quiet);
    QString browseStartFolder(const char* row, const QLineEdit* edit) const;
    void rememberBrowseFolder(const char* row, const QString& folder);
    void browseModelPath();
    void browseShapefile();
    void browseOutputFolder();

    const QString m_programDir;
    QList<QWidget*> m_parts;  // what the lock disables
    QJsonObject m_loaded;  // the object last loaded

    // Data paths.
    QLineEdit* m_modelPathEdit = nullptr;
    QLineEdit* m_shapefileEdit = nullptr;
    QLineEdit* m_outputDirEdit = nullptr;
    QLabel* m_pathProblemLabel = nullptr;
    QLabel* m_outputResolvedLabel = nullptr;
    QLabel* m_crsNoteLabel = nullptr;  // both coordinate systems, under the paths

    // Picture and output panel.
    FormSpinBox* m_widthSpin = nullptr;
    FormSpinBox* m_heightSpin = nullptr;
    FormDoubleSpinBox* m_cameraPaddingSpin = nullptr;
    FormDoubleSpinBox* m_obliquePaddingSpin = nullptr;
    FormDoubleSpinBox* m_obliqueDistanceSpin = nullptr;
    FormComboBox* m_viewAngleCombo = nullptr;
    FormSpinBox* m_warmupSpin = nullptr;
    QCheckBox* m_warmupUntilLoadedCheck = nullptr;
    FormSpinBox* m_dpiSpin = nullptr;
    FormComboBox* m_formatCombo = nullptr;

    // Naming and task panel.
    FieldPicker* m_fieldPicker = nullptr;
    FormComboBox* m_separatorCombo = nullptr;
    QLineEdit* m_customSeparatorEdit = nullptr;
    QLineEdit* m_templateEdit = nullptr;
    FormSpinBox* m_previewSpin = nullptr;
    QCheckBox* m_resumeCheck = nullptr;
    QCheckBox* m_htmlReportCheck = nullptr;
    QCheckBox* m_worldFileCheck = nullptr;
    // The dossier section: marks on the pictures and PDF pages.
    QCheckBox* m_northArrowCheck = nullptr;
    QCheckBox* m_scaleBarCheck = nullptr;
    QCheckBox* m_captionCheck = nullptr;
    QLineEdit* m_captionEdit = nullptr;
    QCheckBox* m_pdfLosslessCheck = nullptr;
    // ... and the sheets: one per frame, their names and fields, the book.
    QCheckBox* m_dossierCheck = nullptr;
    QLineEdit* m_dossierTemplateEdit = nullptr;
    QLineEdit* m_dossierFieldsEdit = nullptr;
    QCheckBox* m_dossierBookCheck = nullptr;
    QWidget* m_runOptions = nullptr;

    // Which frames: the attribute filter, and a resume of the failed ones.
    QLineEdit* m_whereEdit = nullptr;
    QCheckBox* m_retryCheck = nullptr;

    // Scene and range line panel.
    QCheckBox* m_stripGaussCheck = nullptr;
    FormDoubleSpinBox* m_gaussPrefixSpin = nullptr;
    FormDoubleSpinBox* m_offsetXSpin = nullptr;
    FormDoubleSpinBox* m_offsetYSpin = nullptr;
    QCheckBox* m_alignCheck = nullptr;
    QCheckBox* m_topRangeCheck = nullptr;
    FormComboBox* m_colourCombo = nullptr;
    FormDoubleSpinBox* m_lineLiftSpin = nullptr;
    FormDoubleSpinBox* m_lineWidthSpin = nullptr;
    QCheckBox* m_depthTestCheck = nullptr;
    QCheckBox* m_allViewsOutlineCheck = nullptr;

    // Angles and quality panel.
    std::map<QString, QCheckBox*> m_angleChecks;  // by angle key
    QCheckBox* m_avoidOcclusionCheck = nullptr;
    FormDoubleSpinBox* m_occlusionStepSpin = nullptr;
};
