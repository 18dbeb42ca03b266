#pragma once

#include <string>

#include "mirlet/platform/audio_devices.hpp"

namespace mirlet {

// `audioout`: the line that reports the default output device. It has no failure: without a
// default output the line is {"ok":false}.
std::string audioOut(AudioDevices& devices);

}  // namespace mirlet
