#pragma once
// Loading the backend's modules (module.h), each at its first use.

#include <string>

#include "mirlet/platform/linux/module.h"
#include "mirlet/platform/result.hpp"

namespace mirlet::loadable {

// Loads `file` (beside the executable in a build folder, in lib/mirlet beside bin once installed)
// and gives the address of its `entry`. The module stays loaded for the rest of the process.
Result<const void*> loadModuleEntry(const std::string& file, const char* entry);

// The modules, each with its file, the function it exports and the table that function gives.
struct X11Module {
  static constexpr const char* kFile = "mirlet-x11.so";
  static constexpr const char* kEntry = "mirlet_x11_entry";
  using Table = mirlet_screen_module;
};
struct X11PicturesModule {
  static constexpr const char* kFile = "mirlet-x11-pictures.so";
  static constexpr const char* kEntry = "mirlet_x11_pictures_entry";
  using Table = mirlet_screen_module;
};
struct WaylandModule {
  static constexpr const char* kFile = "mirlet-wayland.so";
  static constexpr const char* kEntry = "mirlet_wayland_entry";
  using Table = mirlet_screen_module;
};
struct ShellModule {
  static constexpr const char* kFile = "mirlet-shell.so";
  static constexpr const char* kEntry = "mirlet_shell_entry";
  using Table = mirlet_screen_module;
};
struct PngModule {
  static constexpr const char* kFile = "mirlet-png.so";
  static constexpr const char* kEntry = "mirlet_png_entry";
  using Table = mirlet_png_module;
};
struct PulseModule {
  static constexpr const char* kFile = "mirlet-pulse.so";
  static constexpr const char* kEntry = "mirlet_pulse_entry";
  using Table = mirlet_sound_module;
};
struct PulseCaptureModule {
  static constexpr const char* kFile = "mirlet-pulse-capture.so";
  static constexpr const char* kEntry = "mirlet_pulse_capture_entry";
  using Table = mirlet_capture_module;
};
struct FfmpegModule {
  static constexpr const char* kFile = "mirlet-ffmpeg.so";
  static constexpr const char* kEntry = "mirlet_ffmpeg_entry";
  using Table = mirlet_file_module;
};

// The table of the module that `Module` describes, loaded at the first call; later calls give
// the same outcome.
template <class Module>
const Result<const typename Module::Table*>& loadedModule() {
  using Table = typename Module::Table;
  static const Result<const Table*> module = []() -> Result<const Table*> {
    const auto address = loadModuleEntry(Module::kFile, Module::kEntry);
    if (!address) return failure(address.error());
    using Entry = const Table* (*)();
    return reinterpret_cast<Entry>(const_cast<void*>(*address))();
  }();
  return module;
}

}  // namespace mirlet::loadable
