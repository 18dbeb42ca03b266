#include "mirlet/audio/device_queries.hpp"

namespace mirlet {
bool micBusy(AudioHardware&) { return false; }
bool deviceHasInputChannels(AudioHardware&, AudioObjectID) { return false; }
bool deviceIsRunning(AudioHardware&, AudioObjectID) { return false; }
std::optional<AudioObjectID> defaultOutputDevice(AudioHardware&) { return std::nullopt; }
std::string fourCC(std::uint32_t) { return {}; }
}  // namespace mirlet
