#pragma once
// The one way a run reports: a result line on standard output, a note or a failure reason on
// standard error, and the end of the process.

#include <string_view>

#include "mirlet/cli/command_result.hpp"

namespace mirlet {

// Writes the command's line (and a line feed) to standard output, flushed, and ends with status 0
// (a line that already went out, `lineWritten`, is not written again); or writes its reason (and
// a line feed) to standard error and ends with status 1. The end of every run, on the main thread.
[[noreturn]] void finish(const CommandResult& result);

// Writes a line (and a line feed) to standard output at once, flushed.
void writeLine(std::string_view line);

// Writes a note (which carries its own line feed) to standard error in one write.
void writeNote(std::string_view text);

}  // namespace mirlet
