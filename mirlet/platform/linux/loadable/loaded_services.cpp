#include "mirlet/platform/linux/loadable/loaded_services.hpp"

#include <mutex>
#include <span>
#include <string>

#include "mirlet/platform/linux/loadable/module_loader.hpp"
#include "mirlet/platform/linux/loadable/modules.hpp"

namespace mirlet::loadable {
namespace {

constexpr const char* kOutOfMemory = "out of memory";

const Result<const MirletXcbModule*>& xcbModule() {
  return loadedModule<XcbModule, XcbModule::Entry>();
}
const Result<const MirletX11Module*>& x11Module() {
  return loadedModule<X11Module, X11Module::Entry>();
}

class LoadedScreenAccess final : public ScreenAccess {
 public:
  bool preflight() override {
    const auto& module = xcbModule();
    return module && (*module)->displayIsReachable() != 0;
  }
  bool request() override { return preflight(); }
};

Rect rect(const MirletRect& r) { return {r.x, r.y, r.width, r.height}; }

// Copies a listing out of the module, which then frees its own.
Answer<Content> listContentOf(const MirletXcbModule& module) {
  const std::unique_ptr<MirletContent, void (*)(MirletContent*)> listed(module.listContent(),
                                                                          module.freeContent);
  if (!listed) return std::unexpected(kOutOfMemory);
  if (listed->error != nullptr) return std::unexpected(listed->error);
  Content content;
  for (const MirletWindow& w : std::span(listed->windows, listed->windowCount))
    content.windows.push_back({w.id, std::string(w.title, w.titleLength),
                               std::string(w.app, w.appLength), rect(w.frame)});
  for (const MirletDisplay& d : std::span(listed->displays, listed->displayCount))
    content.displays.push_back({d.id, rect(d.frame), d.width, d.height});
  return content;
}

// A picture made by the module, kept without a copy until the last Image sharing it goes; the
// module frees it.
Answer<Image> adopt(const MirletX11Module& module, MirletPicture* picture) {
  if (picture == nullptr) return std::unexpected(kOutOfMemory);
  std::shared_ptr<MirletPicture> owner(picture, module.freePicture);
  if (picture->error != nullptr) return std::unexpected(picture->error);
  Image image;
  image.width = picture->width;
  image.height = picture->height;
  image.bytesPerRow = picture->bytesPerRow;
  image.pixels = picture->pixels;
  image.storage = std::move(owner);
  return image;
}

class LoadedScreenCapture final : public ScreenCapture {
 public:
  Answer<Content> listContent() override {
    const auto& module = xcbModule();
    if (!module) return std::unexpected(module.error().description);
    return listContentOf(**module);
  }
  Answer<Image> captureWindow(std::uint32_t windowID, PixelSize size) override {
    const auto& module = x11Module();
    if (!module) return std::unexpected(module.error().description);
    return adopt(**module, (*module)->captureWindow(windowID, size.width, size.height));
  }
  Answer<Image> captureDisplay(const Rect& frame, PixelSize size) override {
    const auto& module = x11Module();
    if (!module) return std::unexpected(module.error().description);
    const MirletRect area{frame.x, frame.y, frame.width, frame.height};
    return adopt(**module, (*module)->captureDisplay(area, size.width, size.height));
  }
  bool writePNG(const Image& image, const std::string& path) override {
    const auto& module = x11Module();
    return module && (*module)->writePNG(image.pixels, image.width, image.height,
                                         image.bytesPerRow, path.c_str()) != 0;
  }
};

class LoadedAssetWriting final : public AssetWriting {
 public:
  Result<std::unique_ptr<AssetWriter>> makeAssetWriter(const std::string& path,
                                                       FileType type) override {
    std::call_once(made_, [this] {
      if (const auto& module = loadedModule<FfmpegModule>())
        writing_ = (*module)->makeAssetWriting();
    });
    if (!writing_) return std::unexpected(loadedModule<FfmpegModule>().error());
    return writing_->makeAssetWriter(path, type);
  }

 private:
  std::once_flag made_;
  std::unique_ptr<AssetWriting> writing_;
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

// Stands in for a stream whose module could not be loaded.
class UnavailableStream final : public CaptureStream {
 public:
  explicit UnavailableStream(Error error) : error_(std::move(error)) {}
  Result<void> addStreamOutput(std::shared_ptr<StreamOutput>, StreamOutputType,
                               const std::string&) override {
    return std::unexpected(error_);
  }
  void startCapture(Completion<void> completion) override { completion(std::unexpected(error_)); }
  void stopCapture(Completion<void> completion) override { completion({}); }

 private:
  Error error_;
};

// What the recording asks: the displays of the screen listing, and the system-audio stream.
class LoadedCaptureService final : public CaptureService {
 public:
  void getShareableContent(bool, bool, Completion<ShareableContent> completion) override {
    const auto& module = xcbModule();
    if (!module) return completion(std::unexpected(module.error()));
    auto content = listContentOf(**module);
    if (!content) return completion(failure(content.error()));
    completion(std::move(*content));
  }
  // The one stream there is records what the machine plays, whatever display it is asked for.
  std::shared_ptr<CaptureStream> makeStream(const ContentFilter&,
                                            const StreamConfiguration& configuration,
                                            std::shared_ptr<StreamDelegate> delegate) override {
    const auto& module = loadedModule<PulseModule>();
    if (!module) return std::make_shared<UnavailableStream>(module.error());
    return (*module)->makeSystemAudioStream(configuration, std::move(delegate));
  }
};

}  // namespace

std::unique_ptr<ScreenAccess> makeLoadedScreenAccess() {
  return std::make_unique<LoadedScreenAccess>();
}

std::unique_ptr<CaptureService> makeLoadedCaptureService() {
  return std::make_unique<LoadedCaptureService>();
}

std::unique_ptr<ScreenCapture> makeLoadedScreenCapture() {
  return std::make_unique<LoadedScreenCapture>();
}

std::unique_ptr<AssetWriting> makeLoadedAssetWriting() {
  return std::make_unique<LoadedAssetWriting>();
}

std::unique_ptr<AudioHardware> makeLoadedAudioHardware() {
  return std::make_unique<LoadedAudioHardware>();
}

}  // namespace mirlet::loadable
