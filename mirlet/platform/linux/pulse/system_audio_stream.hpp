#pragma once
// A capture stream of what the machine plays: the monitor of the sound server's default output,
// as 32-bit float frames at the configured rate and channel count.

#include <chrono>
#include <memory>

#include "mirlet/platform/capture_service.hpp"

namespace mirlet::pulse {

// How long starting may wait for the sound server before it fails.
inline constexpr std::chrono::seconds kConnectTimeout{5};

std::shared_ptr<CaptureStream> makeSystemAudioStream(const StreamConfiguration& configuration,
                                                     std::shared_ptr<StreamDelegate> delegate);

}  // namespace mirlet::pulse
