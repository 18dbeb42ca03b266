#pragma once
// The capture of what the machine plays: the monitor of the sound server's default output,
// followed wherever the default goes, as 32-bit float frames at the asked rate and channel count.

#include <chrono>

#include "mirlet/platform/linux/loadable/modules.hpp"

namespace mirlet::pulse {

// How long starting may wait for the sound server before it fails.
inline constexpr std::chrono::seconds kConnectTimeout{5};

// The module's entry points (see PulseCaptureModule).
const loadable::PulseCaptureModule* captureModule();

}  // namespace mirlet::pulse
