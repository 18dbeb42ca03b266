#pragma once

#include <string>

#include "mirlet/cli/output.hpp"
#include "mirlet/platform/platform.hpp"

namespace mirlet {

// `audio`: starts recording what the machine plays into `path`, writes the recording line, arms
// the stop on SIGINT or SIGTERM and returns. From then on the stop path ends the process.
void recordAudio(Platform& platform, Output& out, const std::string& path);

}  // namespace mirlet
