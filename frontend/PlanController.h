#pragma once

#include <QObject>
#include <QString>

class PlanMap;
class PlanRun;
class PreviewPane;
class QLabel;
class QTimer;
class QWidget;
class RunController;
class SettingsForm;
class UserDialogs;
struct PlanData;

// The plan of the paths chosen: `Vistrel --plan` in the background a moment
// after they change, its decision on the coordinate systems below the
// paths, and the map of the parcels (the pane it builds); after a run the
// map shows the results of the report, and a click on a parcel opens its
// folder, its pictures and its report row.
class PlanController : public QObject {
    Q_OBJECT

public:
    struct Parts {
        SettingsForm* form = nullptr;
        PreviewPane* preview = nullptr;
        UserDialogs* dialogs = nullptr;
        // No plan is started while a task runs.
        const RunController* run = nullptr;
    };

    PlanController(const QString& programDir, const Parts& parts, QObject* parent);

    // The caption, the map and the row of the parcel clicked.
    QWidget* buildPane(QWidget* parent);

    // Once both data paths are given.
    void schedule();
    // Runs `Vistrel --plan` for the settings as they are.
    void start();
    bool planning() const;

    // The folder of the task started last, where its report and pictures are.
    void setRunOutputFolder(const QString& folder) { m_runOutputFolder = folder; }
    // After a run: the parcels coloured by the report the run wrote.
    void showRunResults();

private:
    void showPlan(const PlanData& plan);
    void openParcel(int parcel);

    const QString m_programDir;
    const Parts m_parts;
    PlanRun* m_plan = nullptr;
    QTimer* m_timer = nullptr;
    PlanMap* m_map = nullptr;
    QLabel* m_caption = nullptr;
    QLabel* m_parcelLabel = nullptr;  // the report row of the parcel clicked
    QString m_runOutputFolder;
};
