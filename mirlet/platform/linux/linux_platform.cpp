#include "mirlet/platform/linux/linux_platform.hpp"

#include "mirlet/platform/linux/loadable/loaded_audio.hpp"
#include "mirlet/platform/linux/loadable/loaded_screen.hpp"
#include "mirlet/platform/linux/posix/stop_signals.hpp"

namespace mirlet {

struct LinuxPlatform::Parts {
  std::unique_ptr<ScreenAccess> screenAccess = loadable::makeScreenAccess();
  std::unique_ptr<ScreenCapture> screen = loadable::makeScreenCapture();
  std::unique_ptr<AudioDevices> audioDevices = loadable::makeAudioDevices();
  std::unique_ptr<AudioRecording> audioRecording = loadable::makeAudioRecording();
  std::unique_ptr<StopSignals> stopSignals = posix::makeStopSignals();
};

LinuxPlatform::LinuxPlatform()
    : parts_(std::make_unique<Parts>()),
      platform_(std::make_unique<Platform>(Platform{
          *parts_->screenAccess, *parts_->screen, *parts_->audioDevices, *parts_->audioRecording,
          *parts_->stopSignals})) {}

LinuxPlatform::~LinuxPlatform() = default;

}  // namespace mirlet
