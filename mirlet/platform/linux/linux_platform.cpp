#include "mirlet/platform/linux/linux_platform.hpp"

#include "mirlet/platform/linux/loadable/loaded_services.hpp"
#include "mirlet/platform/linux/posix/file_manager.hpp"
#include "mirlet/platform/linux/posix/run_loop.hpp"

namespace mirlet {

struct LinuxPlatform::Parts {
  std::unique_ptr<ScreenAccess> screenAccess = loadable::makeLoadedScreenAccess();
  std::unique_ptr<ScreenCapture> screen = loadable::makeLoadedScreenCapture();
  std::unique_ptr<AudioHardware> audioHardware = loadable::makeLoadedAudioHardware();
  std::unique_ptr<RunLoop> runLoop = posix::makeRunLoop();
  std::unique_ptr<TaskExecutor> executor = posix::makeThreadExecutor();
  std::unique_ptr<CaptureService> captureService = loadable::makeLoadedCaptureService();
  std::unique_ptr<AssetWriting> assetWriting = loadable::makeLoadedAssetWriting();
  std::unique_ptr<FileManager> fileManager = posix::makeFileManager();
};

LinuxPlatform::LinuxPlatform()
    : parts_(std::make_unique<Parts>()),
      platform_(std::make_unique<Platform>(Platform{
          *parts_->screenAccess, *parts_->screen, *parts_->audioHardware, *parts_->runLoop,
          *parts_->executor, *parts_->captureService, *parts_->assetWriting,
          *parts_->fileManager})) {}

LinuxPlatform::~LinuxPlatform() = default;

}  // namespace mirlet
