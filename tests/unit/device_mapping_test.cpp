// How sinks and sources of the sound server read as devices: identifiers, transport codes, data
// sources and names, rule by rule and in the order the rules are tried.

#include <gtest/gtest.h>

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

DeviceSnapshot withPort(DeviceSnapshot device, std::string port,
                        PortType type = PortType::unknown) {
  device.activePort = PortSnapshot{std::move(port), type};
  return device;
}

TEST(DeviceMapping, TransportFollowsTheFirstRuleThatMatches) {
  auto profiled = [](DeviceSnapshot device, std::string profile) {
    device.profileName = std::move(profile);
    return device;
  };
  auto driven = [](DeviceSnapshot device, std::string driver) {
    device.driver = std::move(driver);
    return device;
  };
  auto tagged = [](DeviceSnapshot device, std::string key) {
    device.propertyKeys.push_back(std::move(key));
    return device;
  };
  struct Case {
    const char* what;
    DeviceSnapshot device;
    std::string transport;  // fourCC text; "" for 0
  };
  const std::vector<Case> cases = {
      {"usb", sink("usb"), "usb"},
      {"usb in capitals", sink("USB"), "usb"},
      {"bluetooth", sink("bluetooth"), "blue"},
      {"firewire", sink("firewire"), "1394"},
      {"thunderbolt", sink("thunderbolt"), "thun"},
      {"usb before an hdmi name", sink("usb", "", "hdmi-dongle"), "usb"},
      {"hdmi in the sink name", sink("pci", "sound", "alsa_output.pci-0000_00_1f.3.hdmi-stereo"),
       "hdmi"},
      {"hdmi in the port name", withPort(sink("pci"), "hdmi-output-0", PortType::hdmi), "hdmi"},
      {"hdmi in the profile name", profiled(sink("pci"), "HDMI-stereo-extra1"), "hdmi"},
      {"displayport", withPort(sink("pci"), "displayport-output-1"), "dprt"},
      {"displayport named with hdmi", sink("", "", "hdmi-displayport-out"), "dprt"},
      {"hdmi without a bus", sink("", "abstract", "virtual-hdmi"), "hdmi"},
      {"airplay by driver", driven(sink(""), "module-raop-sink.c"), "airp"},
      {"airplay by name", sink("", "", "raop_client.kitchen.local"), "airp"},
      {"airplay by property", tagged(sink(""), "raop.ip"), "airp"},
      {"pci", sink("pci", "sound"), "bltn"},
      {"platform", sink("platform"), "bltn"},
      {"isa", sink("isa"), "bltn"},
      {"soc", sink("soc"), "bltn"},
      {"null sink", sink("", "abstract"), "virt"},
      {"filter sink", sink("", "filter"), "virt"},
      {"abstract on a bus it does not know", sink("spi", "abstract"), ""},
      {"sound class without a bus", sink("", "sound"), ""},
      {"nothing known", sink(""), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::uint32_t code = transportCode(c.device);
    if (c.transport.empty()) {
      EXPECT_EQ(code, 0u);
    } else {
      EXPECT_EQ(fourCC(code), c.transport);
    }
  }
}

TEST(DeviceMapping, DataSourceComesFromThePortThenTheFormFactor) {
  auto formed = [](DeviceSnapshot device, std::string formFactor) {
    device.formFactor = std::move(formFactor);
    return device;
  };
  struct Case {
    const char* what;
    DeviceSnapshot device;
    std::optional<std::string> dataSource;
  };
  const std::vector<Case> cases = {
      {"headphones port type", withPort(sink("pci"), "analog-output", PortType::headphones),
       "hdpn"},
      {"headphones in the port name", withPort(sink("pci"), "analog-output-headphones"), "hdpn"},
      {"headset port", withPort(sink("bluetooth"), "headset-output", PortType::headset), "hdpn"},
      {"hands-free port", withPort(sink("bluetooth"), "handsfree-output", PortType::handsfree),
       "hdpn"},
      {"speaker port type", withPort(sink("pci"), "analog-output", PortType::speaker), "ispk"},
      {"speaker in the port name", withPort(sink("pci"), "analog-output-speaker"), "ispk"},
      {"line port", withPort(sink("pci"), "analog-output-lineout", PortType::line), "line"},
      {"some other port", withPort(sink("pci"), "analog-output"), "outp"},
      {"a port outweighs the form factor",
       formed(withPort(sink("usb"), "analog-output-speaker"), "headphone"), "ispk"},
      {"headphone form factor", formed(sink("usb"), "headphone"), "hdpn"},
      {"headset form factor", formed(sink("usb"), "headset"), "hdpn"},
      {"hands-free form factor", formed(sink("bluetooth"), "hands-free"), "hdpn"},
      {"speaker form factor", formed(sink("usb"), "speaker"), std::nullopt},
      {"nothing known", sink(""), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto code = outputDataSource(c.device);
    ASSERT_EQ(code.has_value(), c.dataSource.has_value());
    if (code) {
      EXPECT_EQ(fourCC(*code), *c.dataSource);
    }
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
  device.description = "USB Audio";
  EXPECT_EQ(deviceName(device), "USB Audio");
  device.description.clear();
  EXPECT_EQ(deviceName(device), "alsa_output.usb");
}

}  // namespace
}  // namespace mirlet::pulse
