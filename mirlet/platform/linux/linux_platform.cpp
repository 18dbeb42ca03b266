#include "mirlet/platform/linux/linux_platform.hpp"

#include "mirlet/platform/linux/loadable/loaded_services.hpp"
#include "mirlet/platform/linux/png/png_output.hpp"
#include "mirlet/platform/linux/posix/file_manager.hpp"
#include "mirlet/platform/linux/posix/run_loop.hpp"
#include "mirlet/platform/linux/x11/screen_capture.hpp"

namespace mirlet {
namespace {

// X11 has no prompt for screen capture: it is allowed when the display can be opened, and asking
// cannot change that.
class X11ScreenAccess final : public ScreenAccess {
 public:
  bool preflight() override { return x11::displayIsReachable(); }
  bool request() override { return x11::displayIsReachable(); }
};

class LinuxApplication final : public Application {
 public:
  // X11 has no dock or menu bar to stay out of, so there is nothing to do.
  void setAccessoryActivationPolicy() override {}
};

// Windows, displays and pictures come from X11; the audio stream from the sound server.
class LinuxCaptureService final : public CaptureService {
 public:
  void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                           Completion<ShareableContent> completion) override {
    x11::getShareableContent(excludingDesktopWindows, onScreenWindowsOnly, std::move(completion));
  }
  void captureImage(const ContentFilter& filter, const StreamConfiguration& configuration,
                    Completion<Image> completion) override {
    x11::captureImage(filter, configuration, std::move(completion));
  }
  std::shared_ptr<CaptureStream> makeStream(const ContentFilter&,
                                            const StreamConfiguration& configuration,
                                            std::shared_ptr<StreamDelegate> delegate) override {
    return loadable::makeLoadedSystemAudioStream(configuration, std::move(delegate));
  }
};

}  // namespace

struct LinuxPlatform::Parts {
  X11ScreenAccess screenAccess;
  LinuxApplication application;
  std::unique_ptr<RunLoop> runLoop = posix::makeRunLoop();
  std::unique_ptr<TaskExecutor> executor = posix::makeThreadExecutor();
  LinuxCaptureService captureService;
  std::unique_ptr<ImageOutput> imageOutput = png::makeImageOutput();
  std::unique_ptr<AssetWriting> assetWriting = loadable::makeLoadedAssetWriting();
  std::unique_ptr<FileManager> fileManager = posix::makeFileManager();
  std::unique_ptr<AudioHardware> audioHardware = loadable::makeLoadedAudioHardware();
};

LinuxPlatform::LinuxPlatform()
    : parts_(std::make_unique<Parts>()),
      platform_(std::make_unique<Platform>(Platform{
          parts_->screenAccess, parts_->application, *parts_->runLoop, *parts_->executor,
          parts_->captureService, *parts_->imageOutput, *parts_->assetWriting,
          *parts_->fileManager, *parts_->audioHardware})) {}

LinuxPlatform::~LinuxPlatform() = default;

}  // namespace mirlet
