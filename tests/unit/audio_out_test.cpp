// The output device report against a fake property store: the classification by transport, data
// source and name, and the two forms of the line.

#include <gtest/gtest.h>

#include "fakes/fake_audio_hardware.hpp"
#include "fakes/recording_output.hpp"
#include "mirlet/audio/audio_out.hpp"

namespace mirlet::testing {
namespace {

constexpr AudioObjectID kDevice = 73;
constexpr std::uint32_t kFails = 0xFFFFFFFF;  // marks a data-source query that fails
constexpr std::uint32_t kNoTransport = 0;     // the transport query fails

struct Report {
  std::string out;
  std::string err;
  int status;
};

Report report(FakeAudioHardware& hardware) {
  RecordingOutput out;
  const int status = endStatus([&] { audioOut(hardware, out); });
  return {out.standardOutput(), out.standardError(), status};
}

// A default output device with these properties; a missing transport or data source fails.
void describe(FakeAudioHardware& hardware, std::uint32_t transport, std::uint32_t dataSource,
              const std::string& name) {
  hardware.setDefaultOutput(kDevice);
  if (transport != kNoTransport)
    hardware.setCode(kDevice, kAudioDevicePropertyTransportType, kAudioObjectPropertyScopeGlobal,
                     transport);
  if (dataSource != kFails)
    hardware.setCode(kDevice, kAudioDevicePropertyDataSource, kAudioObjectPropertyScopeOutput,
                     dataSource);
  hardware.setName(kDevice, name);
}

std::string line(bool isSpeaker, const std::string& transport, const std::string& name,
                 bool headphones) {
  return std::string("{\"ok\":true,\"isSpeaker\":") + (isSpeaker ? "true" : "false") +
         ",\"transport\":\"" + transport + "\",\"name\":\"" + name +
         "\",\"headphones\":" + (headphones ? "true" : "false") + "}\n";
}

TEST(AudioOut, ClassifiesByTransportDataSourceAndName) {
  const std::uint32_t other = fourCharCode("ispk");
  const std::uint32_t hdpn = fourCharCode("hdpn");
  struct Case {
    std::uint32_t transport;
    std::uint32_t dataSource;
    std::string name;
    bool isSpeaker;
    bool headphones;
    std::string transportText;
  };
  const std::vector<Case> cases = {
      {fourCharCode("bltn"), other, "Built-in Speakers", true, false, "bltn"},
      {fourCharCode("bltn"), hdpn, "Built-in Output", false, true, "bltn"},
      {fourCharCode("bltn"), kFails, "External Headphones", false, true, "bltn"},
      {fourCharCode("usb "), kFails, "USB Headset", false, false, "usb"},
      {fourCharCode("usb "), kFails, "USB Audio Device", false, false, "usb"},
      {fourCharCode("usb "), kFails, "Auriculares USB", false, true, "usb"},
      {fourCharCode("blue"), kFails, "My AirPods", false, true, "blue"},
      {fourCharCode("blue"), kFails, "Sport Buds", false, true, "blue"},
      {fourCharCode("blue"), kFails, "Party Speaker", false, false, "blue"},
      {fourCharCode("hdmi"), kFails, "Living Room TV", true, false, "hdmi"},
      {fourCharCode("dprt"), kFails, "Monitor", true, false, "dprt"},
      {fourCharCode("airp"), kFails, "Kitchen", true, false, "airp"},
      {fourCharCode("airp"), kFails, "HEADPHONE BAR", true, true, "airp"},
      {kNoTransport, kFails, "Speakers", false, false, "\\u0000\\u0000\\u0000\\u0000"},
      // The data source alone, on transports that are no speaker of themselves.
      {fourCharCode("usb "), hdpn, "Desk", false, true, "usb"},
      {fourCharCode("virt"), other, "Null Output", false, false, "virt"},
      // The name words, in any case and inside other words.
      {fourCharCode("bltn"), other, "HEADPHONES", false, true, "bltn"},
      {fourCharCode("bltn"), other, "Headphones", false, true, "bltn"},
      {fourCharCode("bltn"), other, "headphones", false, true, "bltn"},
      {fourCharCode("bltn"), other, "Headset", true, false, "bltn"},
      {fourCharCode("bltn"), other, "Galaxy Earbuds", false, true, "bltn"},
      {fourCharCode("bltn"), other, "AURICULAR", false, true, "bltn"},
      {fourCharCode("hdmi"), hdpn, "TV", true, true, "hdmi"},
      {fourCharCode(" ab "), kFails, "X", false, false, "ab"},
      {0x80818283, kFails, "X", false, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeAudioHardware hardware;
    describe(hardware, c.transport, c.dataSource, c.name);
    const Report result = report(hardware);
    EXPECT_EQ(result.out, line(c.isSpeaker, c.transportText, c.name, c.headphones));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
  }
}

TEST(AudioOut, EscapesTheNameAsTheEncoderDoes) {
  struct Case {
    std::string name;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"Desk/Left", "Desk\\/Left"},
      {"Say \"hi\"\\", "Say \\\"hi\\\"\\\\"},
      {"Línea\tTV", "Línea\\tTV"},
      {"bad \xFF byte", "bad \xEF\xBF\xBD byte"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeAudioHardware hardware;
    describe(hardware, fourCharCode("usb "), kFails, c.name);
    EXPECT_EQ(report(hardware).out, line(false, "usb", c.written, false));
  }
}

TEST(AudioOut, WithoutADefaultDeviceReportsNotOkAndAsksNothingMore) {
  FakeAudioHardware hardware;
  hardware.setName(kDevice, "Headphones");
  const Report result = report(hardware);
  EXPECT_EQ(result.out, "{\"ok\":false}\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(hardware.queries.size(), 1u);
}

TEST(AudioOut, DeviceZeroIsReportedFromItsOwnProperties) {
  FakeAudioHardware hardware;
  hardware.setDefaultOutput(0);
  hardware.setCode(0, kAudioDevicePropertyTransportType, kAudioObjectPropertyScopeGlobal,
                   fourCharCode("bltn"));
  hardware.setName(0, "Zero");
  EXPECT_EQ(report(hardware).out, line(true, "bltn", "Zero", false));
  EXPECT_EQ(hardware.askedAbout(0), 3);
}

TEST(AudioOut, AFailedNameIsEmptyAndOnlyTheDataSourceMakesHeadphones) {
  FakeAudioHardware hardware;
  hardware.setDefaultOutput(kDevice);
  hardware.setCode(kDevice, kAudioDevicePropertyTransportType, kAudioObjectPropertyScopeGlobal,
                   fourCharCode("bltn"));
  hardware.failing(kDevice, kAudioObjectPropertyName, kAudioObjectPropertyScopeGlobal);
  EXPECT_EQ(report(hardware).out, line(true, "bltn", "", false));

  hardware.setCode(kDevice, kAudioDevicePropertyDataSource, kAudioObjectPropertyScopeOutput,
                   fourCharCode("hdpn"));
  EXPECT_EQ(report(hardware).out, line(false, "bltn", "", true));
}

TEST(AudioOut, ReadsEachPropertyWithItsAddressAndCapacity) {
  FakeAudioHardware hardware;
  describe(hardware, fourCharCode("bltn"), fourCharCode("ispk"), "Speakers");
  report(hardware);
  struct Expected {
    AudioObjectID object;
    std::uint32_t selector;
    std::uint32_t scope;
    std::uint32_t capacity;
  };
  const std::vector<Expected> expected = {
      {kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice,
       kAudioObjectPropertyScopeGlobal, 4},
      {kDevice, kAudioDevicePropertyTransportType, kAudioObjectPropertyScopeGlobal, 4},
      {kDevice, kAudioObjectPropertyName, kAudioObjectPropertyScopeGlobal, 8},
      {kDevice, kAudioDevicePropertyDataSource, kAudioObjectPropertyScopeOutput, 4},
  };
  ASSERT_EQ(hardware.queries.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(hardware.queries[i].sizeOnly);
    EXPECT_EQ(hardware.queries[i].object, expected[i].object);
    EXPECT_EQ(hardware.queries[i].selector, expected[i].selector);
    EXPECT_EQ(hardware.queries[i].scope, expected[i].scope);
    EXPECT_EQ(hardware.queries[i].capacity, expected[i].capacity);
  }
}

}  // namespace
}  // namespace mirlet::testing
