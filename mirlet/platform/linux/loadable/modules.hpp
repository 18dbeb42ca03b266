#pragma once
// The backend lives in loadable modules, each loaded only by the commands that use it. FFmpeg's
// libraries bring well over a hundred shared libraries with them and libpulse some thirty;
// loading them all at start-up would slow down every command several times over.

#include <memory>

#include "mirlet/platform/asset_writer.hpp"
#include "mirlet/platform/audio_hardware.hpp"
#include "mirlet/platform/capture_service.hpp"
#include "mirlet/platform/image_output.hpp"

namespace mirlet::loadable {

// Listing windows and displays needs only libxcb; pictures need Xlib, its extensions and the PNG
// encoder, about a millisecond more to load.
struct XcbModule {
  bool (*displayIsReachable)();
  void (*getShareableContent)(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                              Completion<ShareableContent> completion);
};

struct X11Module {
  void (*captureImage)(const ContentFilter& filter, const StreamConfiguration& configuration,
                       Completion<Image> completion);
  std::unique_ptr<ImageOutput> (*makeImageOutput)();
};

struct FfmpegModule {
  std::unique_ptr<AssetWriting> (*makeAssetWriting)();
};

struct PulseModule {
  std::unique_ptr<AudioHardware> (*makeAudioHardware)();
  std::shared_ptr<CaptureStream> (*makeSystemAudioStream)(const StreamConfiguration&,
                                                          std::shared_ptr<StreamDelegate>);
};

inline constexpr const char* kXcbModuleFile = "mirlet-xcb.so";
inline constexpr const char* kXcbModuleEntry = "mirlet_xcb_module";
inline constexpr const char* kX11ModuleFile = "mirlet-x11.so";
inline constexpr const char* kX11ModuleEntry = "mirlet_x11_module";
inline constexpr const char* kFfmpegModuleFile = "mirlet-ffmpeg.so";
inline constexpr const char* kFfmpegModuleEntry = "mirlet_ffmpeg_module";
inline constexpr const char* kPulseModuleFile = "mirlet-pulse.so";
inline constexpr const char* kPulseModuleEntry = "mirlet_pulse_module";

}  // namespace mirlet::loadable
