#pragma once
// Audio device properties answered from one snapshot of the sound server.

#include <memory>

#include "mirlet/platform/audio_hardware.hpp"

namespace mirlet::pulse {

std::unique_ptr<AudioHardware> makeAudioHardware();

}  // namespace mirlet::pulse
