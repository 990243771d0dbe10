#pragma once

#include <QGroupBox>
#include <QString>

class QGridLayout;
class QLabel;
class QLineEdit;

// "数据路径": the model, the frames and the output folder with their browse
// buttons, the folders the renderer will take them for, the paths missing
// and the coordinate systems of the model and the frames.
class DataPathBox : public QGroupBox {
    Q_OBJECT

public:
    // programDir: relative paths are taken from the run file's folder in it,
    // and the browse folders are remembered in its config/tavrin.ini.
    DataPathBox(const QString& programDir, QWidget* parent);

    // The texts of the three fields as they are.
    QString modelText() const;
    QString framesText() const;
    QString outputText() const;
    // As a loaded settings object gives them.
    void setTexts(const QString& model, const QString& frames, const QString& output);
    // A model folder or file, or a vector source, as if chosen with 浏览.
    void setModelPath(const QString& path);
    void setFramesPath(const QString& path);

    // A path as the renderer takes it: relative to the run file's folder.
    QString resolvedRunPath(const QString& text) const;
    // The folder the renderer writes to for this output field text; the
    // empty text is "output" in the program folder.
    QString resolvedOutputFolder(const QString& outputDirText) const;

    // Names the model and frames paths that do not exist below the fields;
    // true when both are there (or empty).
    bool checkDataPaths();
    // Both coordinate systems once a model and frames are chosen, as they
    // are declared, or as the plan decided them.
    void updateCoordinateSystemsNote();
    void showCoordinateDecision(const QString& text);

signals:
    // A data path was chosen, dropped or edited (editing finished).
    void pathsChanged();
    // Frames were chosen or dropped: their fields are to be read.
    void framesChosen(const QString& text);
    // The frames field was edited (editing finished).
    void framesEdited();

private:
    QLineEdit* addPathRow(QGridLayout* grid, int row, const char* key, const char* name, void (DataPathBox::*browse)());
    void addHintLines(QGridLayout* grid);
    void refreshPathProblems();
    void showResolvedOutputFolder();
    QString browseStartFolder(const char* row, const QLineEdit* edit) const;
    void rememberBrowseFolder(const char* row, const QString& folder);
    void browseModelPath();
    void browseShapefile();
    void browseOutputFolder();

    const QString m_programDir;
    QLineEdit* m_modelPathEdit = nullptr;
    QLineEdit* m_shapefileEdit = nullptr;
    QLineEdit* m_outputDirEdit = nullptr;
    QLabel* m_pathProblemLabel = nullptr;
    QLabel* m_outputResolvedLabel = nullptr;
    QLabel* m_crsNoteLabel = nullptr;  // both coordinate systems, under the paths
};
