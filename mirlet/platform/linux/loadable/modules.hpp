#pragma once
// The backend lives in loadable modules, each loaded only by the commands that use it. FFmpeg's
// libraries bring well over a hundred shared libraries with them and libpulse some thirty;
// loading them all at start-up would slow down every command several times over.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "mirlet/platform/asset_writer.hpp"
#include "mirlet/platform/capture_service.hpp"
#include "mirlet/platform/image_output.hpp"

namespace mirlet::loadable {

// Listing windows and displays needs only libxcb; pictures need Xlib, its extensions and the PNG
// encoder, about a millisecond more to load.
struct XcbModule {
  static constexpr const char* kFile = "mirlet-xcb.so";
  static constexpr const char* kEntry = "mirlet_xcb_module";
  bool (*displayIsReachable)();
  void (*getShareableContent)(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                              Completion<ShareableContent> completion);
};

struct X11Module {
  static constexpr const char* kFile = "mirlet-x11.so";
  static constexpr const char* kEntry = "mirlet_x11_module";
  void (*captureImage)(const ContentFilter& filter, const StreamConfiguration& configuration,
                       Completion<Image> completion);
  std::unique_ptr<ImageOutput> (*makeImageOutput)();
};

struct FfmpegModule {
  static constexpr const char* kFile = "mirlet-ffmpeg.so";
  static constexpr const char* kEntry = "mirlet_ffmpeg_module";
  std::unique_ptr<AssetWriting> (*makeAssetWriting)();
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
  std::shared_ptr<CaptureStream> (*makeSystemAudioStream)(const StreamConfiguration&,
                                                          std::shared_ptr<StreamDelegate>);
};

}  // namespace mirlet::loadable
