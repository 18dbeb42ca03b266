#pragma once
// Read-only questions to the audio hardware. Every failed query folds into a plain answer.

#include <cstdint>
#include <optional>
#include <string>

#include "mirlet/platform/audio_hardware.hpp"

namespace mirlet {

// True when some input-capable device is running somewhere.
bool micBusy(AudioHardware& hardware);
bool deviceHasInputChannels(AudioHardware& hardware, AudioObjectID device);
bool deviceIsRunning(AudioHardware& hardware, AudioObjectID device);
// Absent only when the query fails; 0 is a present answer.
std::optional<AudioObjectID> defaultOutputDevice(AudioHardware& hardware);
// The four characters less surrounding spaces and tabs; empty when a byte is above 0x7F.
std::string fourCC(std::uint32_t code);

}  // namespace mirlet
