#pragma once
// How a sink or source of the sound server reads as an audio device: its identifier, transport,
// data source and name. Pure functions of a snapshot, so every rule can be checked without a
// server.

#include <cstdint>
#include <optional>
#include <string>

#include "mirlet/platform/audio_hardware.hpp"
#include "mirlet/platform/linux/pulse/snapshot_model.hpp"

namespace mirlet::pulse {

// Sinks and sources are numbered apart by the server, so their numbers are interleaved: sinks on
// even identifiers from 2, sources on odd ones from 3. Never 0 and never the system object (1),
// and the same for as long as the server keeps the device. Absent for a number too large to map.
std::optional<AudioObjectID> deviceIdentifier(DeviceKind kind, std::uint32_t index);

// The transport code: 'usb ', 'blue', '1394', 'thun', 'dprt', 'hdmi', 'airp', 'bltn', 'virt', or 0
// when nothing tells.
std::uint32_t transportCode(const DeviceSnapshot& device);

// The data source of an output: 'hdpn' for headphones, 'ispk' for a speaker, another code for
// another port; absent when there is no active port and the form factor says nothing.
std::optional<std::uint32_t> outputDataSource(const DeviceSnapshot& device);

// The name people see: the description, or the server's name when there is none.
std::string deviceName(const DeviceSnapshot& device);

}  // namespace mirlet::pulse
