#include <csignal>
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
  static auto* system = new mirlet::LinuxPlatform();
  mirlet::Platform& platform = system->platform();
  if (mirlet::isRecording(args)) platform.stopSignals.hold();
  const mirlet::Reporter report{mirlet::writeNote, mirlet::writeLine};
  mirlet::finish(mirlet::runCommand(args, platform, report));
}
