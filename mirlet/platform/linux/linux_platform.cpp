#include "mirlet/platform/linux/linux_platform.hpp"

#include "mirlet/platform/linux/loadable/loaded_audio.hpp"
#include "mirlet/platform/linux/loadable/loaded_services.hpp"
#include "mirlet/platform/linux/posix/file_manager.hpp"
#include "mirlet/platform/linux/posix/run_loop.hpp"
#include "mirlet/platform/linux/posix/stop_signals.hpp"

namespace mirlet {
namespace {

class LinuxApplication final : public Application {
 public:
  // X11 has no dock or menu bar to stay out of, so there is nothing to do.
  void setAccessoryActivationPolicy() override {}
};

}  // namespace

struct LinuxPlatform::Parts {
  std::unique_ptr<ScreenAccess> screenAccess = loadable::makeLoadedScreenAccess();
  LinuxApplication application;
  std::unique_ptr<RunLoop> runLoop = posix::makeRunLoop();
  std::unique_ptr<TaskExecutor> executor = posix::makeThreadExecutor();
  std::unique_ptr<CaptureService> captureService = loadable::makeLoadedCaptureService();
  std::unique_ptr<ImageOutput> imageOutput = loadable::makeLoadedImageOutput();
  std::unique_ptr<AudioRecording> audioRecording = loadable::makeLoadedAudioRecording();
  std::unique_ptr<FileManager> fileManager = posix::makeFileManager();
  std::unique_ptr<AudioDevices> audioDevices = loadable::makeLoadedAudioDevices();
  std::unique_ptr<StopSignals> stopSignals = posix::makeStopSignals();
};

LinuxPlatform::LinuxPlatform()
    : parts_(std::make_unique<Parts>()),
      platform_(std::make_unique<Platform>(Platform{
          *parts_->screenAccess, parts_->application, *parts_->runLoop, *parts_->executor,
          *parts_->captureService, *parts_->imageOutput, *parts_->audioRecording,
          *parts_->fileManager, *parts_->audioDevices, *parts_->stopSignals})) {}

LinuxPlatform::~LinuxPlatform() = default;

}  // namespace mirlet
