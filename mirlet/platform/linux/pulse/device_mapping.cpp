#include "mirlet/platform/linux/pulse/device_mapping.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace mirlet::pulse {
namespace {

std::string lowered(std::string_view text) {
  std::string result(text);
  std::ranges::transform(result, result.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return result;
}

bool mentions(std::string_view text, std::string_view word) {
  return lowered(text).find(word) != std::string::npos;
}

bool isOneOf(std::string_view value, std::initializer_list<std::string_view> choices) {
  return std::ranges::find(choices, value) != choices.end();
}

// A sink made by an AirPlay module: PulseAudio's names its driver after the module and its sinks
// "raop_client.…", PipeWire's calls them "raop_sink.…" and tags them with "raop.*" properties.
bool isAirPlay(const DeviceSnapshot& device) {
  if (mentions(device.driver, "raop") || lowered(device.name).starts_with("raop_")) return true;
  return std::ranges::any_of(device.propertyKeys,
                             [](const std::string& key) { return key.starts_with("raop."); });
}

bool namesHeadphones(std::string_view text) {
  const std::string name = lowered(text);
  for (std::string_view word : {"headphone", "headset", "handsfree", "hands-free"})
    if (name.find(word) != std::string::npos) return true;
  return false;
}

}  // namespace

std::optional<AudioObjectID> deviceIdentifier(DeviceKind kind, std::uint32_t index) {
  if (index > 0x7FFFFFFEu) return std::nullopt;
  return 2 + 2 * index + (kind == DeviceKind::source ? 1 : 0);
}

std::uint32_t transportCode(const DeviceSnapshot& device) {
  const std::string bus = lowered(device.bus);
  if (bus == "usb") return fourCharCode("usb ");
  if (bus == "bluetooth") return fourCharCode("blue");
  if (isOneOf(bus, {"firewire", "ieee1394"})) return fourCharCode("1394");
  if (bus == "thunderbolt") return fourCharCode("thun");
  const std::array<std::string_view, 3> labels = {
      device.name, device.activePort ? std::string_view(device.activePort->name) : "",
      device.profileName};
  const auto anyMentions = [&](std::string_view word) {
    return std::ranges::any_of(labels,
                               [&](std::string_view label) { return mentions(label, word); });
  };
  // Connectors labelled for both ("hdmi-displayport") are DisplayPort: the more specific word wins.
  if (anyMentions("displayport")) return fourCharCode("dprt");
  if (anyMentions("hdmi")) return fourCharCode("hdmi");
  if (isAirPlay(device)) return fourCharCode("airp");
  if (isOneOf(bus, {"pci", "platform", "isa", "soc"})) return fourCharCode("bltn");
  if (bus.empty() && isOneOf(lowered(device.deviceClass), {"abstract", "filter"}))
    return fourCharCode("virt");
  return 0;
}

std::optional<std::uint32_t> outputDataSource(const DeviceSnapshot& device) {
  if (device.activePort) {
    const PortSnapshot& port = *device.activePort;
    // A headset or hands-free port is worn like headphones, as the form-factor rule below has it.
    if (port.type == PortType::headphones || port.type == PortType::headset ||
        port.type == PortType::handsfree || namesHeadphones(port.name))
      return fourCharCode("hdpn");
    if (port.type == PortType::speaker || mentions(port.name, "speaker"))
      return fourCharCode("ispk");
    switch (port.type) {
      case PortType::line:
        return fourCharCode("line");
      case PortType::hdmi:
        return fourCharCode("hdmi");
      case PortType::spdif:
        return fourCharCode("spdf");
      default:
        return fourCharCode("outp");
    }
  }
  if (isOneOf(lowered(device.formFactor), {"headphone", "headset", "hands-free", "handsfree"}))
    return fourCharCode("hdpn");
  return std::nullopt;
}

std::string deviceName(const DeviceSnapshot& device) {
  return device.description.empty() ? device.name : device.description;
}

}  // namespace mirlet::pulse
