#include "mirlet/platform/linux/pulse/audio_hardware.hpp"

#include "mirlet/platform/linux/pulse/device_properties.hpp"
#include "mirlet/platform/linux/pulse/snapshot_reader.hpp"

namespace mirlet::pulse {

// Every command builds the platform, but only the device questions need the server: the
// snapshot waits for the first of them.
std::unique_ptr<AudioHardware> makeAudioHardware() {
  return std::make_unique<SnapshotAudioHardware>([] { return readServerSnapshot(); });
}

}  // namespace mirlet::pulse
