#pragma once
// The dispatcher: one command, named by args[1], run on the calling (main) thread.

#include <string>
#include <vector>

#include "mirlet/cli/command_result.hpp"
#include "mirlet/platform/platform.hpp"

namespace mirlet {

// Whether the run records: SIGINT and SIGTERM must then be held before any thread starts, so that
// a stop asked for during the start is kept for the recording rather than ending the process.
bool isRecording(const std::vector<std::string>& args);

// Runs the command and gives its line or its failure reason.
CommandResult runCommand(const std::vector<std::string>& args, Platform& platform,
                         const Reporter& report);

}  // namespace mirlet
