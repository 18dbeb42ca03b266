// The snapshot of a real sound server (the tests' own PulseAudio) and the bounded wait when there
// is no server or one that never answers.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "mirlet/platform/linux/pulse/audio_hardware.hpp"
#include "mirlet/platform/linux/pulse/device_mapping.hpp"
#include "mirlet/platform/linux/pulse/snapshot_reader.hpp"
#include "support/harness.hpp"

namespace mirlet::pulse {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Points libpulse at another server for one test and back afterwards.
class ServerOverride {
 public:
  explicit ServerOverride(const std::string& server) : previous_(testing::testPulseServer()) {
    ::setenv("PULSE_SERVER", server.c_str(), 1);
  }
  ~ServerOverride() { ::setenv("PULSE_SERVER", previous_.c_str(), 1); }

 private:
  std::string previous_;
};

// A unix socket that takes connections into its backlog and never says a word.
class SilentSocket {
 public:
  explicit SilentSocket(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
          ::listen(fd_, 16) == 0;
  }
  ~SilentSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return ok_; }

 private:
  int fd_;
  bool ok_ = false;
};

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

TEST(BackendPulseDevices, HardwareAnswersFromTheServer) {
  testing::testPulseServer();
  const auto snapshot = readServerSnapshot();
  ASSERT_TRUE(snapshot.has_value());
  const auto hardware = makeAudioHardware();

  AudioObjectID output = 0;
  std::uint32_t capacity = sizeof output;
  const AudioObjectPropertyAddress dOut{kAudioHardwarePropertyDefaultOutputDevice,
                                        kAudioObjectPropertyScopeGlobal, 0};
  ASSERT_EQ(
      hardware->getPropertyData(kAudioObjectSystemObject, dOut, 0, nullptr, capacity, &output), 0);
  EXPECT_EQ(output, deviceIdentifier(DeviceKind::sink, named(snapshot->sinks, "speakers")->index));

  AudioStringRef name = nullptr;
  capacity = sizeof name;
  const AudioObjectPropertyAddress lnam{kAudioObjectPropertyName, kAudioObjectPropertyScopeGlobal,
                                        0};
  ASSERT_EQ(hardware->getPropertyData(output, lnam, 0, nullptr, capacity, &name), 0);
  const std::unique_ptr<std::string> owned(name);
  EXPECT_EQ(*owned, "Speakers");

  // Every sink and every source but the monitors, in that order.
  std::vector<AudioObjectID> expected;
  for (const auto& sink : snapshot->sinks)
    expected.push_back(*deviceIdentifier(DeviceKind::sink, sink.index));
  for (const auto& source : snapshot->sources)
    if (!source.monitor) expected.push_back(*deviceIdentifier(DeviceKind::source, source.index));
  const AudioObjectPropertyAddress devices{kAudioHardwarePropertyDevices,
                                           kAudioObjectPropertyScopeGlobal, 0};
  std::uint32_t size = 0;
  ASSERT_EQ(hardware->getPropertyDataSize(kAudioObjectSystemObject, devices, 0, nullptr, size), 0);
  std::vector<AudioObjectID> listed(size / sizeof(AudioObjectID));
  ASSERT_EQ(
      hardware->getPropertyData(kAudioObjectSystemObject, devices, 0, nullptr, size, listed.data()),
      0);
  EXPECT_EQ(listed, expected);
}

TEST(BackendPulseDevices, NoServerIsNoSnapshotAndNoWait) {
  testing::TempDir dir;
  const ServerOverride missing("unix:" + (dir / "nothing-here.sock"));
  const auto start = Clock::now();
  EXPECT_FALSE(readServerSnapshot(5s).has_value());
  EXPECT_LT(Clock::now() - start, 1s);
}

TEST(BackendPulseDevices, ASilentServerIsGivenUpAtTheDeadline) {
  testing::TempDir dir;
  const SilentSocket silent(dir / "silent.sock");
  ASSERT_TRUE(silent.ok());
  const ServerOverride override("unix:" + (dir / "silent.sock"));
  for (const auto timeout : {300ms, 700ms}) {
    const auto start = Clock::now();
    EXPECT_FALSE(readServerSnapshot(timeout).has_value());
    const auto took = Clock::now() - start;
    EXPECT_GE(took, timeout);
    EXPECT_LT(took, timeout + 500ms);
  }
}

}  // namespace
}  // namespace mirlet::pulse
