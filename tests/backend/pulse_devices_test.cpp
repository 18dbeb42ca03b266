// The snapshot of a real sound server (the tests' own PulseAudio) and the bounded wait when there
// is no server or one that never answers.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "mirlet/platform/linux/pulse/device_mapping.hpp"
#include "mirlet/platform/linux/pulse/snapshot_reader.hpp"
#include "support/harness.hpp"

namespace mirlet::pulse {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const DeviceSnapshot* named(const std::vector<DeviceSnapshot>& devices, const std::string& name) {
  const auto found = std::ranges::find(devices, name, &DeviceSnapshot::name);
  return found == devices.end() ? nullptr : &*found;
}

TEST(BackendPulseDevices, SnapshotSeesTheTestServersDevices) {
  testing::testPulseServer();
  const auto snapshot = readServerSnapshot();
  ASSERT_TRUE(snapshot.has_value());
  EXPECT_EQ(snapshot->defaultSinkName, "speakers");

  const DeviceSnapshot* speakers = named(snapshot->sinks, "speakers");
  ASSERT_NE(speakers, nullptr);
  EXPECT_EQ(speakers->kind, DeviceKind::sink);
  EXPECT_EQ(speakers->description, "Speakers");
  EXPECT_EQ(speakers->deviceClass, "abstract");
  EXPECT_EQ(speakers->bus, "");
  EXPECT_GT(speakers->channels, 0u);
  EXPECT_EQ(transportCode(*speakers), fourCharCode("virt"));

  const DeviceSnapshot* microphone = named(snapshot->sources, "microphone");
  ASSERT_NE(microphone, nullptr);
  EXPECT_EQ(microphone->kind, DeviceKind::source);
  EXPECT_FALSE(microphone->monitor);
  EXPECT_FALSE(microphone->running);
  EXPECT_GT(microphone->channels, 0u);

  const DeviceSnapshot* monitor = named(snapshot->sources, "speakers.monitor");
  ASSERT_NE(monitor, nullptr);
  EXPECT_TRUE(monitor->monitor);
}

// No server fails at once; one that never answers is given up at the deadline asked for.
TEST(BackendPulseDevices, NoAnsweringServerIsNoSnapshotWithinTheDeadline) {
  const std::string previous = testing::testPulseServer();
  testing::TempDir dir;
  const testing::SilentSocket silent(dir / "silent.sock");
  ASSERT_TRUE(silent.ok());
  struct Case {
    std::string socket;
    std::chrono::milliseconds timeout, atLeast, below;
  };
  for (const Case& c :
       {Case{"nothing-here.sock", 5s, 0ms, 1s}, Case{"silent.sock", 300ms, 300ms, 800ms},
        Case{"silent.sock", 700ms, 700ms, 1200ms}}) {
    SCOPED_TRACE(c.socket);
    ::setenv("PULSE_SERVER", ("unix:" + (dir / c.socket)).c_str(), 1);
    const auto start = Clock::now();
    EXPECT_FALSE(readServerSnapshot(c.timeout).has_value());
    const auto took = Clock::now() - start;
    EXPECT_GE(took, c.atLeast);
    EXPECT_LT(took, c.below);
  }
  ::setenv("PULSE_SERVER", previous.c_str(), 1);
}

}  // namespace
}  // namespace mirlet::pulse
