#pragma once
// Everything a command may ask of the system, in one place. `main` fills it from the Linux backend;
// tests fill it with fakes.

#include "mirlet/platform/application.hpp"
#include "mirlet/platform/audio_devices.hpp"
#include "mirlet/platform/audio_recording.hpp"
#include "mirlet/platform/capture_service.hpp"
#include "mirlet/platform/file_manager.hpp"
#include "mirlet/platform/image_output.hpp"
#include "mirlet/platform/run_loop.hpp"
#include "mirlet/platform/screen_access.hpp"
#include "mirlet/platform/stop_signals.hpp"

namespace mirlet {

struct Platform {
  ScreenAccess& screenAccess;
  Application& application;
  RunLoop& runLoop;
  TaskExecutor& executor;
  CaptureService& captureService;
  ImageOutput& imageOutput;
  AudioRecording& audioRecording;
  FileManager& fileManager;
  AudioDevices& audioDevices;
  StopSignals& stopSignals;
};

}  // namespace mirlet
