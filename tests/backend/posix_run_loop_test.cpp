// The main run loop, each case in a child process of its own (the loop never returns, and the
// cases hold signals): work posted from other threads and watched signals run on the loop's
// thread, and a signal that arrived before its watcher was armed is served, not lost or fatal.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "mirlet/platform/linux/posix/run_loop.hpp"

namespace mirlet::posix {
namespace {

struct RunLoopDeathTest : ::testing::Test {
  RunLoopDeathTest() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

[[noreturn]] void endOn(std::thread::id expected, int status) {
  ::_exit(std::this_thread::get_id() == expected ? status : 3);
}

TEST_F(RunLoopDeathTest, PostedWorkRunsOnTheLoopThreadInOrder) {
  EXPECT_EXIT(
      {
        auto loop = makeRunLoop();
        const auto main = std::this_thread::get_id();
        int step = 0;
        std::thread([&] {
          loop->post([&] { step = step == 0 ? 1 : -1; });
          loop->post([&] { endOn(main, step == 1 ? 42 : 5); });
        }).detach();
        loop->run();
        ::_exit(4);
      },
      ::testing::ExitedWithCode(42), "");
}

TEST_F(RunLoopDeathTest, HeldSignalRaisedBeforeArmingIsServedOnceArmed) {
  EXPECT_EXIT(
      {
        auto loop = makeRunLoop();
        loop->holdSignals({SIGTERM, SIGINT});
        const auto main = std::this_thread::get_id();
        ::kill(::getpid(), SIGTERM);  // pending: neither fatal nor lost
        std::thread([&] {
          loop->watchSignal(SIGINT, [] { ::_exit(6); });
          loop->watchSignal(SIGTERM, [main] { endOn(main, 42); });
        }).detach();
        loop->run();
        ::_exit(4);
      },
      ::testing::ExitedWithCode(42), "");
}

TEST_F(RunLoopDeathTest, EveryDeliveryRunsTheHandler) {
  EXPECT_EXIT(
      {
        auto loop = makeRunLoop();
        loop->holdSignals({SIGUSR1});
        int deliveries = 0;
        loop->watchSignal(SIGUSR1, [&] {
          if (++deliveries == 3) ::_exit(42);
          ::kill(::getpid(), SIGUSR1);
        });
        loop->post([] { ::kill(::getpid(), SIGUSR1); });
        loop->run();
        ::_exit(4);
      },
      ::testing::ExitedWithCode(42), "");
}

}  // namespace
}  // namespace mirlet::posix
