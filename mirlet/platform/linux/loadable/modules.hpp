#pragma once
// The backend lives in loadable modules, each loaded only by the commands that use it. FFmpeg's
// libraries bring well over a hundred shared libraries with them and libpulse some thirty;
// loading them all at start-up would slow down every command several times over.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "mirlet/platform/audio_devices.hpp"
#include "mirlet/platform/linux/loadable/screen_modules.hpp"

// The audio modules' entry points are plain C: each module carries its own copy of the C++
// runtime, so nothing that one copy allocates may be used or freed by another. Handles stay
// opaque, texts are copied into the caller's memory, and callbacks take a context pointer.
extern "C" {
struct mirlet_capture;
struct mirlet_audio_file;
// Audio for the recording: `frames` interleaved frames, or silence when `samples` is null, at
// `time` / `timescale` seconds.
typedef void (*mirlet_audio_fn)(void* context, const float* samples, std::int64_t frames,
                                std::int64_t time, std::int32_t timescale);
typedef void (*mirlet_reason_fn)(void* context, const char* reason);
typedef void (*mirlet_done_fn)(void* context);
}

namespace mirlet::loadable {

// Listing windows and displays needs only libxcb; pictures need Xlib, its extensions and the PNG
// encoder, about a millisecond more to load. Both answer through C entry points
// (screen_modules.hpp).
struct XcbModule {
  static constexpr const char* kFile = "mirlet-xcb.so";
  static constexpr const char* kEntry = "mirlet_xcb_module";
  using Entry = MirletXcbModule;
};

struct X11Module {
  static constexpr const char* kFile = "mirlet-x11.so";
  static constexpr const char* kEntry = "mirlet_x11_module";
  using Entry = MirletX11Module;
};

struct FfmpegModule {
  static constexpr const char* kFile = "mirlet-ffmpeg.so";
  static constexpr const char* kEntry = "mirlet_ffmpeg_module";
  // An M4A file at `path`, or null with the reason in `reason` (at most `size` bytes, ended by
  // a NUL). `failed` runs at most once, on the writer's thread, when writing fails.
  mirlet_audio_file* (*create)(const char* path, int sampleRate, int channels, int bitRate,
                               mirlet_reason_fn failed, void* context, char* reason,
                               std::size_t size);
  int (*ready)(const mirlet_audio_file* file);
  void (*start)(mirlet_audio_file* file, std::int64_t time, std::int32_t timescale);
  // Copies the audio; 0 when it was not taken.
  int (*append)(mirlet_audio_file* file, const float* samples, std::int64_t frames,
                int sampleRate, int channels, std::int64_t time, std::int32_t timescale);
  void (*finish)(mirlet_audio_file* file, mirlet_done_fn done, void* context);
  void (*destroy)(mirlet_audio_file* file);
};

// The capture of what the machine plays, in the PulseAudio module.
struct PulseCaptureModule {
  static constexpr const char* kFile = "mirlet-pulse.so";
  static constexpr const char* kEntry = "mirlet_pulse_capture";
  mirlet_capture* (*create)(int sampleRate, int channels);
  // 0 once the capture runs, delivering on a thread named `threadName`; otherwise the reason.
  int (*start)(mirlet_capture* capture, const char* threadName, mirlet_audio_fn deliver,
               void* context, char* reason, std::size_t size);
  void (*stop)(mirlet_capture* capture);
  void (*destroy)(mirlet_capture* capture);
};

// The default output as the pulse module hands it over: plain values, and the name copied into
// the caller's buffer. Nothing allocated on one side of a module is freed on the other, since each
// carries its own copy of the C++ runtime.
struct MirletOutputDevice {
  std::uint32_t transport;
  int headphonesPort;  // 1 or 0
  char* name;          // the caller's buffer, of `nameCapacity` bytes; not terminated
  std::size_t nameCapacity;
  std::size_t nameLength;  // the whole name's length, also when it did not fit
};

struct PulseModule {
  static constexpr const char* kFile = "mirlet-pulse.so";
  static constexpr const char* kEntry = "mirlet_pulse_module";
  // 1 in use, 0 not, -1 when no sound server answered.
  int (*inputInUse)() noexcept;
  // 1 with `device` filled in, 0 when there is no default output, -1 when no sound server
  // answered.
  int (*defaultOutput)(MirletOutputDevice* device) noexcept;
};

}  // namespace mirlet::loadable
