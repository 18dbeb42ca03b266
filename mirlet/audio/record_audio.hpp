#pragma once

#include <string>

#include "mirlet/cli/command_result.hpp"
#include "mirlet/platform/platform.hpp"

namespace mirlet {

// `audio`: records what the machine plays into `path`. Writes the recording line once the capture
// runs, then waits for SIGINT or SIGTERM (held since the process began) or for the file to fail;
// stops the capture, completes the file and notes "stopped". The reason when it could not start,
// or "write_failed: " and why the file could not be written, after the line.
CommandResult recordAudio(Platform& platform, const std::string& path, const Reporter& report);

}  // namespace mirlet
