#pragma once
// The one way a run reports: a result line on standard output, a note or a failure reason on
// standard error, and the end of the process.

#include <string_view>

#include "mirlet/cli/command_result.hpp"

namespace mirlet {

// Writes the command's line (and a line feed) to standard output, flushed, and ends with status 0;
// or its reason (and a line feed) to standard error and ends with status 1.
[[noreturn]] void finish(const CommandResult& result);

// Writes a note (which carries its own line feed) to standard error in one write.
void writeNote(std::string_view text);

// How `recordAudio` and `audioOut` still report: they write their line and end the process
// themselves. Goes once they return results like the other commands.
class Output {
 public:
  virtual ~Output() = default;
  // Writes `line` and a line feed to standard output and flushes it.
  virtual void emit(std::string_view line) = 0;
  // Writes `text` (which carries its own line feed) to standard error in one write.
  virtual void note(std::string_view text) = 0;
  // Writes `reason` and a line feed to standard error in one write, then ends with status 1.
  [[noreturn]] void fail(std::string_view reason);
  // Ends the process with `status`; what was emitted has already left.
  [[noreturn]] void exit(int status);

 protected:
  // Ends the process. A test's output throws instead; should one ever return, the process ends
  // all the same.
  virtual void end(int status) = 0;
};

// Standard output, standard error and the real end of the process.
class ProcessOutput final : public Output {
 public:
  void emit(std::string_view line) override;
  void note(std::string_view text) override;

 protected:
  void end(int status) override;
};

// The end of every run, from any thread: flushes standard output and ends the process at once,
// without running static destructors under threads that are still working.
[[noreturn]] void endProcess(int status);

}  // namespace mirlet
