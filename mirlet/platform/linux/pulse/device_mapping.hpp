#pragma once
// How a sink of the sound server reads as mirlet's output device. Pure functions of what the
// server reported, so every rule can be checked without a server.

#include <pulse/def.h>

#include <cstdint>
#include <optional>
#include <string>

#include "mirlet/platform/audio_devices.hpp"

namespace mirlet::pulse {

struct PortFacts {
  std::string name;
  pa_device_port_type_t type = PA_DEVICE_PORT_TYPE_UNKNOWN;
};

// What the server says of one sink; an absent property is empty text.
struct SinkFacts {
  std::string name{};  // the server's own
  std::string description{};
  std::string driver{};
  std::optional<PortFacts> activePort{};
  std::string bus{};          // device.bus
  std::string formFactor{};   // device.form_factor
  std::string deviceClass{};  // device.class
  std::string profileName{};  // device.profile.name
  std::string factoryName{};  // factory.name, PipeWire's
  bool nodeVirtual = false;   // node.virtual = true, PipeWire's
  bool raop = false;          // some raop.* property, as PipeWire's AirPlay sinks carry
};

// 'usb ', 'blue', '1394', 'thun', 'dprt', 'hdmi', 'airp', 'bltn', 'virt', or 0 when nothing
// tells; the first rule that matches wins.
std::uint32_t transportCode(const SinkFacts& sink);

OutputDevice describeSink(const SinkFacts& sink);

}  // namespace mirlet::pulse
