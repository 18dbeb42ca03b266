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
  // All three live until the process ends: every end is an exit, never a return through
  // destructors while threads still run.
  static const std::vector<std::string> args(argv, argv + argc);
  static mirlet::ProcessOutput out;
  try {
    static auto* system = new mirlet::LinuxPlatform();
    return mirlet::runMirlet(args, system->platform(), out);
  } catch (const std::exception& error) {
    out.fail(std::string("platform_unavailable: ") + error.what());
  }
}
