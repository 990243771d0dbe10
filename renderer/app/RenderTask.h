#pragma once

#include "core/RenderConfig.h"

namespace vistrel {

// Exit codes of a run.
enum ExitCode {
    ExitSuccess = 0,
    ExitConfigOrTaskFailure = 1,
    ExitNoScene = 2,
    ExitNoFrames = 3,
    ExitRenderFailure = 4,
    ExitStopped = 5,  // SIGTERM or SIGINT: the report holds what was done
};

// Runs the task of a validated configuration and returns the exit code.
int runRenderTask(RenderConfig config);

}  // namespace vistrel
