#include "mirlet/platform/linux/loadable/loaded_services.hpp"

#include <algorithm>
#include <mutex>
#include <optional>
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

}  // namespace

std::unique_ptr<ScreenAccess> makeLoadedScreenAccess() {
  return std::make_unique<LoadedScreenAccess>();
}

std::unique_ptr<ScreenCapture> makeLoadedScreenCapture() {
  return std::make_unique<LoadedScreenCapture>();
}

std::unique_ptr<AudioDevices> makeLoadedAudioDevices() {
  return std::make_unique<LoadedAudioDevices>();
}

}  // namespace mirlet::loadable
