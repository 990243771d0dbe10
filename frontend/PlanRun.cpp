#include "PlanRun.h"

PlanRun::PlanRun(QObject* parent) : QObject(parent)
{
}

PlanRun::~PlanRun()
{
    endProcess();
}

void PlanRun::endProcess()
{
    if (!m_process)
        return;
    m_process->disconnect(this);
    m_process->kill();
    m_process->waitForFinished(3000);
    delete m_process;
}

void PlanRun::start(const QString& program, const QString& runFile, const QString& workingDir)
{
    endProcess();
    auto* process = new QProcess(this);
    process->setProgram(program);
    process->setArguments({QStringLiteral("--plan"), runFile});
    process->setWorkingDirectory(workingDir);
    process->setProcessChannelMode(QProcess::MergedChannels);
    m_lines.reset();
    m_plan = PlanData{};
    connect(process, &QProcess::readyReadStandardOutput, this, [this, process] {
        for (const QString& line : m_lines.feed(process->readAllStandardOutput()))
            readPlanLine(line, m_plan);
    });
    connect(process, &QProcess::finished, this, [this, process] {
        for (const QString& line : m_lines.feed(process->readAllStandardOutput()) + m_lines.finish())
            readPlanLine(line, m_plan);
        process->deleteLater();
        emit planned(m_plan);
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        m_plan.failure = QStringLiteral("无法启动渲染器：") + process->errorString();
        process->deleteLater();
        emit planned(m_plan);
    });
    m_process = process;
    process->start(QIODevice::ReadOnly);
}
