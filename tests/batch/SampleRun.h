#pragma once

#include "support/OutputProbes.h"
#include "support/SampleData.h"
#include "support/TestSupport.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <string>

// Runs Vistrel over the generated sample city (build/sample) with a small,
// fast configuration and gives access to what it wrote.
namespace batchtest {

namespace fs = std::filesystem;

using testsupport::frameByRole;
using testsupport::sampleDir;
using testsupport::truth;
using testsupport::uniqueFrameNames;

// The test configuration: 320 x 180 PNG, no warm-up, the sample's name
// fields and camera distance; `overrides` replace keys.
nlohmann::json smallConfig(const nlohmann::json& overrides);

struct SampleRun {
    testsupport::ProcessResult process;
    fs::path outputDir;
    std::string log() const { return process.out; }
};

// Writes the configuration into `dir` and runs Vistrel there, headless.
SampleRun runVistrel(const testsupport::TempDir& dir, const nlohmann::json& config);

// As runVistrel, with the configuration in `dir`/`name`, extra environment
// and a `watch` that sees the output so far and the child's pid.
SampleRun runVistrelWith(const testsupport::TempDir& dir, const std::string& name, const nlohmann::json& config,
                         const std::map<std::string, std::string>& env = {},
                         const std::function<void(const std::string&, int)>& watch = {});

// smallConfig at 480 x 270 with a 1-pixel magenta outline image; `overrides`
// replace keys.
nlohmann::json outlineConfig(const nlohmann::json& overrides);

// A pixel of the magenta outline.
bool isMagenta(const unsigned char* p);

// Peak signal-to-noise ratio of two pictures of one size over their colour
// channels, in dB (99 when equal).
double psnr(const testsupport::DecodedPng& a, const testsupport::DecodedPng& b);

// The largest distance, in pixels along x or y, from an outline pixel of
// either image to the nearest outline pixel of the other (capped at 10).
double outlineOffset(const testsupport::DecodedPng& a, const testsupport::DecodedPng& b);

// Relative path -> bytes of every .png below `root`.
std::map<std::string, std::string> pngFilesBelow(const fs::path& root);

}  // namespace batchtest
