#pragma once

#include "core/PlanProtocol.h"

#include <QString>

#include <optional>
#include <vector>

// What `Vistrel --plan` said about a run: the model's root tiles, every
// frame with its overlap and rings, the summary; or why it said nothing.
struct PlanData {
    std::vector<vistrel::PlanTile> tiles;  // footprints, or grid cells
    std::vector<vistrel::PlanFrame> frames;
    std::optional<vistrel::PlanSummary> summary;
    QString failure;  // the renderer's reason, in Chinese, when a line said why it failed
};

// Reads one line of the plan's output into `plan`.
void readPlanLine(const QString& line, PlanData& plan);

// "N / M 个图斑位于模型上" and what else the summary says, for the map's
// caption; empty before the summary.
QString planCaption(const PlanData& plan);

// The coordinate-system line from the plan's decision (what the run does
// with the frames), in Chinese; empty before the summary.
QString planSystemsText(const vistrel::PlanSummary& summary);
