#pragma once
// Everything a command may ask of the system, in one place. `main` fills it from the Linux backend;
// tests fill it with fakes.

#include "mirlet/platform/audio_devices.hpp"
#include "mirlet/platform/audio_recording.hpp"
#include "mirlet/platform/screen_access.hpp"
#include "mirlet/platform/screen_capture.hpp"
#include "mirlet/platform/stop_signals.hpp"

namespace mirlet {

struct Platform {
  ScreenAccess& screenAccess;
  ScreenCapture& screen;
  AudioDevices& audioDevices;
  AudioRecording& audioRecording;
  StopSignals& stopSignals;
};

}  // namespace mirlet
