#pragma once
// The backend parts that live in loadable modules. FFmpeg's libraries bring well over a hundred
// shared libraries with them and libpulse some thirty; loading them at start-up would slow down
// every command, so each is loaded only by the commands that use it.

#include <memory>

#include "mirlet/platform/asset_writer.hpp"
#include "mirlet/platform/audio_hardware.hpp"
#include "mirlet/platform/capture_service.hpp"

namespace mirlet::loadable {

struct FfmpegModule {
  std::unique_ptr<AssetWriting> (*makeAssetWriting)();
};

struct PulseModule {
  std::unique_ptr<AudioHardware> (*makeAudioHardware)();
  std::shared_ptr<CaptureStream> (*makeSystemAudioStream)(const StreamConfiguration&,
                                                          std::shared_ptr<StreamDelegate>);
};

inline constexpr const char* kFfmpegModuleFile = "mirlet-ffmpeg.so";
inline constexpr const char* kFfmpegModuleEntry = "mirlet_ffmpeg_module";
inline constexpr const char* kPulseModuleFile = "mirlet-pulse.so";
inline constexpr const char* kPulseModuleEntry = "mirlet_pulse_module";

}  // namespace mirlet::loadable
