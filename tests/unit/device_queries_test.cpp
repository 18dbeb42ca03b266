// The device queries against a fake property store: the scan of micBusy, the folding of every
// failed query into a plain answer, the default output device and the text of a code.

#include <gtest/gtest.h>

#include <functional>

#include "fakes/fake_audio_hardware.hpp"
#include "mirlet/audio/device_queries.hpp"

namespace mirlet::testing {
namespace {

constexpr std::uint32_t kDevices = kAudioHardwarePropertyDevices;
constexpr std::uint32_t kConfiguration = kAudioDevicePropertyStreamConfiguration;
constexpr std::uint32_t kRunning = kAudioDevicePropertyDeviceIsRunningSomewhere;
constexpr std::uint32_t kGlobal = kAudioObjectPropertyScopeGlobal;
constexpr std::uint32_t kInput = kAudioObjectPropertyScopeInput;

TEST(FourCC, GivesTheCharactersLessSurroundingBlanks) {
  struct Case {
    std::uint32_t code;
    std::string text;
  };
  const std::vector<Case> cases = {
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
      {fourCharCode("dev#"), "dev#"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(fourCC(c.code), c.text);
  }
}

struct MicCase {
  const char* name;
  std::function<void(FakeAudioHardware&)> setUp;
  bool busy;
};

TEST(MicBusy, AnswersFromTheInputCapableRunningDevices) {
  const std::vector<MicCase> cases = {
      {"no devices", [](auto& hw) { hw.setDevices({}); }, false},
      {"device list size fails",
       [](auto& hw) {
         hw.failing(kAudioObjectSystemObject, kDevices, kGlobal);
         hw.setInputBuffers(7, {2});
         hw.setRunning(7, true);
       },
       false},
      {"device list read fails",
       [](auto& hw) {
         hw.set(kAudioObjectSystemObject, kDevices, kGlobal,
                {.bytes = FakeAudioHardware::bytesOf<AudioObjectID>({7}),
                 .dataStatus = FakeAudioHardware::kFailure});
         hw.setInputBuffers(7, {2});
         hw.setRunning(7, true);
       },
       false},
      {"device list below four bytes",
       [](auto& hw) {
         hw.set(kAudioObjectSystemObject, kDevices, kGlobal,
                {.bytes = FakeAudioHardware::bytesOf<AudioObjectID>({7}), .size = 3});
         hw.setInputBuffers(7, {2});
         hw.setRunning(7, true);
       },
       false},
      {"a remainder of the list size is ignored",
       [](auto& hw) {
         hw.set(kAudioObjectSystemObject, kDevices, kGlobal,
                {.bytes = FakeAudioHardware::bytesOf<AudioObjectID>({7, 8}), .size = 6});
         hw.setInputBuffers(8, {2});
         hw.setRunning(8, true);
       },
       false},
      {"only output devices, running",
       [](auto& hw) {
         hw.setDevices({3, 4});
         hw.setInputBuffers(3, {});
         hw.setInputBuffers(4, {});
         hw.setRunning(3, true);
         hw.setRunning(4, true);
       },
       false},
      {"input of two channels, not running",
       [](auto& hw) {
         hw.setDevices({5});
         hw.setInputBuffers(5, {2});
         hw.setRunning(5, false);
       },
       false},
      {"input of two channels, running",
       [](auto& hw) {
         hw.setDevices({5});
         hw.setInputBuffers(5, {2});
         hw.setRunning(5, true);
       },
       true},
      {"buffers of 0 channels, running",
       [](auto& hw) {
         hw.setDevices({5});
         hw.setInputBuffers(5, {0, 0});
         hw.setRunning(5, true);
       },
       false},
      {"a later buffer with channels counts",
       [](auto& hw) {
         hw.setDevices({5});
         hw.setInputBuffers(5, {0, 0, 1});
         hw.setRunning(5, true);
       },
       true},
      {"input and output device running for playback",
       [](auto& hw) {
         hw.setDevices({6});
         hw.setInputBuffers(6, {1});
         hw.setCode(6, kConfiguration, kAudioObjectPropertyScopeOutput, 2);
         hw.setRunning(6, true);
       },
       true},
      {"failed running query passed over",
       [](auto& hw) {
         hw.setDevices({5, 6});
         hw.setInputBuffers(5, {2});
         hw.failing(5, kRunning, kGlobal);
         hw.setInputBuffers(6, {2});
         hw.setRunning(6, true);
       },
       true},
      {"running flag of any non-zero value",
       [](auto& hw) {
         hw.setDevices({5});
         hw.setInputBuffers(5, {2});
         hw.setCode(5, kRunning, kGlobal, 0x80000000u);
       },
       true},
      {"configuration size fails",
       [](auto& hw) {
         hw.setDevices({5});
         hw.set(5, kConfiguration, kInput,
                {.bytes = FakeAudioHardware::bufferList({2}),
                 .sizeStatus = FakeAudioHardware::kFailure});
         hw.setRunning(5, true);
       },
       false},
      {"configuration size 0",
       [](auto& hw) {
         hw.setDevices({5});
         hw.set(5, kConfiguration, kInput,
                {.bytes = FakeAudioHardware::bufferList({2}), .size = 0});
         hw.setRunning(5, true);
       },
       false},
      {"configuration read fails",
       [](auto& hw) {
         hw.setDevices({5});
         hw.set(5, kConfiguration, kInput,
                {.bytes = FakeAudioHardware::bufferList({2}),
                 .dataStatus = FakeAudioHardware::kFailure});
         hw.setRunning(5, true);
       },
       false},
      {"a count beyond the value's size reads only what is there",
       [](auto& hw) {
         hw.setDevices({5});
         hw.set(5, kConfiguration, kInput, {.bytes = FakeAudioHardware::bufferList({0}, 1000)});
         hw.setRunning(5, true);
       },
       false},
      {"a configuration too short for its count",
       [](auto& hw) {
         hw.setDevices({5});
         hw.set(5, kConfiguration, kInput, {.bytes = FakeAudioHardware::bufferList({}, 1)});
         hw.setRunning(5, true);
       },
       false},
      {"an entry the list read did not fill is examined as device 0",
       [](auto& hw) {
         hw.set(kAudioObjectSystemObject, kDevices, kGlobal,
                {.bytes = FakeAudioHardware::bytesOf<AudioObjectID>({9}), .size = 8});
         hw.setInputBuffers(0, {1});
         hw.setRunning(0, true);
       },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeAudioHardware hardware;
    c.setUp(hardware);
    EXPECT_EQ(micBusy(hardware), c.busy);
  }
}

TEST(MicBusy, StopsAtTheFirstBusyInputDevice) {
  FakeAudioHardware hardware;
  hardware.setDevices({5, 6});
  for (AudioObjectID device : {5u, 6u}) {
    hardware.setInputBuffers(device, {2});
    hardware.setRunning(device, true);
  }
  EXPECT_TRUE(micBusy(hardware));
  EXPECT_EQ(hardware.askedAbout(6), 0);

  // With the first idle the second decides.
  FakeAudioHardware second;
  second.setDevices({5, 6});
  second.setInputBuffers(5, {2});
  second.setRunning(5, false);
  second.setInputBuffers(6, {2});
  second.setRunning(6, true);
  EXPECT_TRUE(micBusy(second));
  EXPECT_EQ(second.asked(6, kRunning), 1);
}

TEST(MicBusy, AsksForTheRunningFlagOnlyOfInputDevices) {
  FakeAudioHardware hardware;
  hardware.setDevices({3, 5});
  hardware.setInputBuffers(3, {});
  hardware.setRunning(3, true);
  hardware.setInputBuffers(5, {2});
  hardware.setRunning(5, false);
  EXPECT_FALSE(micBusy(hardware));
  EXPECT_EQ(hardware.asked(3, kRunning), 0);
  EXPECT_EQ(hardware.asked(5, kRunning), 1);
}

TEST(DeviceQueries, ReadWithTheCapacityTheSizeQueryGave) {
  FakeAudioHardware hardware;
  hardware.setDevices({5, 6, 7});
  hardware.setInputBuffers(5, {1, 1, 1});
  hardware.setRunning(5, false);
  micBusy(hardware);
  std::vector<std::uint32_t> reads;
  for (const auto& query : hardware.queries)
    if (!query.sizeOnly) reads.push_back(query.capacity);
  // The list (3 identifiers), the configuration of three buffers, the flag of 4 bytes.
  ASSERT_GE(reads.size(), 3u);
  EXPECT_EQ(reads[0], 12u);
  EXPECT_EQ(reads[1], audioBufferListSize(3));
  EXPECT_EQ(reads[2], 4u);
}

TEST(DefaultOutputDevice, IsAbsentOnlyWhenTheQueryFails) {
  FakeAudioHardware none;
  EXPECT_EQ(defaultOutputDevice(none), std::nullopt);

  FakeAudioHardware zero;
  zero.setDefaultOutput(0);
  EXPECT_EQ(defaultOutputDevice(zero), std::optional<AudioObjectID>(0));

  FakeAudioHardware some;
  some.setDefaultOutput(42);
  EXPECT_EQ(defaultOutputDevice(some), std::optional<AudioObjectID>(42));
  ASSERT_EQ(some.queries.size(), 1u);
  EXPECT_EQ(some.queries[0].capacity, 4u);
}

}  // namespace
}  // namespace mirlet::testing
