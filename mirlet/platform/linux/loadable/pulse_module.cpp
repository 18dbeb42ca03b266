// The entries of the loadable module that carries the PulseAudio device queries and capture.

#include "mirlet/platform/linux/loadable/modules.hpp"
#include "mirlet/platform/linux/pulse/audio_hardware.hpp"
#include "mirlet/platform/linux/pulse/system_audio_stream.hpp"

extern "C" __attribute__((visibility("default"))) const mirlet::loadable::PulseModule*
mirlet_pulse_module() {
  static constexpr mirlet::loadable::PulseModule module{&mirlet::pulse::makeAudioHardware};
  return &module;
}

extern "C" __attribute__((visibility("default"))) const mirlet::loadable::PulseCaptureModule*
mirlet_pulse_capture() {
  return mirlet::pulse::captureModule();
}
