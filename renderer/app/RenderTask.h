#pragma once

#include "core/RenderConfig.h"
#include "core/RunProtocol.h"

namespace vistrel {

// Runs the task of a validated configuration and returns the exit code.
int runRenderTask(RenderConfig config);

}  // namespace vistrel
