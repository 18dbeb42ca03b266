// The entry of the loadable module that carries the X11 pictures and the PNG output.

#include <memory>
#include <string>

#include "mirlet/platform/linux/loadable/screen_modules.hpp"
#include "mirlet/platform/linux/png/png_output.hpp"
#include "mirlet/platform/linux/x11/screen_capture.hpp"

namespace {

// The C view and the picture (or reason) it points into, freed together.
struct OwnedPicture {
  MirletPicture view{};
  std::string error;
  mirlet::Image image;
};

// Hands the view to the caller; the module's free function deletes the owner it points to.
MirletPicture* release(std::unique_ptr<OwnedPicture> owned) {
  owned->view.owner = owned.get();
  return &owned.release()->view;
}

MirletPicture* picture(mirlet::Result<mirlet::Image> result) {
  auto owned = std::make_unique<OwnedPicture>();
  if (!result) {
    owned->error = result.error().description;
    owned->view.error = owned->error.c_str();
  } else {
    owned->image = std::move(*result);
    owned->view = {nullptr, owned->image.width, owned->image.height, owned->image.bytesPerRow,
                   owned->image.pixels, nullptr};
  }
  return release(std::move(owned));
}

MirletPicture* captureWindow(uint32_t windowID, int64_t width, int64_t height) noexcept try {
  return picture(mirlet::x11::captureWindow(windowID, {width, height}));
} catch (...) {
  return nullptr;  // out of memory
}

MirletPicture* captureDisplay(MirletRect frame, int64_t width, int64_t height) noexcept try {
  return picture(mirlet::x11::captureDisplay({frame.x, frame.y, frame.width, frame.height},
                                             {width, height}));
} catch (...) {
  return nullptr;
}

void freePicture(MirletPicture* picture) noexcept {
  if (picture != nullptr) delete static_cast<OwnedPicture*>(picture->owner);
}

int writePNG(const uint8_t* pixels, uint32_t width, uint32_t height, size_t bytesPerRow,
             const char* path) noexcept try {
  mirlet::Image image;
  image.width = width;
  image.height = height;
  image.bytesPerRow = bytesPerRow;
  image.pixels = pixels;
  return mirlet::png::writePNG(image, path) ? 1 : 0;
} catch (...) {
  return 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const MirletX11Module* mirlet_x11_module() {
  static constexpr MirletX11Module module{&captureWindow, &captureDisplay, &freePicture,
                                          &writePNG};
  return &module;
}
