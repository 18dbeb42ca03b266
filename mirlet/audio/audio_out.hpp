#pragma once

#include "mirlet/cli/output.hpp"
#include "mirlet/platform/audio_hardware.hpp"

namespace mirlet {

// `audioout`: reports the default output device and ends the process with status 0.
[[noreturn]] void audioOut(AudioHardware& hardware, Output& out);

}  // namespace mirlet
