#pragma once

#include "OutputLineSplitter.h"
#include "PlanData.h"

#include <QObject>
#include <QPointer>
#include <QProcess>

// `Vistrel --plan <run file>` in the background: what a run with these
// settings would do, read line by line. A new start ends the one before.
class PlanRun : public QObject {
    Q_OBJECT

public:
    explicit PlanRun(QObject* parent = nullptr);
    ~PlanRun() override;

    void start(const QString& program, const QString& runFile, const QString& workingDir);
    bool running() const { return !m_process.isNull(); }

signals:
    // The plan as read; `plan.summary` is empty when the renderer could not
    // plan (its reason in `plan.failure`).
    void planned(const PlanData& plan);

private:
    void endProcess();

    QPointer<QProcess> m_process;
    OutputLineSplitter m_lines;
    PlanData m_plan;
};
