#pragma once
// Everything a command may ask of the system, in one place. `main` fills it from the Linux backend;
// tests fill it with fakes.

#include "mirlet/platform/asset_writer.hpp"
#include "mirlet/platform/audio_hardware.hpp"
#include "mirlet/platform/capture_service.hpp"
#include "mirlet/platform/file_manager.hpp"
#include "mirlet/platform/run_loop.hpp"
#include "mirlet/platform/screen_access.hpp"
#include "mirlet/platform/screen_capture.hpp"

namespace mirlet {

struct Platform {
  ScreenAccess& screenAccess;
  ScreenCapture& screen;
  AudioHardware& audioHardware;
  // Used only by `recordAudio` and its recorder, and only until the recording gets seams of its
  // own: the main thread's signal loop, worker threads, the stream and the file.
  RunLoop& runLoop;
  TaskExecutor& executor;
  CaptureService& captureService;
  AssetWriting& assetWriting;
  FileManager& fileManager;
};

}  // namespace mirlet
