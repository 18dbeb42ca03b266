#include "mirlet/cli/output.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace mirlet {
namespace {

// One write for the whole text; the loop only finishes what a signal or a pipe cut short.
void writeToStandardError(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // nowhere left to report to
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

[[noreturn]] void endProcess(int status) {
  std::fflush(stdout);
  // Other threads may still be inside the platform's libraries: running static destructors or
  // atexit handlers under them could crash or hang, so the process ends here and now.
  std::_Exit(status);
}

}  // namespace

void finish(const CommandResult& result) {
  if (!result) {
    writeNote(result.error() + '\n');
    endProcess(1);
  }
  if (!result->empty()) writeLine(*result);
  endProcess(0);
}

void writeLine(std::string_view line) {
  std::string text(line);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void writeNote(std::string_view text) { writeToStandardError(text); }

}  // namespace mirlet
