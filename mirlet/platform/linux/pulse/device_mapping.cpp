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
bool isAirPlay(const SinkFacts& sink) {
  return sink.raop || mentions(sink.driver, "raop") || lowered(sink.name).starts_with("raop_");
}

// A sink with no hardware behind it. PulseAudio's null and filter sinks say so in device.class.
// PipeWire's pipewire-pulse (0.3.65, measured) reports none: its null sinks, from the config or
// from module-null-sink, carry factory.name = support.null-audio-sink, and its combine and remap
// sinks node.virtual = true; neither has device.bus or device.api.
bool isVirtual(const SinkFacts& sink) {
  return isOneOf(lowered(sink.deviceClass), {"abstract", "filter"}) ||
         sink.factoryName == "support.null-audio-sink" || sink.nodeVirtual;
}

// A headset or hands-free port is worn like headphones, as the form-factor rule has it.
bool isHeadphonesPort(const PortFacts& port) {
  if (port.type == PA_DEVICE_PORT_TYPE_HEADPHONES || port.type == PA_DEVICE_PORT_TYPE_HEADSET ||
      port.type == PA_DEVICE_PORT_TYPE_HANDSFREE)
    return true;
  const std::string name = lowered(port.name);
  for (std::string_view word : {"headphone", "headset", "handsfree", "hands-free"})
    if (name.find(word) != std::string::npos) return true;
  return false;
}

}  // namespace

mirlet_transport transportOf(const SinkFacts& sink) {
  const std::string bus = lowered(sink.bus);
  if (bus == "usb") return MIRLET_TRANSPORT_USB;
  if (bus == "bluetooth") return MIRLET_TRANSPORT_BLUETOOTH;
  if (isOneOf(bus, {"firewire", "ieee1394"})) return MIRLET_TRANSPORT_FIREWIRE;
  if (bus == "thunderbolt") return MIRLET_TRANSPORT_THUNDERBOLT;
  const std::array<std::string_view, 3> labels = {
      sink.name, sink.activePort ? std::string_view(sink.activePort->name) : "", sink.profileName};
  const auto anyMentions = [&](std::string_view word) {
    return std::ranges::any_of(labels,
                               [&](std::string_view label) { return mentions(label, word); });
  };
  // Connectors labelled for both ("hdmi-displayport") are DisplayPort: the more specific word wins.
  if (anyMentions("displayport")) return MIRLET_TRANSPORT_DISPLAYPORT;
  if (anyMentions("hdmi")) return MIRLET_TRANSPORT_HDMI;
  if (isAirPlay(sink)) return MIRLET_TRANSPORT_AIRPLAY;
  if (isOneOf(bus, {"pci", "platform", "isa", "soc"})) return MIRLET_TRANSPORT_BUILT_IN;
  if (bus.empty() && isVirtual(sink)) return MIRLET_TRANSPORT_VIRTUAL;
  return MIRLET_TRANSPORT_UNKNOWN;
}

OutputFacts describeSink(const SinkFacts& sink) {
  // The active port outweighs the form factor: a speaker port on a headset's device is a speaker.
  const bool headphones =
      sink.activePort
          ? isHeadphonesPort(*sink.activePort)
          : isOneOf(lowered(sink.formFactor), {"headphone", "headset", "hands-free", "handsfree"});
  return {transportOf(sink), sink.description.empty() ? sink.name : sink.description, headphones};
}

}  // namespace mirlet::pulse
