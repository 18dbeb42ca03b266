// The entry of mirlet-pulse.so: the device questions, through the PulseAudio client library (which
// PipeWire's PulseAudio server answers too).

#include "mirlet/platform/linux/module_entry.hpp"
#include "mirlet/platform/linux/pulse/devices.hpp"

namespace {

using mirlet::Result;
using mirlet::module::guard;
namespace pulse = mirlet::pulse;

int inputInUse(int* inUse, mirlet_reason* why) noexcept {
  return guard(why, [&]() -> Result<void> {
    const auto answers = pulse::askDevices();
    if (!answers) return mirlet::failure(answers.error());
    *inUse = answers->inputInUse ? 1 : 0;
    return {};
  });
}

int defaultOutput(const mirlet_output_sink* sink, mirlet_reason* why) noexcept {
  return guard(why, [&]() -> Result<void> {
    const auto answers = pulse::askDevices();
    if (!answers) return mirlet::failure(answers.error());
    if (const auto& found = answers->defaultOutput) {
      const mirlet_output output{found->transport, found->name.data(), found->name.size(),
                                 found->headphones ? 1 : 0};
      sink->output(sink->context, &output);
    }
    return {};
  });
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const mirlet_sound_module* mirlet_pulse_entry() {
  static constexpr mirlet_sound_module module{&inputInUse, &defaultOutput};
  return &module;
}
