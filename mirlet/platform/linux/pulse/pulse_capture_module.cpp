// The entry of mirlet-pulse-capture.so: the capture of what the machine plays, through the
// PulseAudio client library (which PipeWire's PulseAudio server answers too). A module of its own,
// beside the device questions', so that `micbusy` and `audioout` load none of the recording.

#include <memory>

#include "mirlet/platform/linux/module_entry.hpp"
#include "mirlet/platform/linux/pulse/capture.hpp"

namespace {

using mirlet::pulse::Capture;

int start(const char* threadName, mirlet_audio_sink sink, mirlet_capture** capture,
          mirlet_reason* why) noexcept {
  return mirlet::module::guard(why, [&]() -> mirlet::Result<void> {
    auto made = std::make_unique<Capture>(sink);
    if (auto started = made->start(threadName); !started) return started;
    *capture = reinterpret_cast<mirlet_capture*>(made.release());
    return {};
  });
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const mirlet_capture_module*
mirlet_pulse_capture_entry() {
  static constexpr mirlet_capture_module module{
      &start,
      [](mirlet_capture* capture) noexcept {
        mirlet::module::quietly([&] { delete reinterpret_cast<Capture*>(capture); });
      },
  };
  return &module;
}
