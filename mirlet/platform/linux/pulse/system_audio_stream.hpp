#pragma once
// A capture stream of what the machine plays: the monitor of the sound server's default output.

#include <memory>

#include "mirlet/platform/capture_service.hpp"

namespace mirlet::pulse {

std::shared_ptr<CaptureStream> makeSystemAudioStream(const StreamConfiguration& configuration,
                                                     std::shared_ptr<StreamDelegate> delegate);

}  // namespace mirlet::pulse
