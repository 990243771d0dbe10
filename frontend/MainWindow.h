#pragma once

#include "OutputLineSplitter.h"
#include "RunOutputReader.h"
#include "UserMessage.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QMainWindow>
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <map>

class FormComboBox;
class FormDoubleSpinBox;
class FormSpinBox;
class LogView;
class PreviewPane;
class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QVBoxLayout;
class QProgressBar;
class QPushButton;
class QSettings;

// The single window of Tavrin: data paths, the settings form, the field
// picker, and running the renderer with its progress, preview and log.
//
// The implementation is split by concern: MainWindow.cpp (construction,
// layout and the header and path actions), MainWindowPanels.cpp (the
// settings panels), MainWindowSettings.cpp (form <-> JSON),
// MainWindowFieldPicker.cpp, MainWindowRunner.cpp (starting, following and
// stopping the renderer) and MainWindowRunEnd.cpp (the end of a run).
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // programDir is the folder of the executable: the settings, the run file
    // and the renderer are looked for there.
    explicit MainWindow(const QString& programDir, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Modal messages go to the handler instead of a message box when set.
    void setMessageHandler(MessageHandler handler);
    // Folders, images and web pages go to the opener instead of the desktop.
    void setUrlOpener(UrlOpener opener);
    // How long a stopped renderer may take to finish its image before it is
    // killed.
    void setStopGracePeriod(int milliseconds);

    QString settingsFilePath() const;

    // Form <-> settings object. collectSettings gives the renderer's keys;
    // collectGuiSettings adds Tavrin's own, for render_gui.json.
    void loadSettings(const QJsonObject& settings);
    QJsonObject collectSettings(bool testMode) const;
    QJsonObject collectGuiSettings() const;
    bool saveSettings(const QString& path, const QJsonObject& settings);

    // Output field picker.
    void rebuildFieldPicker(const QStringList& available, const QStringList& checked);
    QStringList selectedFields() const;
    void discoverShapefileFields(const QString& shpPath);

    // The folder the renderer writes to for this output field text: a
    // relative path is taken from the run file's folder, as the renderer
    // does; the empty text is "output" in the program folder.
    QString resolvedOutputFolder(const QString& outputDirText) const;

    bool running() const { return !m_process.isNull(); }

public slots:
    void startTask(bool testMode);
    void stopTask();

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void showHelp();
    void openFeedbackForm();
    void setFeedbackAddress();
    void openOutputFolder();
    void browseModelPath();
    void browseShapefile();
    void browseOutputFolder();
    void saveCurrentSettings();

    void moveFieldUp();
    void moveFieldDown();

    void readProcessOutput();
    void processFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void processFailedToStart(QProcess::ProcessError error);
    void stopGraceExpired();

private:
    void buildWindow();
    QWidget* buildHeaderRow();
    QWidget* buildPathBox();
    QWidget* buildPicturePanel();
    QWidget* buildNamingPanel();
    QWidget* buildScenePanel();
    QWidget* buildAnglePanel();
    void addFieldPicker(QVBoxLayout* rows, QWidget* box);
    QWidget* buildButtonsRow();
    QWidget* buildProgressRow();
    QWidget* wrapPanel(QWidget* content);
    void addKeyRow(QFormLayout* form, const char* key, QWidget* field);
    QCheckBox* makeKeyCheck(QWidget* parent, const char* name, const char* key);

    bool askQuestion(const QString& title, const QString& text);
    int askChoice(const QString& title, const QString& text, const QStringList& choices);
    bool confirmUnsavedEdits();
    bool hasUnsavedEdits() const;
    void showMessage(QMessageBox::Icon icon, const QString& title, const QString& text,
                     const QList<MessageAction>& actions = {}, const QString& details = {});
    void openUrl(const QUrl& url);
    void appendLog(const QString& line);
    void handleOutputLine(const QString& line);
    void setStatus(const QString& text);
    QString runStateText() const;
    void setIdle();
    void setFormLocked(bool locked);
    void setKeyOrder();
    void watchNumberFields();
    void keepPlaceholdersGrey();
    void updateRunButtons();
    QStringList invalidNumberFields() const;
    void requestStop();
    void forceStop(const QString& reason);
    void showRunEnd(int exitCode, QProcess::ExitStatus exitStatus);
    QStringList runEndCounts() const;
    QList<MessageAction> runEndActions();

    QString resolvedRunPath(const QString& text) const;
    bool readyToStart(const QJsonObject& runSettings);
    bool checkDataPaths();
    void refreshPathProblems();
    void showResolvedOutputFolder();
    void refreshShapefileFields(bool quiet);
    void readShapefileFields(const QString& shpPath, bool quiet);
    void reportMissingFields(const QStringList& missing);
    void updateFieldNote();
    void moveCurrentField(int direction);
    void fieldChoiceEdited();
    int fieldListHeight(int rows) const;

    QString browseStartFolder(const char* row) const;
    void rememberBrowseFolder(const char* row, const QString& folder);
    QString uiStatePath() const;

    const QString m_programDir;
    const QString m_settingsPath;
    MessageHandler m_messageHandler;
    UrlOpener m_urlOpener;

    // Data paths.
    QLineEdit* m_modelPathEdit = nullptr;
    QLineEdit* m_shapefileEdit = nullptr;
    QLineEdit* m_outputDirEdit = nullptr;
    QLabel* m_pathProblemLabel = nullptr;
    QLabel* m_outputResolvedLabel = nullptr;

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
    FormComboBox* m_separatorCombo = nullptr;
    QLineEdit* m_customSeparatorEdit = nullptr;
    QLineEdit* m_templateEdit = nullptr;
    FormSpinBox* m_previewSpin = nullptr;
    QCheckBox* m_resumeCheck = nullptr;
    QCheckBox* m_htmlReportCheck = nullptr;

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

    // Angles and quality panel.
    std::map<QString, QCheckBox*> m_angleChecks; // by angle key
    QCheckBox* m_avoidOcclusionCheck = nullptr;
    FormDoubleSpinBox* m_occlusionStepSpin = nullptr;

    // Field picker: a checkable list in display order.
    QListWidget* m_fieldList = nullptr;
    QLabel* m_fieldNoteLabel = nullptr;
    QString m_fieldsReadFrom; // shapefile whose fields the list holds
    QString m_missingFieldsNote;
    // The fields the user ticked, in order, including those the shapefile
    // now named lacks: a later shapefile that has them ticks them again.
    QStringList m_fieldChoice;
    bool m_rebuildingFields = false;

    // Everything the user edits; locked while a task runs.
    QList<QWidget*> m_formParts;
    // The form as last loaded or saved to render_gui.json.
    QJsonObject m_savedForm;

    // Task controls, progress, preview and log.
    QPushButton* m_startButton = nullptr;
    QPushButton* m_testButton = nullptr;
    QPushButton* m_stopButton = nullptr;
    QPushButton* m_saveButton = nullptr;
    QProgressBar* m_frameBar = nullptr;
    QProgressBar* m_imageBar = nullptr;
    QLabel* m_statusLabel = nullptr;
    QString m_statusText;
    LogView* m_logView = nullptr;
    PreviewPane* m_preview = nullptr;

    // The running renderer; null while idle.
    QPointer<QProcess> m_process;
    QString m_rendererPath;
    QString m_runOutputFolder;
    QElapsedTimer m_timer;
    OutputLineSplitter m_outputLines;
    RunOutputReader m_runOutput;
    int m_previewFrames = 0;     // a test export's frame limit; 0 for a full run
    QString m_progressText;      // status text of the last progress line
    bool m_stopRequested = false;
    bool m_killed = false;
    bool m_closeAfterStop = false;
    bool m_askingToClose = false;
    // A question about the running task; closed when the task ends.
    QPointer<QMessageBox> m_openQuestion;
    int m_stopGraceMs = 30000;
    QTimer m_killTimer;
};
