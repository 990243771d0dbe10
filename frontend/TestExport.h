#pragma once

#include <QJsonObject>
#include <QString>

// A test export (测试导出) renders the first frames of the batch into a
// folder of its own below the batch's output folder, with its own journal
// and reports, so that it never moves the journal of a stopped batch aside
// or replaces the reports of a finished one.

// The folder name below the output folder.
inline constexpr char kTestExportFolderName[] = "测试导出";

// <outputFolder>/测试导出 (absolute, clean).
QString testExportFolder(const QString& outputFolder);

// Why a test export with these run settings may not start, in Chinese;
// empty when it may: the test folder would be the batch's own (a link back
// to the output folder, or the name template writes the batch's pictures
// into it).
QString testExportRefusal(const QJsonObject& runSettings, const QString& outputFolder);

// The run settings of the test: the same, writing into the test folder.
QJsonObject testExportSettings(QJsonObject runSettings, const QString& outputFolder);
