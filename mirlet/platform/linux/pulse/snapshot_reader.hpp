#pragma once
// One look at the sound server: connect, ask for the server info, the sinks and the sources at
// once, and disconnect.

#include <chrono>
#include <optional>

#include "mirlet/platform/linux/pulse/snapshot_model.hpp"

namespace mirlet::pulse {

// Long enough for a loaded desktop's server to answer (a healthy one takes a few milliseconds),
// short enough that a caller asking about the microphone is not kept waiting by a dead one.
constexpr std::chrono::milliseconds kSnapshotTimeout{2000};

// The server that libpulse finds by itself (PULSE_SERVER, client.conf, the session's socket);
// one is never started for this. Nullopt when none answers in full within `timeout`.
std::optional<ServerSnapshot> readServerSnapshot(
    std::chrono::milliseconds timeout = kSnapshotTimeout);

}  // namespace mirlet::pulse
