#include <csignal>
#include <exception>
#include <string>
#include <vector>

#include "mirlet/cli/output.hpp"
#include "mirlet/mirlet.hpp"
#include "mirlet/platform/linux/linux_platform.hpp"

int main(int argc, char** argv) {
  // A caller that stops reading gets a write error, not a process killed by SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  // Both live until the process ends: every end is an _Exit, never a return through destructors
  // while threads still run.
  static const std::vector<std::string> args(argv, argv + argc);
  try {
    static auto* system = new mirlet::LinuxPlatform();
    if (mirlet::isLegacyCommand(args)) {
      static mirlet::ProcessOutput out;
      mirlet::runLegacyCommand(args, system->platform(), out);
    }
    mirlet::finish(mirlet::runCommand(args, system->platform(), mirlet::writeNote));
  } catch (const std::exception& error) {
    mirlet::finish(mirlet::refuse(std::string("platform_unavailable: ") + error.what()));
  }
}
