#pragma once

#include "OutputLineSplitter.h"
#include "UserMessage.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QMainWindow>
#include <QPointer>
#include <QProcess>
#include <QStringList>

#include <map>

class QAction;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QToolButton;

// The single window of Tavrin: data paths, the settings form, the field
// picker, and running the renderer with its progress and log.
//
// The implementation is split by concern: MainWindow.cpp (construction,
// layout and the header and path actions), MainWindowPanels.cpp (the two
// settings panels), MainWindowSettings.cpp (form <-> JSON),
// MainWindowFieldPicker.cpp and MainWindowRunner.cpp.
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

    QString settingsFilePath() const;

    // Form <-> settings object.
    void loadSettings(const QJsonObject& settings);
    QJsonObject collectSettings(bool testMode) const;
    bool saveSettings(const QString& path, const QJsonObject& settings);

    // Output field picker.
    void rebuildFieldPicker(const QStringList& available, const QStringList& checked);
    QStringList selectedFields() const;
    void discoverShapefileFields(const QString& shpPath);

public slots:
    void startTask(bool testMode);
    void stopTask();

private slots:
    void showHelp();
    void openFeedbackForm();
    void openOutputFolder();
    void browseModelPath();
    void browseShapefile();
    void browseOutputFolder();
    void saveCurrentSettings();

    void moveFieldUp();
    void moveFieldDown();
    void updateFieldButtonText();

    void readProcessOutput();
    void processFinished(int exitCode);
    void processFailedToStart(QProcess::ProcessError error);

private:
    void buildWindow();
    QWidget* buildHeaderRow();
    QWidget* buildPathBox();
    QWidget* buildNamingPanel();
    QWidget* buildScenePanel();
    QWidget* buildFieldPickerRow();
    QWidget* buildButtonsRow();
    QWidget* buildProgressRow();

    void showMessage(QMessageBox::Icon icon, const QString& title, const QString& text);
    void appendLog(const QString& line);
    void handleOutputLine(const QString& line);
    void setIdle();

    void fillFieldMenu(const QStringList& order, const QStringList& checked);
    void moveCurrentField(int direction);

    const QString m_programDir;
    const QString m_settingsPath;
    MessageHandler m_messageHandler;

    // Data paths.
    QLineEdit* m_modelPathEdit = nullptr;
    QLineEdit* m_shapefileEdit = nullptr;
    QLineEdit* m_outputDirEdit = nullptr;

    // Naming and output panel.
    QSpinBox* m_widthSpin = nullptr;
    QSpinBox* m_heightSpin = nullptr;
    QDoubleSpinBox* m_cameraPaddingSpin = nullptr;
    QDoubleSpinBox* m_obliquePaddingSpin = nullptr;
    QDoubleSpinBox* m_obliqueDistanceSpin = nullptr;
    QComboBox* m_viewAngleCombo = nullptr;
    QSpinBox* m_warmupSpin = nullptr;
    QComboBox* m_separatorCombo = nullptr;
    QLineEdit* m_customSeparatorEdit = nullptr;
    QLineEdit* m_templateEdit = nullptr;
    QSpinBox* m_previewSpin = nullptr;
    QSpinBox* m_dpiSpin = nullptr;
    QComboBox* m_formatCombo = nullptr;

    // Scene and quality panel.
    QCheckBox* m_stripGaussCheck = nullptr;
    QDoubleSpinBox* m_gaussPrefixSpin = nullptr;
    QDoubleSpinBox* m_offsetXSpin = nullptr;
    QDoubleSpinBox* m_offsetYSpin = nullptr;
    QCheckBox* m_alignCheck = nullptr;
    QCheckBox* m_topRangeCheck = nullptr;
    QComboBox* m_colourCombo = nullptr;
    QDoubleSpinBox* m_lineLiftSpin = nullptr;
    QDoubleSpinBox* m_lineWidthSpin = nullptr;
    std::map<QString, QCheckBox*> m_angleChecks; // by angle key
    QCheckBox* m_avoidOcclusionCheck = nullptr;
    QDoubleSpinBox* m_occlusionStepSpin = nullptr;

    // Field picker.
    QToolButton* m_fieldButton = nullptr;
    QMenu* m_fieldMenu = nullptr;
    QStringList m_fieldOrder;
    std::map<QString, QAction*> m_fieldActions;
    QString m_currentField;

    // Task controls, progress and log.
    QPushButton* m_startButton = nullptr;
    QPushButton* m_testButton = nullptr;
    QPushButton* m_stopButton = nullptr;
    QPushButton* m_saveButton = nullptr;
    QProgressBar* m_frameBar = nullptr;
    QProgressBar* m_imageBar = nullptr;
    QLabel* m_statusLabel = nullptr;
    QPlainTextEdit* m_logView = nullptr;

    // The running renderer; null while idle.
    QPointer<QProcess> m_process;
    QString m_rendererPath;
    QElapsedTimer m_timer;
    OutputLineSplitter m_outputLines;
};
