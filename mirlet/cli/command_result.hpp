#pragma once
// What a command gives back: its result line, or the reason it failed. `main` writes either and
// ends the process. While a command runs it reports through a Reporter: notes for people the
// moment they happen, and for `audio`, whose line comes when the recording starts, that line.

#include <functional>
#include <string>
#include <string_view>

#include "mirlet/platform/result.hpp"

namespace mirlet {

// The line, or the failure reason.
using CommandResult = Result<std::string>;

// The result of a command whose line went out while it ran: nothing more to write.
inline CommandResult lineWritten() { return std::string(); }

// Takes a note (with its own line feed) for standard error.
using NoteSink = std::function<void(std::string_view text)>;

struct Reporter {
  NoteSink note;
  // Writes the line (without its line feed) at once, flushed.
  std::function<void(std::string_view line)> line;
};

}  // namespace mirlet
