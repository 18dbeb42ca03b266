// The property layer over a snapshot of the sound server: the seven addresses and their value
// forms, the one snapshot per run, and micbusy and audioout answered through it.

#include <gtest/gtest.h>

#include <cstring>
#include <expected>
#include <memory>

#include "fakes/recording_output.hpp"
#include "mirlet/audio/audio_out.hpp"
#include "mirlet/audio/device_queries.hpp"
#include "mirlet/platform/linux/pulse/device_mapping.hpp"
#include "mirlet/platform/linux/pulse/device_properties.hpp"

namespace mirlet::pulse {
namespace {

using mirlet::testing::RecordingOutput;

constexpr AudioObjectPropertyAddress at(std::uint32_t selector,
                                        std::uint32_t scope = kAudioObjectPropertyScopeGlobal) {
  return {selector, scope, kAudioObjectPropertyElementMain};
}

DeviceSnapshot device(DeviceKind kind, std::uint32_t index, std::string name) {
  DeviceSnapshot result;
  result.kind = kind;
  result.index = index;
  result.name = std::move(name);
  result.channels = 2;
  return result;
}

// Two sinks (the second the default, a USB headset) and three sources, one of them a monitor.
ServerSnapshot desk() {
  ServerSnapshot snapshot;
  snapshot.defaultSinkName = "headset";
  snapshot.sinks.push_back(device(DeviceKind::sink, 0, "speakers"));
  snapshot.sinks[0].description = "Speakers";
  snapshot.sinks[0].deviceClass = "abstract";
  snapshot.sinks[0].running = true;
  DeviceSnapshot headset = device(DeviceKind::sink, 4, "headset");
  headset.description = "Desk/Headset";
  headset.bus = "usb";
  headset.formFactor = "headset";
  snapshot.sinks.push_back(headset);
  DeviceSnapshot monitor = device(DeviceKind::source, 0, "speakers.monitor");
  monitor.monitor = true;
  monitor.running = true;
  snapshot.sources.push_back(monitor);
  snapshot.sources.push_back(device(DeviceKind::source, 1, "microphone"));
  DeviceSnapshot mono = device(DeviceKind::source, 2, "mono");
  mono.channels = 1;
  snapshot.sources.push_back(mono);
  return snapshot;
}

AudioObjectID sinkID(std::uint32_t index) {
  return *deviceIdentifier(DeviceKind::sink, index);
}
AudioObjectID sourceID(std::uint32_t index) {
  return *deviceIdentifier(DeviceKind::source, index);
}

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
  std::expected<std::uint32_t, OSStatus> code(AudioObjectID object, AudioObjectPropertyAddress a) {
    std::uint32_t value = 0;
    std::uint32_t capacity = sizeof value;
    const OSStatus status = hardware.getPropertyData(object, a, 0, nullptr, capacity, &value);
    if (status != 0) return std::unexpected(status);
    EXPECT_EQ(capacity, 4u);
    return value;
  }
};

TEST(DeviceProperties, ListsSinksThenSourcesThatAreNotMonitors) {
  Layer layer(desk());
  const auto devices = at(kAudioHardwarePropertyDevices);
  ASSERT_EQ(layer.size(kAudioObjectSystemObject, devices), 16u);
  std::vector<AudioObjectID> ids(5, 0);
  std::uint32_t capacity = 16;
  ASSERT_EQ(layer.hardware.getPropertyData(kAudioObjectSystemObject, devices, 0, nullptr, capacity,
                                           ids.data()),
            0);
  EXPECT_EQ(capacity, 16u);
  EXPECT_EQ(ids, (std::vector<AudioObjectID>{sinkID(0), sinkID(4), sourceID(1), sourceID(2), 0}));

  // A short capacity gets the whole identifiers that fit.
  capacity = 9;
  ids.assign(5, 0);
  ASSERT_EQ(layer.hardware.getPropertyData(kAudioObjectSystemObject, devices, 0, nullptr, capacity,
                                           ids.data()),
            0);
  EXPECT_EQ(capacity, 8u);
  EXPECT_EQ(ids, (std::vector<AudioObjectID>{sinkID(0), sinkID(4), 0, 0, 0}));
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
    ASSERT_EQ(layer.hardware.getPropertyData(c.device, configuration, 0, nullptr, capacity,
                                             memory.data() + 1),
              0);
    std::uint32_t count = 0;
    std::memcpy(&count, memory.data() + 1, sizeof count);
    EXPECT_EQ(count, c.buffers);
    if (c.buffers == 1) {
      AudioBuffer entry{};
      std::memcpy(&entry, memory.data() + 1 + offsetof(AudioBufferList, mBuffers), sizeof entry);
      EXPECT_EQ(entry.mNumberChannels, c.channels);
    }
    std::uint32_t tooSmall = *size - 1;
    EXPECT_NE(layer.hardware.getPropertyData(c.device, configuration, 0, nullptr, tooSmall,
                                             memory.data()),
              0);
  }
}

TEST(DeviceProperties, AnswersEachAddressOfADevice) {
  Layer layer(desk());
  const auto running = at(kAudioDevicePropertyDeviceIsRunningSomewhere);
  EXPECT_EQ(layer.code(sinkID(0), running), 1u);
  EXPECT_EQ(layer.code(sourceID(1), running), 0u);
  EXPECT_EQ(layer.code(kAudioObjectSystemObject, at(kAudioHardwarePropertyDefaultOutputDevice)),
            sinkID(4));
  EXPECT_EQ(layer.code(sinkID(4), at(kAudioDevicePropertyTransportType)), fourCharCode("usb "));
  EXPECT_EQ(layer.code(sinkID(0), at(kAudioDevicePropertyTransportType)), fourCharCode("virt"));
  const auto dataSource = at(kAudioDevicePropertyDataSource, kAudioObjectPropertyScopeOutput);
  EXPECT_EQ(layer.code(sinkID(4), dataSource), fourCharCode("hdpn"));
  EXPECT_FALSE(layer.code(sinkID(0), dataSource).has_value());    // no port, no form factor
  EXPECT_FALSE(layer.code(sourceID(1), dataSource).has_value());  // a source plays nothing

  AudioStringRef name = nullptr;
  std::uint32_t capacity = sizeof name;
  ASSERT_EQ(layer.hardware.getPropertyData(sinkID(4), at(kAudioObjectPropertyName), 0, nullptr,
                                           capacity, &name),
            0);
  const std::unique_ptr<std::string> owned(name);
  ASSERT_NE(owned, nullptr);
  EXPECT_EQ(*owned, "Desk/Headset");
  EXPECT_EQ(layer.size(sinkID(4), at(kAudioObjectPropertyName)), sizeof(AudioStringRef));
}

TEST(DeviceProperties, RefusesWhatItDoesNotHave) {
  Layer layer(desk());
  struct Case {
    const char* what;
    AudioObjectID object;
    AudioObjectPropertyAddress address;
    std::uint32_t capacity;
  };
  const std::vector<Case> cases = {
      {"a monitor", sourceID(0), at(kAudioDevicePropertyDeviceIsRunningSomewhere), 4},
      {"an unknown object", 999, at(kAudioDevicePropertyTransportType), 4},
      {"object 0", 0, at(kAudioDevicePropertyTransportType), 4},
      {"an unknown selector", sinkID(0), at(fourCharCode("abcd")), 4},
      {"another element",
       sinkID(0),
       {kAudioDevicePropertyTransportType, kAudioObjectPropertyScopeGlobal, 1},
       4},
      {"the input configuration in the output scope", sourceID(1),
       at(kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeOutput), 64},
      {"the data source in the input scope", sinkID(4),
       at(kAudioDevicePropertyDataSource, kAudioObjectPropertyScopeInput), 4},
      {"the device list of a device", sinkID(0), at(kAudioHardwarePropertyDevices), 64},
      {"a flag into 3 bytes", sinkID(0), at(kAudioDevicePropertyDeviceIsRunningSomewhere), 3},
      {"a name into 4 bytes", sinkID(0), at(kAudioObjectPropertyName), 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::byte memory[64] = {};
    std::uint32_t capacity = c.capacity;
    EXPECT_NE(layer.hardware.getPropertyData(c.object, c.address, 0, nullptr, capacity, memory), 0);
  }
}

TEST(DeviceProperties, NoDefaultOutputWithoutADefaultSinkThatExists) {
  for (const std::string name : {"", "gone"}) {
    ServerSnapshot snapshot = desk();
    snapshot.defaultSinkName = name;
    Layer layer(snapshot);
    EXPECT_FALSE(layer.code(kAudioObjectSystemObject, at(kAudioHardwarePropertyDefaultOutputDevice))
                     .has_value())
        << name;
  }
}

TEST(DeviceProperties, TakesOneSnapshotAtTheFirstQuery) {
  Layer layer(desk());
  EXPECT_EQ(layer.takes, 0);
  for (int i = 0; i < 3; ++i) {
    layer.size(kAudioObjectSystemObject, at(kAudioHardwarePropertyDevices));
    layer.code(sinkID(0), at(kAudioDevicePropertyTransportType));
  }
  EXPECT_EQ(layer.takes, 1);

  // No server: taken once too, and every query fails.
  Layer none(std::nullopt);
  EXPECT_EQ(none.size(kAudioObjectSystemObject, at(kAudioHardwarePropertyDevices)),
            std::unexpected(kHardwareNotRunning));
  EXPECT_EQ(none.code(kAudioObjectSystemObject, at(kAudioHardwarePropertyDefaultOutputDevice)),
            std::unexpected(kHardwareNotRunning));
  EXPECT_EQ(none.takes, 1);
}

TEST(DeviceProperties, MicBusyCountsRunningSourcesButNotMonitorsOrSinks) {
  struct Case {
    const char* what;
    bool sinkRunning;
    bool monitorRunning;
    bool micRunning;
    bool busy;
  };
  for (const Case c : {Case{"idle", false, false, false, false},
                       Case{"playing and recording the monitor", true, true, false, false},
                       Case{"microphone recorded", false, false, true, true}}) {
    SCOPED_TRACE(c.what);
    ServerSnapshot snapshot = desk();
    snapshot.sinks[0].running = c.sinkRunning;
    snapshot.sources[0].running = c.monitorRunning;
    snapshot.sources[1].running = c.micRunning;
    Layer layer(snapshot);
    EXPECT_EQ(micBusy(layer.hardware), c.busy);
  }
  Layer none(std::nullopt);
  EXPECT_FALSE(micBusy(none.hardware));
}

TEST(DeviceProperties, AudioOutReportsTheDefaultSink) {
  Layer layer(desk());
  RecordingOutput out;
  EXPECT_EQ(mirlet::testing::endStatus([&] { audioOut(layer.hardware, out); }), 0);
  EXPECT_EQ(out.standardOutput(),
            "{\"ok\":true,\"isSpeaker\":false,\"transport\":\"usb\",\"name\":\"Desk\\/Headset\","
            "\"headphones\":true}\n");

  Layer none(std::nullopt);
  RecordingOutput plain;
  EXPECT_EQ(mirlet::testing::endStatus([&] { audioOut(none.hardware, plain); }), 0);
  EXPECT_EQ(plain.standardOutput(), "{\"ok\":false}\n");
}

}  // namespace
}  // namespace mirlet::pulse
