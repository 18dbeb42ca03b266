// The entries of the loadable module that carries the PulseAudio device questions and capture.

#include <algorithm>
#include <cstring>

#include "mirlet/platform/linux/loadable/modules.hpp"
#include "mirlet/platform/linux/pulse/devices.hpp"
#include "mirlet/platform/linux/pulse/system_audio_stream.hpp"

using mirlet::loadable::MirletOutputDevice;

// The device questions' plain entry points: C linkage, ints and a POD, nothing thrown.
extern "C" int mirlet_pulse_input_in_use() noexcept {
  try {
    const auto answers = mirlet::pulse::askDevices();
    return !answers ? -1 : answers->inputInUse ? 1 : 0;
  } catch (...) {
    return -1;
  }
}

extern "C" int mirlet_pulse_default_output(MirletOutputDevice* device) noexcept {
  try {
    const auto answers = mirlet::pulse::askDevices();
    if (!answers) return -1;
    if (!answers->defaultOutput) return 0;
    const mirlet::OutputDevice& output = *answers->defaultOutput;
    device->transport = output.transport;
    device->headphonesPort = output.headphonesPort ? 1 : 0;
    device->nameLength = output.name.size();
    if (device->name != nullptr)
      std::memcpy(device->name, output.name.data(),
                  std::min(output.name.size(), device->nameCapacity));
    return 1;
  } catch (...) {
    return -1;
  }
}

extern "C" __attribute__((visibility("default"))) const mirlet::loadable::PulseModule*
mirlet_pulse_module() {
  static constexpr mirlet::loadable::PulseModule module{&mirlet_pulse_input_in_use,
                                                        &mirlet_pulse_default_output};
  return &module;
}

extern "C" __attribute__((visibility("default"))) const mirlet::loadable::PulseCaptureModule*
mirlet_pulse_capture() {
  return mirlet::pulse::captureModule();
}
