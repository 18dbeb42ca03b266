#pragma once
// The dispatcher: one command, named by args[1], run on the calling (main) thread.

#include <string>
#include <vector>

#include "mirlet/cli/command_result.hpp"
#include "mirlet/cli/output.hpp"
#include "mirlet/platform/platform.hpp"

namespace mirlet {

// Runs the command and gives its line or its failure reason; for the commands that
// `isLegacyCommand` names, `main` calls `runLegacyCommand` instead.
CommandResult runCommand(const std::vector<std::string>& args, Platform& platform,
                         const NoteSink& note);

// `audio` with its path, and `audioout`: the two commands that still write their line and end the
// process themselves, through an Output, until they give results like the others.
bool isLegacyCommand(const std::vector<std::string>& args);

// `audio` holds SIGINT and SIGTERM before its first thread starts, starts the recording, then
// serves the stop signals on this thread until the stop path ends the process. `audioout` ends
// the process once answered.
[[noreturn]] void runLegacyCommand(const std::vector<std::string>& args, Platform& platform,
                                   Output& out);

}  // namespace mirlet
