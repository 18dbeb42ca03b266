#include "mirlet/platform/linux/loadable/loaded_services.hpp"

#include <mutex>

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

class LoadedAudioHardware final : public AudioHardware {
 public:
  OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               std::uint32_t qualifierSize, const void* qualifier,
                               std::uint32_t& dataSize) override {
    AudioHardware* hardware = loaded();
    if (hardware == nullptr) return kModuleMissing;
    return hardware->getPropertyDataSize(object, address, qualifierSize, qualifier, dataSize);
  }
  OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                           std::uint32_t qualifierSize, const void* qualifier,
                           std::uint32_t& dataSize, void* data) override {
    AudioHardware* hardware = loaded();
    if (hardware == nullptr) return kModuleMissing;
    return hardware->getPropertyData(object, address, qualifierSize, qualifier, dataSize, data);
  }

 private:
  static constexpr OSStatus kModuleMissing = fourCharCode("!mod");
  AudioHardware* loaded() {
    std::call_once(made_, [this] {
      if (const auto& module = loadedModule<PulseModule>())
        hardware_ = (*module)->makeAudioHardware();
    });
    return hardware_.get();
  }
  std::once_flag made_;
  std::unique_ptr<AudioHardware> hardware_;
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

std::unique_ptr<AudioHardware> makeLoadedAudioHardware() {
  return std::make_unique<LoadedAudioHardware>();
}

}  // namespace mirlet::loadable
