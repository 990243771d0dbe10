#pragma once

#include "core/RenderConfig.h"

namespace vistrel {

// `Vistrel --plan <config>`: what a run of the configuration would do. It
// goes the run's way up to the first picture (the model's roots and extent,
// the frames read and placed, their overlap, the names and the journal's
// take-overs), draws at most one picture in memory to time it, and prints
// the plan lines (core/PlanProtocol.h) on the log. Nothing is written into
// output_dir and no journal is locked. Returns the exit code a run would
// give for a bad model or layer; a plan without a frame over the model is
// printed and then ends with ExitNothingToRender.
int runPlan(const RenderConfig& config);

}  // namespace vistrel
