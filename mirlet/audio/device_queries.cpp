#include "mirlet/audio/device_queries.hpp"

namespace mirlet {

bool micBusy(AudioDevices& devices) { return devices.inputInUse().value_or(false); }

}  // namespace mirlet
