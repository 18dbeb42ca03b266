// The device queries against a fake property store: the scan of micBusy, the folding of every
// failed query into a plain answer, the default output device and the text of a code.

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "fakes/fake_audio_hardware.hpp"
#include "mirlet/audio/device_queries.hpp"

namespace mirlet::testing {
namespace {

using HW = FakeAudioHardware;
constexpr std::uint32_t kSystem = kAudioObjectSystemObject;
constexpr std::uint32_t kDevices = kAudioHardwarePropertyDevices;
constexpr std::uint32_t kConfiguration = kAudioDevicePropertyStreamConfiguration;
constexpr std::uint32_t kRunning = kAudioDevicePropertyDeviceIsRunningSomewhere;
constexpr std::uint32_t kGlobal = kAudioObjectPropertyScopeGlobal;
constexpr std::uint32_t kInput = kAudioObjectPropertyScopeInput;

TEST(FourCC, GivesTheCharactersLessSurroundingBlanks) {
  const std::pair<std::uint32_t, std::string> cases[] = {
      {0x626C746E, "bltn"},
      {0x75736220, "usb"},
      {0x20202020, ""},
      {0x09616209, "ab"},
      {0x20612062, "a b"},
      {0x00000000, std::string(4, '\0')},
      {0x61FF6263, ""},
      {0x80000000, ""},
      {0x7F414243,
       "\x7F"
       "ABC"},
      {0x0A616220, "\nab"},  // only spaces and tabs are trimmed
      {fourCharCode("dev#"), "dev#"}};
  for (const auto& [code, text] : cases) EXPECT_EQ(fourCC(code), text) << code;
}

// Device 5 alone, with these input channels and running flag.
void one(HW& hw, std::vector<std::uint32_t> channels, bool running) {
  hw.setDevices({5});
  hw.setDevice(5, channels, running);
}
// Device 5 running, its stream configuration replaced by `configuration`.
void configured(HW& hw, HW::Property configuration) {
  one(hw, {2}, true);
  hw.set(5, kConfiguration, kInput, std::move(configuration));
}

TEST(MicBusy, AnswersFromTheInputCapableRunningDevices) {
  struct Case {
    const char* name;
    std::function<void(HW&)> setUp;
    bool busy;
  };
  const Case cases[] = {
      {"no devices", [](HW& hw) { hw.setDevices({}); }, false},
      {"device list size fails",
       [](HW& hw) { one(hw, {2}, true); hw.failing(kSystem, kDevices, kGlobal); }, false},
      {"device list read fails",
       [](HW& hw) { one(hw, {2}, true); hw.setDevices({5}, {}, HW::kFailure); }, false},
      {"device list below four bytes",
       [](HW& hw) { one(hw, {2}, true); hw.setDevices({5}, 3); }, false},
      {"a remainder of the list size is ignored",
       [](HW& hw) { hw.setDevices({7, 8}, 6); hw.setDevice(8, {2}, true); }, false},
      {"only output devices, running",
       [](HW& hw) { hw.setDevices({3, 4}); hw.setDevice(3, {}, true); hw.setDevice(4, {}, true); },
       false},
      {"input of two channels, not running", [](HW& hw) { one(hw, {2}, false); }, false},
      {"input of two channels, running", [](HW& hw) { one(hw, {2}, true); }, true},
      {"buffers of 0 channels, running", [](HW& hw) { one(hw, {0, 0}, true); }, false},
      {"a later buffer with channels counts", [](HW& hw) { one(hw, {0, 0, 1}, true); }, true},
      {"input and output device running for playback",
       [](HW& hw) {
         one(hw, {1}, true);
         hw.setCode(5, kConfiguration, kAudioObjectPropertyScopeOutput, 2);
       },
       true},
      {"failed running query passed over",
       [](HW& hw) {
         hw.setDevices({5, 6});
         hw.setDevice(5, {2}, true);
         hw.failing(5, kRunning, kGlobal);
         hw.setDevice(6, {2}, true);
       },
       true},
      {"running flag of any non-zero value",
       [](HW& hw) { one(hw, {2}, false); hw.setCode(5, kRunning, kGlobal, 0x80000000u); }, true},
      {"configuration size fails",
       [](HW& hw) { configured(hw, {.bytes = HW::bufferList({2}), .sizeStatus = HW::kFailure}); },
       false},
      {"configuration size 0",
       [](HW& hw) { configured(hw, {.bytes = HW::bufferList({2}), .size = 0}); }, false},
      {"configuration read fails",
       [](HW& hw) { configured(hw, {.bytes = HW::bufferList({2}), .dataStatus = HW::kFailure}); },
       false},
      {"a count beyond the value's size reads only what is there",
       [](HW& hw) { configured(hw, {.bytes = HW::bufferList({0}, 1000)}); }, false},
      {"a configuration too short for its count",
       [](HW& hw) { configured(hw, {.bytes = HW::bufferList({}, 1)}); }, false},
      {"an entry the list read did not fill is examined as device 0",
       [](HW& hw) { hw.setDevices({9}, 8); hw.setDevice(0, {1}, true); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HW hardware;
    c.setUp(hardware);
    EXPECT_EQ(micBusy(hardware), c.busy);
  }
}

// In list order: an output device's flag is never read, each read has the capacity that the size
// query gave, and the scan stops at the first busy input device.
TEST(MicBusy, ReadsOnlyWhatTheAnswerNeeds) {
  HW hardware;
  hardware.setDevices({3, 5, 6, 7});
  hardware.setDevice(3, {}, true);
  hardware.setDevice(5, {1, 1, 1}, false);
  hardware.setDevice(6, {2}, true);
  hardware.setDevice(7, {2}, true);
  EXPECT_TRUE(micBusy(hardware));
  using Read = std::tuple<AudioObjectID, std::uint32_t, std::uint32_t>;
  std::vector<Read> reads;
  for (const auto& q : hardware.queries)
    if (!q.sizeOnly) reads.emplace_back(q.object, q.selector, q.capacity);
  EXPECT_EQ(reads, (std::vector<Read>{{kSystem, kDevices, 16},
                                      {3, kConfiguration, audioBufferListSize(0)},
                                      {5, kConfiguration, audioBufferListSize(3)},
                                      {5, kRunning, 4},
                                      {6, kConfiguration, audioBufferListSize(1)},
                                      {6, kRunning, 4}}));
  EXPECT_EQ(hardware.askedAbout(7), 0);
}

TEST(DefaultOutputDevice, IsAbsentOnlyWhenTheQueryFails) {
  HW none;
  EXPECT_EQ(defaultOutputDevice(none), std::nullopt);
  for (AudioObjectID device : {0u, 42u}) {
    HW some;
    some.setDefaultOutput(device);
    EXPECT_EQ(defaultOutputDevice(some), std::optional<AudioObjectID>(device));
    ASSERT_EQ(some.queries.size(), 1u);
    EXPECT_EQ(some.queries[0].capacity, 4u);
  }
}

}  // namespace
}  // namespace mirlet::testing
