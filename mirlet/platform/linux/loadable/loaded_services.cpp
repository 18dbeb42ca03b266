#include "mirlet/platform/linux/loadable/loaded_services.hpp"

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>

#include "mirlet/platform/linux/loadable/module_loader.hpp"
#include "mirlet/platform/linux/loadable/modules.hpp"

namespace mirlet::loadable {
namespace {

class LoadedScreenAccess final : public ScreenAccess {
 public:
  bool preflight() override {
    const auto& module = loadedModule<XcbModule>();
    return module && (*module)->displayIsReachable();
  }
  bool request() override { return preflight(); }
};

class LoadedImageOutput final : public ImageOutput {
 public:
  bool writePNG(const Image& image, const std::string& to) override {
    std::call_once(made_, [this] {
      if (const auto& module = loadedModule<X11Module>()) output_ = (*module)->makeImageOutput();
    });
    return output_ && output_->writePNG(image, to);
  }

 private:
  std::once_flag made_;
  std::unique_ptr<ImageOutput> output_;
};

// The device questions through the pulse module's plain entry points: values cross the
// boundary, and the name is copied into a buffer of this side's own.
class LoadedAudioDevices final : public AudioDevices {
 public:
  std::optional<bool> inputInUse() override {
    const auto& module = loadedModule<PulseModule>();
    const int answer = module ? (*module)->inputInUse() : -1;
    if (answer < 0) return std::nullopt;
    return answer == 1;
  }
  std::optional<OutputDevice> defaultOutput() override {
    const auto& module = loadedModule<PulseModule>();
    if (!module) return std::nullopt;
    std::string name(256, '\0');
    for (int ask = 1;; ++ask) {
      MirletOutputDevice device{0, 0, name.data(), name.size(), 0};
      if ((*module)->defaultOutput(&device) != 1) return std::nullopt;
      // Names are short; one that is not is asked for again, once, with room for all of it.
      if (device.nameLength > name.size() && ask == 1) {
        name.resize(device.nameLength);
        continue;
      }
      name.resize(std::min(device.nameLength, name.size()));
      return OutputDevice{device.transport, std::move(name), device.headphonesPort != 0};
    }
  }
};

class LoadedCaptureService final : public CaptureService {
 public:
  void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                           Completion<ShareableContent> completion) override {
    const auto& module = loadedModule<XcbModule>();
    if (!module) return completion(std::unexpected(module.error()));
    (*module)->getShareableContent(excludingDesktopWindows, onScreenWindowsOnly,
                                   std::move(completion));
  }
  void captureImage(const ContentFilter& filter, const StreamConfiguration& configuration,
                    Completion<Image> completion) override {
    const auto& module = loadedModule<X11Module>();
    if (!module) return completion(std::unexpected(module.error()));
    (*module)->captureImage(filter, configuration, std::move(completion));
  }
};

}  // namespace

std::unique_ptr<ScreenAccess> makeLoadedScreenAccess() {
  return std::make_unique<LoadedScreenAccess>();
}

std::unique_ptr<CaptureService> makeLoadedCaptureService() {
  return std::make_unique<LoadedCaptureService>();
}

std::unique_ptr<ImageOutput> makeLoadedImageOutput() {
  return std::make_unique<LoadedImageOutput>();
}

std::unique_ptr<AudioDevices> makeLoadedAudioDevices() {
  return std::make_unique<LoadedAudioDevices>();
}

}  // namespace mirlet::loadable
