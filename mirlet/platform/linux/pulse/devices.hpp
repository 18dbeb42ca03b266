#pragma once
// Both device questions answered from one look at the sound server: connect, ask for the server
// info, the sinks and the sources at once, and disconnect.

#include <chrono>
#include <optional>

#include "mirlet/platform/result.hpp"

#include "mirlet/platform/linux/pulse/device_mapping.hpp"

namespace mirlet::pulse {

// Long enough for a loaded desktop's server to answer (a healthy one takes a few milliseconds),
// short enough that a caller asking about the microphone is not kept waiting by a dead one.
constexpr std::chrono::milliseconds kDevicesTimeout{2000};

struct DeviceAnswers {
  bool inputInUse = false;
  std::optional<OutputFacts> defaultOutput{};
};

// The server that libpulse finds by itself (PULSE_SERVER, client.conf, the session's socket);
// one is never started for this, whatever client.conf allows. A failure when none answers in full
// within `timeout`.
Result<DeviceAnswers> askDevices(std::chrono::milliseconds timeout = kDevicesTimeout);

}  // namespace mirlet::pulse
