#pragma once
// What one look at the sound server saw: its default output and its sinks and sources, in plain
// values, so the property answers built on it need no server to be checked.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mirlet::pulse {

enum class DeviceKind { sink, source };

// The kinds of port the sound server tells apart, those that matter for a data source.
enum class PortType { unknown, speaker, headphones, headset, handsfree, line, hdmi, spdif, other };

struct PortSnapshot {
  std::string name;
  PortType type = PortType::unknown;
};

struct DeviceSnapshot {
  DeviceKind kind = DeviceKind::sink;
  std::uint32_t index = 0;  // the server's own number, unique among devices of one kind
  std::string name;
  std::string description;
  std::string driver;
  std::uint32_t channels = 0;
  bool running = false;
  bool monitor = false;  // a source that only mirrors a sink
  std::optional<PortSnapshot> activePort;
  // Properties from the device's property list; empty when absent.
  std::string bus;          // device.bus
  std::string formFactor;   // device.form_factor
  std::string deviceClass;  // device.class
  std::string profileName;  // device.profile.name
  std::vector<std::string> propertyKeys;
};

struct ServerSnapshot {
  std::string defaultSinkName;
  std::vector<DeviceSnapshot> sinks;
  std::vector<DeviceSnapshot> sources;
};

}  // namespace mirlet::pulse
