// How sinks and sources of the sound server read as devices: identifiers, transport codes, data
// sources and names, rule by rule and in the order the rules are tried.

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "mirlet/audio/device_queries.hpp"
#include "mirlet/platform/linux/pulse/device_mapping.hpp"

namespace mirlet::pulse {
namespace {

DeviceSnapshot sink(std::string bus, std::string deviceClass = "", std::string name = "out") {
  DeviceSnapshot device;
  device.name = std::move(name);
  device.bus = std::move(bus);
  device.deviceClass = std::move(deviceClass);
  return device;
}
DeviceSnapshot with(DeviceSnapshot device, const std::function<void(DeviceSnapshot&)>& change) {
  change(device);
  return device;
}
PortSnapshot port(std::string name, PortType type = PortType::unknown) {
  return {std::move(name), type};
}

TEST(DeviceMapping, TransportFollowsTheFirstRuleThatMatches) {
  struct Case {
    const char* what;
    DeviceSnapshot device;
    std::string transport;  // fourCC text; "" for 0
  };
  const Case cases[] = {
      {"usb in capitals", sink("USB"), "usb"},
      {"firewire", sink("firewire"), "1394"},
      {"thunderbolt", sink("thunderbolt"), "thun"},
      {"usb before an hdmi name", sink("usb", "", "hdmi-dongle"), "usb"},
      {"hdmi in the port name",
       with(sink("pci"), [](auto& d) { d.activePort = port("hdmi-output-0", PortType::hdmi); }),
       "hdmi"},
      {"hdmi in the profile name",
       with(sink("pci"), [](auto& d) { d.profileName = "HDMI-stereo-extra1"; }), "hdmi"},
      {"displayport",
       with(sink("pci"), [](auto& d) { d.activePort = port("displayport-output-1"); }), "dprt"},
      {"displayport named with hdmi", sink("", "", "hdmi-displayport-out"), "dprt"},
      {"hdmi without a bus", sink("", "abstract", "virtual-hdmi"), "hdmi"},
      {"airplay by driver", with(sink(""), [](auto& d) { d.driver = "module-raop-sink.c"; }),
       "airp"},
      {"airplay by property", with(sink(""), [](auto& d) { d.propertyKeys = {"raop.ip"}; }),
       "airp"},
      {"platform", sink("platform"), "bltn"},
      {"isa", sink("isa"), "bltn"},
      {"soc", sink("soc"), "bltn"},
      {"filter sink", sink("", "filter"), "virt"},
      {"abstract on a bus it does not know", sink("spi", "abstract"), ""},
      {"sound class without a bus", sink("", "sound"), ""},
      {"nothing known", sink(""), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::uint32_t code = transportCode(c.device);
    EXPECT_EQ(code == 0 ? "" : fourCC(code), c.transport);
  }
}

TEST(DeviceMapping, DataSourceComesFromThePortThenTheFormFactor) {
  using enum PortType;
  struct Case {
    const char* what;
    std::optional<PortSnapshot> activePort;
    std::string formFactor;
    std::string dataSource;  // fourCC text; "" when absent
  };
  const Case cases[] = {
      {"headphones port type", port("analog-output", headphones), "", "hdpn"},
      {"headphones in the port name", port("analog-output-headphones"), "", "hdpn"},
      {"headset port", port("headset-output", headset), "", "hdpn"},
      {"hands-free port", port("handsfree-output", handsfree), "", "hdpn"},
      {"speaker port type", port("analog-output", speaker), "", "ispk"},
      {"speaker in the port name", port("analog-output-speaker"), "", "ispk"},
      {"line port", port("analog-output-lineout", line), "", "line"},
      {"some other port", port("analog-output"), "", "outp"},
      {"a port outweighs the form factor", port("analog-output-speaker"), "headphone", "ispk"},
      {"headphone form factor", std::nullopt, "headphone", "hdpn"},
      {"headset form factor", std::nullopt, "headset", "hdpn"},
      {"hands-free form factor", std::nullopt, "hands-free", "hdpn"},
      {"speaker form factor", std::nullopt, "speaker", ""},
      {"nothing known", std::nullopt, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DeviceSnapshot device = sink("usb");
    device.activePort = c.activePort;
    device.formFactor = c.formFactor;
    const auto code = outputDataSource(device);
    EXPECT_EQ(code ? fourCC(*code) : "", c.dataSource);
  }
}

TEST(DeviceMapping, IdentifiersAreDistinctNonZeroAndNeverTheSystemObject) {
  std::set<AudioObjectID> seen;
  for (std::uint32_t index : {0u, 1u, 2u, 1000u, 0x7FFFFFFEu}) {
    for (DeviceKind kind : {DeviceKind::sink, DeviceKind::source}) {
      const auto id = deviceIdentifier(kind, index);
      ASSERT_TRUE(id.has_value()) << index;
      EXPECT_GT(*id, kAudioObjectSystemObject);
      EXPECT_TRUE(seen.insert(*id).second) << *id;
      EXPECT_EQ(deviceIdentifier(kind, index), id);
    }
  }
  EXPECT_EQ(deviceIdentifier(DeviceKind::sink, 0x7FFFFFFFu), std::nullopt);
  EXPECT_EQ(deviceIdentifier(DeviceKind::source, 0xFFFFFFFFu), std::nullopt);
}

TEST(DeviceMapping, NameIsTheDescriptionOrElseTheServerName) {
  DeviceSnapshot device = sink("", "", "alsa_output.usb");
  EXPECT_EQ(deviceName(device), "alsa_output.usb");
  device.description = "USB Audio";
  EXPECT_EQ(deviceName(device), "USB Audio");
}

}  // namespace
}  // namespace mirlet::pulse
