#pragma once
// The process entry and the dispatcher.

#include <string>
#include <vector>

#include "mirlet/cli/output.hpp"
#include "mirlet/platform/platform.hpp"

namespace mirlet {

// Runs one command named by args[1]; the process ends inside, or (for `audio`) later on the
// recording's stop path.
void dispatchCommand(const std::vector<std::string>& args, Platform& platform, Output& out);

// The start-up of the process: checks for a command word, prepares the platform for it, starts the
// dispatcher on a worker thread and serves the run loop on the calling thread. Returns only if
// the run loop does.
int runMirlet(const std::vector<std::string>& args, Platform& platform, Output& out);

}  // namespace mirlet
