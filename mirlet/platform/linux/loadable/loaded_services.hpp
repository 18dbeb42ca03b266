#pragma once
// Stand-ins that load a module on first use and hand each call on to it. When a module cannot be
// loaded, each answers the way the missing service would: no display, no devices, no writer.

#include <memory>

#include "mirlet/platform/audio_devices.hpp"
#include "mirlet/platform/capture_service.hpp"
#include "mirlet/platform/image_output.hpp"
#include "mirlet/platform/screen_access.hpp"

namespace mirlet::loadable {

// Capture is allowed when the X display named by the environment can be opened. X11 has no
// prompt, so asking changes nothing.
std::unique_ptr<ScreenAccess> makeLoadedScreenAccess();

// Windows, displays and pictures from X11.
std::unique_ptr<CaptureService> makeLoadedCaptureService();

std::unique_ptr<ImageOutput> makeLoadedImageOutput();
std::unique_ptr<AudioDevices> makeLoadedAudioDevices();

}  // namespace mirlet::loadable
