// The output device report against a fake property store: the classification by transport, data
// source and name, and the two forms of the line.

#include <gtest/gtest.h>

#include <tuple>

#include "fakes/fake_audio_hardware.hpp"
#include "fakes/recording_output.hpp"
#include "mirlet/audio/audio_out.hpp"

namespace mirlet::testing {
namespace {

constexpr AudioObjectID kDevice = 73;
constexpr std::uint32_t kTransport = kAudioDevicePropertyTransportType;
constexpr std::uint32_t kSource = kAudioDevicePropertyDataSource;
constexpr std::uint32_t kGlobal = kAudioObjectPropertyScopeGlobal;
constexpr std::uint32_t kOutput = kAudioObjectPropertyScopeOutput;
constexpr std::uint32_t kFails = 0;  // as a transport or data source: its query fails

// Runs audioOut; the line, checked to come with status 0 and nothing on standard error.
std::string report(FakeAudioHardware& hardware) {
  RecordingOutput out;
  EXPECT_EQ(endStatus([&] { audioOut(hardware, out); }), 0);
  EXPECT_EQ(out.standardError(), "");
  return out.standardOutput();
}

// A default output device with these properties; nullopt for the name: its query fails.
void describe(FakeAudioHardware& hardware, std::uint32_t transport, std::uint32_t dataSource,
              std::optional<std::string> name, AudioObjectID device = kDevice) {
  hardware.setDefaultOutput(device);
  if (transport != kFails) hardware.setCode(device, kTransport, kGlobal, transport);
  if (dataSource != kFails) hardware.setCode(device, kSource, kOutput, dataSource);
  if (name) hardware.setName(device, *name);
}

std::string line(bool isSpeaker, const std::string& transport, const std::string& name,
                 bool headphones) {
  return std::string("{\"ok\":true,\"isSpeaker\":") + (isSpeaker ? "true" : "false") +
         ",\"transport\":\"" + transport + "\",\"name\":\"" + name +
         "\",\"headphones\":" + (headphones ? "true" : "false") + "}\n";
}

TEST(AudioOut, ClassifiesByTransportDataSourceAndName) {
  const std::uint32_t bltn = fourCharCode("bltn"), usb = fourCharCode("usb "),
                      blue = fourCharCode("blue"), hdmi = fourCharCode("hdmi"),
                      airp = fourCharCode("airp"), other = fourCharCode("ispk"),
                      hdpn = fourCharCode("hdpn");
  struct Case {
    std::uint32_t transport;
    std::uint32_t dataSource;
    std::optional<std::string> name;
    bool isSpeaker;
    bool headphones;
    std::string transportText;
    std::string written = {};  // the name as the line holds it, when it differs
  };
  const Case cases[] = {
      {bltn, other, "Built-in Speakers", true, false, "bltn"},
      {bltn, hdpn, "Built-in Output", false, true, "bltn"},
      {bltn, kFails, "External Headphones", false, true, "bltn"},
      {usb, kFails, "USB Headset", false, false, "usb"},
      {usb, kFails, "USB Audio Device", false, false, "usb"},
      {usb, kFails, "Auriculares USB", false, true, "usb"},
      {blue, kFails, "My AirPods", false, true, "blue"},
      {blue, kFails, "Sport Buds", false, true, "blue"},
      {blue, kFails, "Party Speaker", false, false, "blue"},
      {hdmi, kFails, "Living Room TV", true, false, "hdmi"},
      {fourCharCode("dprt"), kFails, "Monitor", true, false, "dprt"},
      {airp, kFails, "Kitchen", true, false, "airp"},
      {airp, kFails, "HEADPHONE BAR", true, true, "airp"},
      {kFails, kFails, "Speakers", false, false, "\\u0000\\u0000\\u0000\\u0000"},
      // The data source alone, on transports that are no speaker of themselves.
      {usb, hdpn, "Desk", false, true, "usb"},
      {fourCharCode("virt"), other, "Null Output", false, false, "virt"},
      // The name words, in any case and inside other words.
      {bltn, other, "HEADPHONES", false, true, "bltn"},
      {bltn, other, "Headphones", false, true, "bltn"},
      {bltn, other, "headphones", false, true, "bltn"},
      {bltn, other, "Headset", true, false, "bltn"},
      {bltn, other, "Galaxy Earbuds", false, true, "bltn"},
      {bltn, other, "AURICULAR", false, true, "bltn"},
      {hdmi, hdpn, "TV", true, true, "hdmi"},
      {fourCharCode(" ab "), kFails, "X", false, false, "ab"},
      {0x80818283, kFails, "X", false, false, ""},
      // A failed name is empty: only the data source makes headphones then.
      {bltn, kFails, std::nullopt, true, false, "bltn"},
      {bltn, hdpn, std::nullopt, false, true, "bltn"},
      // The name escaped as the encoder does.
      {usb, kFails, "Desk/Left", false, false, "usb", "Desk\\/Left"},
      {usb, kFails, "Say \"hi\"\\", false, false, "usb", "Say \\\"hi\\\"\\\\"},
      {usb, kFails, "Línea\tTV", false, false, "usb", "Línea\\tTV"},
      {usb, kFails, "bad \xFF byte", false, false, "usb", "bad \xEF\xBF\xBD byte"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.value_or("(no name)"));
    FakeAudioHardware hardware;
    describe(hardware, c.transport, c.dataSource, c.name);
    const std::string name = c.written.empty() ? c.name.value_or("") : c.written;
    EXPECT_EQ(report(hardware), line(c.isSpeaker, c.transportText, name, c.headphones));
  }
}

TEST(AudioOut, OnlyAFailedDefaultDeviceQueryIsNotOk) {
  FakeAudioHardware none;
  none.setName(kDevice, "Headphones");
  EXPECT_EQ(report(none), "{\"ok\":false}\n");
  EXPECT_EQ(none.queries.size(), 1u);  // nothing more is asked

  FakeAudioHardware zero;
  describe(zero, fourCharCode("bltn"), kFails, "Zero", 0);
  EXPECT_EQ(report(zero), line(true, "bltn", "Zero", false));
  EXPECT_EQ(zero.askedAbout(0), 3);
}

TEST(AudioOut, ReadsEachPropertyWithItsAddressAndCapacity) {
  FakeAudioHardware hardware;
  describe(hardware, fourCharCode("bltn"), fourCharCode("ispk"), "Speakers");
  report(hardware);
  using Read = std::tuple<bool, AudioObjectID, std::uint32_t, std::uint32_t, std::uint32_t>;
  std::vector<Read> reads;
  for (const auto& q : hardware.queries)
    reads.emplace_back(q.sizeOnly, q.object, q.selector, q.scope, q.capacity);
  EXPECT_EQ(reads, (std::vector<Read>{
                       {false, kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice,
                        kGlobal, 4},
                       {false, kDevice, kTransport, kGlobal, 4},
                       {false, kDevice, kAudioObjectPropertyName, kGlobal, 8},
                       {false, kDevice, kSource, kOutput, 4}}));
}

}  // namespace
}  // namespace mirlet::testing
