#include "mirlet/platform/linux/posix/stop_signals.hpp"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

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

  // The held signals come through a descriptor, so that one poll waits for them and for the
  // other descriptor alike; the signal stays pending, and the process ends before it matters.
  // Without a descriptor to spare, sigwaitinfo waits for the signals alone, and the other
  // descriptor's news waits for the stop.
  void wait(int descriptor) override {
    const sigset_t set = stopSet();
    const int signals = ::signalfd(-1, &set, SFD_CLOEXEC);
    if (signals < 0) {
      while (sigwaitinfo(&set, nullptr) < 0 && errno == EINTR) {
      }
      return;
    }
    pollfd watched[] = {{signals, POLLIN, 0}, {descriptor, POLLIN, 0}};
    while (::poll(watched, descriptor >= 0 ? 2 : 1, -1) < 0 && errno == EINTR) {
    }
    ::close(signals);
  }
};

}  // namespace

std::unique_ptr<StopSignals> makeStopSignals() { return std::make_unique<PosixStopSignals>(); }

}  // namespace mirlet::posix
