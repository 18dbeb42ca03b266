#pragma once
// Stand-ins that load a module on first use and hand each call on to it. When a module cannot be
// loaded, each answers the way the missing service would: no display, no devices, no writer.

#include <memory>

#include "mirlet/platform/audio_devices.hpp"
#include "mirlet/platform/screen_access.hpp"
#include "mirlet/platform/screen_capture.hpp"

namespace mirlet::loadable {

// Capture is allowed when the X display named by the environment can be opened. X11 has no
// prompt, so asking changes nothing.
std::unique_ptr<ScreenAccess> makeLoadedScreenAccess();

// Windows, displays and pictures from X11, PNG files written by the same module.
std::unique_ptr<ScreenCapture> makeLoadedScreenCapture();

std::unique_ptr<AudioDevices> makeLoadedAudioDevices();

}  // namespace mirlet::loadable
