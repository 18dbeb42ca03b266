#pragma once
// Read-only questions to the audio devices. A question that cannot be answered folds into a
// plain answer.

#include <cstdint>
#include <string>

#include "mirlet/platform/audio_devices.hpp"

namespace mirlet {

// True when some microphone is recording; false also when nobody can tell.
bool micBusy(AudioDevices& devices);
// The four characters less surrounding spaces and tabs; empty when a byte is above 0x7F.
std::string fourCC(std::uint32_t code);

}  // namespace mirlet
