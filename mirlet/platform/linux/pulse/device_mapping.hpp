#pragma once
// How a sink of the sound server reads as mirlet's output device. Pure functions of what the
// server reported, so every rule can be checked without a server.

#include <pulse/def.h>

#include <optional>
#include <string>

#include "mirlet/platform/linux/module.h"

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

// How the sink is attached; the first rule that matches wins.
mirlet_transport transportOf(const SinkFacts& sink);

// The output as mirlet reports it.
struct OutputFacts {
  mirlet_transport transport = MIRLET_TRANSPORT_UNKNOWN;
  std::string name;  // the description people see, else the server's name
  bool headphones = false;
};

OutputFacts describeSink(const SinkFacts& sink);

}  // namespace mirlet::pulse
