#pragma once
// The backend lives in loadable modules, each loaded only by the commands that use it. FFmpeg's
// libraries bring well over a hundred shared libraries with them and libpulse some thirty;
// loading them all at start-up would slow down every command several times over.

#include <memory>

#include "mirlet/platform/asset_writer.hpp"
#include "mirlet/platform/audio_hardware.hpp"
#include "mirlet/platform/capture_service.hpp"
#include "mirlet/platform/linux/loadable/screen_modules.hpp"

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
  std::unique_ptr<AssetWriting> (*makeAssetWriting)();
};

struct PulseModule {
  static constexpr const char* kFile = "mirlet-pulse.so";
  static constexpr const char* kEntry = "mirlet_pulse_module";
  std::unique_ptr<AudioHardware> (*makeAudioHardware)();
  std::shared_ptr<CaptureStream> (*makeSystemAudioStream)(const StreamConfiguration&,
                                                          std::shared_ptr<StreamDelegate>);
};

}  // namespace mirlet::loadable
