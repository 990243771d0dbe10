#pragma once

#include <string>

namespace vistrel {

// The whole program: log, configuration, task. Returns the exit code.
int runVistrel(int argc, char** argv);

// config/render.json beside the program when it exists (absolute path),
// otherwise the relative "config/render.json". `programPath` is argv[0];
// without a folder part the program's own file (/proc/self/exe) is used.
// Throws std::filesystem::filesystem_error ("absolute", "exists").
std::string defaultConfigPath(const std::string& programPath);

}  // namespace vistrel
