// The property layer over a snapshot of the sound server: the seven addresses and their value
// forms, and the one snapshot per run.

#include <gtest/gtest.h>

#include <cstring>
#include <expected>
#include <memory>

#include "mirlet/platform/linux/pulse/device_mapping.hpp"
#include "mirlet/platform/linux/pulse/device_properties.hpp"

namespace mirlet::pulse {
namespace {

constexpr AudioObjectPropertyAddress at(std::uint32_t selector,
                                        std::uint32_t scope = kAudioObjectPropertyScopeGlobal) {
  return {selector, scope, kAudioObjectPropertyElementMain};
}

DeviceSnapshot device(DeviceKind kind, std::uint32_t index, std::string name,
                      std::string description = "", std::uint32_t channels = 2) {
  DeviceSnapshot result;
  result.kind = kind;
  result.index = index;
  result.name = std::move(name);
  result.description = std::move(description);
  result.channels = channels;
  return result;
}

// Two sinks (the second the default, a USB headset) and three sources, one of them a monitor.
ServerSnapshot desk() {
  using enum DeviceKind;
  ServerSnapshot snapshot{
      "headset",
      {device(sink, 0, "speakers", "Speakers"), device(sink, 4, "headset", "Desk/Headset")},
      {device(source, 0, "speakers.monitor"), device(source, 1, "microphone"),
       device(source, 2, "mono", "", 1)}};
  snapshot.sinks[0].deviceClass = "abstract";
  snapshot.sinks[0].running = snapshot.sources[0].running = snapshot.sources[0].monitor = true;
  snapshot.sinks[1].bus = "usb";
  snapshot.sinks[1].formFactor = "headset";
  return snapshot;
}

AudioObjectID sinkID(std::uint32_t index) { return *deviceIdentifier(DeviceKind::sink, index); }
AudioObjectID sourceID(std::uint32_t index) { return *deviceIdentifier(DeviceKind::source, index); }

constexpr AudioObjectID kSystem = kAudioObjectSystemObject;
const auto kList = at(kAudioHardwarePropertyDevices);
const auto kRunning = at(kAudioDevicePropertyDeviceIsRunningSomewhere);
const auto kDefault = at(kAudioHardwarePropertyDefaultOutputDevice);
const auto kTransport = at(kAudioDevicePropertyTransportType);
const auto kName = at(kAudioObjectPropertyName);

struct Layer {
  int takes = 0;
  std::optional<ServerSnapshot> snapshot;
  SnapshotAudioHardware hardware{[this] {
    ++takes;
    return snapshot;
  }};
  explicit Layer(std::optional<ServerSnapshot> s) : snapshot(std::move(s)) {}

  std::expected<std::uint32_t, OSStatus> size(AudioObjectID object, AudioObjectPropertyAddress a) {
    std::uint32_t value = 0;
    const OSStatus status = hardware.getPropertyDataSize(object, a, 0, nullptr, value);
    if (status != 0) return std::unexpected(status);
    return value;
  }
  OSStatus read(AudioObjectID object, AudioObjectPropertyAddress a, std::uint32_t& capacity,
                void* memory) {
    return hardware.getPropertyData(object, a, 0, nullptr, capacity, memory);
  }
  std::expected<std::uint32_t, OSStatus> code(AudioObjectID object, AudioObjectPropertyAddress a) {
    std::uint32_t value = 0;
    std::uint32_t capacity = sizeof value;
    const OSStatus status = read(object, a, capacity, &value);
    if (status != 0) return std::unexpected(status);
    EXPECT_EQ(capacity, 4u);
    return value;
  }
};

TEST(DeviceProperties, ListsSinksThenSourcesThatAreNotMonitors) {
  Layer layer(desk());
  ASSERT_EQ(layer.size(kSystem, kList), 16u);
  // A short capacity gets the whole identifiers that fit.
  const std::pair<std::uint32_t, std::vector<AudioObjectID>> reads[] = {
      {16, {sinkID(0), sinkID(4), sourceID(1), sourceID(2), 0}},
      {9, {sinkID(0), sinkID(4), 0, 0, 0}}};
  for (const auto& [capacity, expected] : reads) {
    std::vector<AudioObjectID> ids(5, 0);
    std::uint32_t given = capacity;
    ASSERT_EQ(layer.read(kSystem, kList, given, ids.data()), 0);
    EXPECT_EQ(given, capacity / 4 * 4);
    EXPECT_EQ(ids, expected);
  }
}

TEST(DeviceProperties, StreamConfigurationHasABufferOnlyForSources) {
  Layer layer(desk());
  const auto configuration =
      at(kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput);
  struct Case {
    AudioObjectID device;
    std::uint32_t buffers;
    std::uint32_t channels;
  };
  for (const Case c : {Case{sinkID(0), 0, 0}, Case{sourceID(1), 1, 2}, Case{sourceID(2), 1, 1}}) {
    SCOPED_TRACE(c.device);
    const auto size = layer.size(c.device, configuration);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(*size, audioBufferListSize(c.buffers));
    // Written at an odd address, as any caller's memory may be.
    std::vector<std::byte> memory(*size + 1, std::byte{0xAA});
    std::uint32_t capacity = *size;
    ASSERT_EQ(layer.read(c.device, configuration, capacity, memory.data() + 1), 0);
    std::uint32_t count = 0;
    std::memcpy(&count, memory.data() + 1, sizeof count);
    EXPECT_EQ(count, c.buffers);
    if (c.buffers == 1) {
      AudioBuffer entry{};
      std::memcpy(&entry, memory.data() + 1 + offsetof(AudioBufferList, mBuffers), sizeof entry);
      EXPECT_EQ(entry.mNumberChannels, c.channels);
    }
    std::uint32_t tooSmall = *size - 1;
    EXPECT_NE(layer.read(c.device, configuration, tooSmall, memory.data()), 0);
  }
}

TEST(DeviceProperties, AnswersEachAddressOfADevice) {
  Layer layer(desk());
  EXPECT_EQ(layer.code(sinkID(0), kRunning), 1u);
  EXPECT_EQ(layer.code(sourceID(1), kRunning), 0u);
  EXPECT_EQ(layer.code(kSystem, kDefault), sinkID(4));
  EXPECT_EQ(layer.code(sinkID(4), kTransport), fourCharCode("usb "));
  EXPECT_EQ(layer.code(sinkID(0), kTransport), fourCharCode("virt"));
  const auto dataSource = at(kAudioDevicePropertyDataSource, kAudioObjectPropertyScopeOutput);
  EXPECT_EQ(layer.code(sinkID(4), dataSource), fourCharCode("hdpn"));
  EXPECT_FALSE(layer.code(sinkID(0), dataSource).has_value());    // no port, no form factor
  EXPECT_FALSE(layer.code(sourceID(1), dataSource).has_value());  // a source plays nothing

  AudioStringRef name = nullptr;
  std::uint32_t capacity = sizeof name;
  ASSERT_EQ(layer.read(sinkID(4), kName, capacity, &name), 0);
  const std::unique_ptr<std::string> owned(name);
  ASSERT_NE(owned, nullptr);
  EXPECT_EQ(*owned, "Desk/Headset");
  EXPECT_EQ(layer.size(sinkID(4), kName), sizeof(AudioStringRef));
}

TEST(DeviceProperties, RefusesWhatItDoesNotHave) {
  Layer layer(desk());
  struct Case {
    const char* what;
    AudioObjectID object;
    AudioObjectPropertyAddress address;
    std::uint32_t capacity;
  };
  const Case cases[] = {
      {"a monitor", sourceID(0), kRunning, 4},
      {"an unknown object", 999, kTransport, 4},
      {"object 0", 0, kTransport, 4},
      {"an unknown selector", sinkID(0), at(fourCharCode("abcd")), 4},
      {"another element", sinkID(0), {kTransport.mSelector, kTransport.mScope, 1}, 4},
      {"the input configuration in the output scope", sourceID(1),
       at(kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeOutput), 64},
      {"the data source in the input scope", sinkID(4),
       at(kAudioDevicePropertyDataSource, kAudioObjectPropertyScopeInput), 4},
      {"the device list of a device", sinkID(0), kList, 64},
      {"a flag into 3 bytes", sinkID(0), kRunning, 3},
      {"a name into 4 bytes", sinkID(0), kName, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::byte memory[64] = {};
    std::uint32_t capacity = c.capacity;
    EXPECT_NE(layer.read(c.object, c.address, capacity, memory), 0);
  }
  // No default sink, or one that does not exist: no default output.
  for (const std::string name : {"", "gone"}) {
    ServerSnapshot snapshot = desk();
    snapshot.defaultSinkName = name;
    Layer other(snapshot);
    EXPECT_FALSE(other.code(kSystem, kDefault).has_value()) << name;
  }
}

TEST(DeviceProperties, TakesOneSnapshotAtTheFirstQuery) {
  Layer layer(desk());
  EXPECT_EQ(layer.takes, 0);
  for (int i = 0; i < 3; ++i) {
    layer.size(kSystem, kList);
    layer.code(sinkID(0), kTransport);
  }
  EXPECT_EQ(layer.takes, 1);

  // No server: taken once too, and every query fails.
  Layer none(std::nullopt);
  EXPECT_EQ(none.size(kSystem, kList), std::unexpected(kHardwareNotRunning));
  EXPECT_EQ(none.code(kSystem, kDefault), std::unexpected(kHardwareNotRunning));
  EXPECT_EQ(none.takes, 1);
}

}  // namespace
}  // namespace mirlet::pulse
