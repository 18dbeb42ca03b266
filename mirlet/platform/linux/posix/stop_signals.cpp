#include "mirlet/platform/linux/posix/stop_signals.hpp"

#include <pthread.h>
#include <signal.h>

#include <cerrno>

namespace mirlet::posix {
namespace {

sigset_t stopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

class PosixStopSignals final : public StopSignals {
 public:
  // A blocked signal stays pending instead of taking its default action, and threads started
  // later inherit the mask; the disposition is left alone, since ignoring would discard it.
  void hold() override {
    const sigset_t set = stopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
  }

  void wait() override {
    const sigset_t set = stopSet();
    while (sigwaitinfo(&set, nullptr) < 0 && errno == EINTR) {
    }
  }
};

}  // namespace

std::unique_ptr<StopSignals> makeStopSignals() { return std::make_unique<PosixStopSignals>(); }

}  // namespace mirlet::posix
