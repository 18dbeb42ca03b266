// The entry of mirlet-pulse.so: the device questions and the capture of what the machine plays,
// through the PulseAudio client library (which PipeWire's PulseAudio server answers too).

#include "mirlet/platform/linux/module_entry.hpp"
#include "mirlet/platform/linux/pulse/devices.hpp"
#include "mirlet/platform/linux/pulse/system_audio_stream.hpp"

namespace {

using mirlet::Result;
using mirlet::module::guard;
using mirlet::module::quietly;
namespace pulse = mirlet::pulse;

pulse::Capture* unwrap(mirlet_capture* capture) { return reinterpret_cast<pulse::Capture*>(capture); }

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

int captureCreate(int sampleRate, int channels, const char* threadName, mirlet_audio_sink sink,
                  mirlet_capture** capture, mirlet_reason* why) noexcept {
  return guard(why, [&]() -> Result<void> {
    *capture = reinterpret_cast<mirlet_capture*>(
        pulse::newCapture(sampleRate, channels, threadName, sink));
    return {};
  });
}

int captureStart(mirlet_capture* capture, mirlet_reason* why) noexcept {
  return guard(why, [&] { return pulse::startCapture(*unwrap(capture)); });
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const mirlet_sound_module* mirlet_pulse_entry() {
  static constexpr mirlet_sound_module module{
      &inputInUse,
      &defaultOutput,
      &captureCreate,
      &captureStart,
      [](mirlet_capture* capture) noexcept {
        quietly([&] { pulse::stopCapture(*unwrap(capture)); });
      },
      [](mirlet_capture* capture) noexcept {
        quietly([&] { pulse::deleteCapture(unwrap(capture)); });
      },
  };
  return &module;
}
