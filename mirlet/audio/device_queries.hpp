#pragma once
// Read-only questions to the audio devices. A question that cannot be answered folds into a
// plain answer.

#include "mirlet/platform/audio_devices.hpp"

namespace mirlet {

// True when some microphone is recording; false also when nobody can tell.
bool micBusy(AudioDevices& devices);

}  // namespace mirlet
